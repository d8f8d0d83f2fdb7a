#pragma once
// A blocking WebSocket client for tests: connects over loopback with chosen handshake headers and
// gives up any wait after a time limit, so a silent server fails a test instead of hanging it.

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velopad::test {

using namespace std::chrono_literals;

class WsClient {
  public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    explicit WsClient(std::uint16_t port, const Headers& headers = {}) {
        namespace websocket = boost::beast::websocket;
        ws_.next_layer().connect({boost::asio::ip::make_address("127.0.0.1"), port});
        ws_.set_option(websocket::stream_base::decorator([headers](websocket::request_type& req) {
            for (const auto& [name, value] : headers) req.insert(name, value);
        }));
        ws_.control_callback([this](websocket::frame_type kind, boost::beast::string_view) {
            if (kind == websocket::frame_type::pong) ++pongs_;
        });
        ws_.read_message_max(64 * 1024 * 1024);
        ws_.handshake("127.0.0.1:" + std::to_string(port), "/");
    }
    void send(const std::string& text) { write(text, false); }
    void sendBinary(const std::string& bytes) { write(bytes, true); }
    void ping() { ws_.ping({}); }

    // The next message, or none when nothing arrived in time or the connection ended.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = 2s) {
        if (closed_ || timedOut_) return std::nullopt;
        std::optional<std::string> result;
        bool done = false;
        ws_.async_read(buffer_, [&](boost::system::error_code error, std::size_t) {
            done = true;
            if (error) {
                if (error != boost::asio::error::operation_aborted) closed_ = true;
                return;
            }
            result = boost::beast::buffers_to_string(buffer_.data());
            buffer_.consume(buffer_.size());
        });
        if (!settle(timeout, done)) timedOut_ = !result;
        return result;
    }
    // True once the server has closed the connection (waits up to the timeout).
    bool closedByServer(std::chrono::milliseconds timeout = 2s) {
        while (!closed_ && !timedOut_) receive(timeout);
        return closed_;
    }
    int pongsReceived() const { return pongs_; }

  private:
    void write(const std::string& bytes, bool binary) {
        ws_.binary(binary);
        boost::system::error_code result = boost::asio::error::timed_out;
        bool done = false;
        ws_.async_write(boost::asio::buffer(bytes),
                        [&](boost::system::error_code error, std::size_t) {
                            done = true;
                            result = error;
                        });
        if (!settle(5s, done)) closed_ = true;
        if (result) {
            closed_ = true;  // a Beast stream whose write failed must not be read again
            throw boost::system::system_error(result, "websocket write");
        }
    }

    // Runs the pending operation for up to `timeout`; when it has not finished by then, closes
    // the socket so that nothing of the stream is left pending. True when it finished in time.
    bool settle(std::chrono::milliseconds timeout, const bool& done) {
        context_.restart();
        context_.run_for(timeout);
        if (done) return true;
        boost::system::error_code ignored;
        ws_.next_layer().close(ignored);
        context_.restart();
        context_.run_for(1s);
        return false;
    }

    boost::asio::io_context context_;
    boost::beast::websocket::stream<boost::asio::ip::tcp::socket> ws_{context_};
    boost::beast::flat_buffer buffer_;
    bool closed_ = false;    // the server ended the connection
    bool timedOut_ = false;  // a receive gave up; the stream cannot be read again
    int pongs_ = 0;
};

}  // namespace velopad::test

#include "tests/support/ws_client.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <stdexcept>

namespace velopad::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;

struct WsClient::Impl {
    asio::io_context context;
    websocket::stream<asio::ip::tcp::socket> ws{context};
    beast::flat_buffer buffer;
    bool closed = false;    // the server ended the connection
    bool timedOut = false;  // a receive gave up; the stream cannot be read again
    int pongs = 0;
};

WsClient::WsClient(std::uint16_t port, const Headers& headers) : impl_(std::make_unique<Impl>()) {
    auto& socket = impl_->ws.next_layer();
    socket.connect({asio::ip::make_address("127.0.0.1"), port});
    impl_->ws.set_option(websocket::stream_base::decorator([headers](websocket::request_type& req) {
        for (const auto& [name, value] : headers) req.insert(name, value);
    }));
    impl_->ws.control_callback(
        [impl = impl_.get()](websocket::frame_type kind, beast::string_view) {
            if (kind == websocket::frame_type::pong) ++impl->pongs;
        });
    impl_->ws.read_message_max(64 * 1024 * 1024);
    impl_->ws.handshake("127.0.0.1:" + std::to_string(port), "/");
}

WsClient::~WsClient() {
    boost::system::error_code ignored;
    impl_->ws.next_layer().close(ignored);
}

// Writes one message, giving up (and closing the connection) after a few seconds, so that a
// peer that stops reading fails the test instead of blocking it.
static void writeBounded(WsClient::Impl& impl, const std::string& bytes, bool binary) {
    impl.ws.binary(binary);
    boost::system::error_code result = asio::error::timed_out;
    bool done = false;
    impl.ws.async_write(asio::buffer(bytes), [&](boost::system::error_code error, std::size_t) {
        done = true;
        result = error;
    });
    impl.context.restart();
    impl.context.run_for(std::chrono::seconds(5));
    if (!done) {
        boost::system::error_code ignored;
        impl.ws.next_layer().close(ignored);
        impl.context.restart();
        impl.context.run_for(std::chrono::seconds(1));
        impl.closed = true;
    }
    if (result) {
        // The connection has ended (the peer reset it, or it was closed above): a Beast stream
        // whose write failed must not be read again.
        impl.closed = true;
        throw boost::system::system_error(result, "websocket write");
    }
}

void WsClient::send(const std::string& text) { writeBounded(*impl_, text, false); }

void WsClient::sendBinary(const std::string& bytes) { writeBounded(*impl_, bytes, true); }

void WsClient::ping() { impl_->ws.ping({}); }

std::optional<std::string> WsClient::receive(std::chrono::milliseconds timeout) {
    if (impl_->closed || impl_->timedOut) return std::nullopt;
    std::optional<std::string> result;
    bool done = false;
    impl_->ws.async_read(impl_->buffer, [&](boost::system::error_code error, std::size_t) {
        done = true;
        if (error) {
            if (error != asio::error::operation_aborted) impl_->closed = true;
            return;
        }
        result = beast::buffers_to_string(impl_->buffer.data());
        impl_->buffer.consume(impl_->buffer.size());
    });
    impl_->context.restart();
    impl_->context.run_for(timeout);
    if (!done) {
        // Give up waiting: close the socket so that nothing of the stream is left pending.
        boost::system::error_code ignored;
        impl_->ws.next_layer().close(ignored);
        impl_->context.restart();
        impl_->context.run_for(std::chrono::seconds(1));
        impl_->timedOut = !result;
    }
    return result;
}

bool WsClient::closedByServer(std::chrono::milliseconds timeout) {
    while (!impl_->closed && !impl_->timedOut) {
        receive(timeout);
    }
    return impl_->closed;
}

int WsClient::pongsReceived() const { return impl_->pongs; }

}  // namespace velopad::test

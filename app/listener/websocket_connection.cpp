#include "app/listener/websocket_connection.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace velopad {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace http = beast::http;
using asio::as_tuple;

struct WebSocketConnection::Stream {
    explicit Stream(asio::ip::tcp::socket socket) : ws(std::move(socket)) {}
    websocket::stream<beast::tcp_stream> ws;
    beast::flat_buffer readBuffer;
};

WebSocketConnection::WebSocketConnection(asio::ip::tcp::socket socket, Id id,
                                         ConnectionLimits limits)
    : stream_(std::make_unique<Stream>(std::move(socket))), id_(id), limits_(limits) {}

WebSocketConnection::~WebSocketConnection() = default;

Task<bool> WebSocketConnection::handshake() {
    auto& ws = stream_->ws;
    auto& tcp = beast::get_lowest_layer(ws);
    tcp.expires_after(limits_.handshakeTimeout);

    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(0);
    beast::flat_buffer buffer(32 * 1024);
    auto [readError, bytes] =
        co_await http::async_read(tcp, buffer, parser, as_tuple(asio::use_awaitable));
    (void)bytes;
    if (readError || !websocket::is_upgrade(parser.get())) {
        cancel();
        co_return false;
    }
    for (const auto& field : parser.get()) {
        headers_.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }

    tcp.expires_never();
    ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws.read_message_max(limits_.maxMessageBytes);
    ws.auto_fragment(false);
    ws.text(true);
    auto [acceptError] = co_await ws.async_accept(parser.release(), as_tuple(asio::use_awaitable));
    if (acceptError) {
        cancel();
        co_return false;
    }
    co_return true;
}

Task<std::optional<std::string>> WebSocketConnection::receive() {
    auto& buffer = stream_->readBuffer;
    auto [error, bytes] = co_await stream_->ws.async_read(buffer, as_tuple(asio::use_awaitable));
    (void)bytes;
    if (error) {
        cancel();
        co_return std::nullopt;
    }
    std::string message = beast::buffers_to_string(buffer.data());
    buffer.consume(buffer.size());
    if (buffer.capacity() > 64 * 1024) buffer.shrink_to_fit();
    co_return message;
}

void WebSocketConnection::send(std::shared_ptr<const std::string> text) {
    if (cancelled_) return;
    queuedBytes_ += text->size();
    if (queuedBytes_ > limits_.maxQueuedBytes) {
        cancel();
        return;
    }
    queue_.push_back(std::move(text));
    if (!writing_) {
        writing_ = true;
        asio::co_spawn(
            stream_->ws.get_executor(),
            [self = shared_from_this()]() { return self->writeQueued(); }, asio::detached);
    }
}

Task<void> WebSocketConnection::writeQueued() {
    while (!queue_.empty() && !cancelled_) {
        auto text = queue_.front();
        auto [error, written] =
            co_await stream_->ws.async_write(asio::buffer(*text), as_tuple(asio::use_awaitable));
        (void)written;
        if (cancelled_) break;  // cancel() has emptied the queue meanwhile
        if (error) {
            cancel();
            break;
        }
        queuedBytes_ -= text->size();
        queue_.pop_front();
    }
    writing_ = false;
}

void WebSocketConnection::cancel() {
    if (cancelled_) return;
    cancelled_ = true;
    queue_.clear();
    queuedBytes_ = 0;
    beast::error_code ignored;
    auto& socket = beast::get_lowest_layer(stream_->ws).socket();
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

bool WebSocketConnection::isOpen() const { return !cancelled_; }

}  // namespace velopad

#include "app/listener/websocket_connection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <boost/asio/as_tuple.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <boost/beast/websocket/stream.hpp>

#include "app/listener/handshake_origin.h"

namespace velopad {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace http = beast::http;
using asio::as_tuple;

namespace {

// Probes a silent peer after `keepaliveIdle`, then every `keepaliveInterval`; after
// `keepaliveProbes` unanswered probes (or as long with unacknowledged data) the system closes
// the connection and the pending read ends.
void enableKeepalive(asio::ip::tcp::socket& socket, const ConnectionLimits& limits) {
    const int fd = socket.native_handle();
    const int on = 1;
    const int idle = static_cast<int>(limits.keepaliveIdle.count());
    const int interval = static_cast<int>(limits.keepaliveInterval.count());
    const int probes = limits.keepaliveProbes;
    const unsigned userTimeout = static_cast<unsigned>((idle + interval * probes) * 1000);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

}  // namespace

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
    const auto deadline = std::chrono::steady_clock::now() + limits_.handshakeTimeout;
    tcp.expires_at(deadline);

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
    const auto& request = parser.get();
    if (!isHandshakeOriginAllowed(request[http::field::origin], request[http::field::host])) {
        co_await refuse(http::status::forbidden, request.version());
        co_return false;
    }
    for (const auto& field : request) {
        headers_.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }

    // From here the WebSocket layer keeps time: the rest of the handshake is bounded, an idle
    // connection is not (a phone in the background may stay silent for hours). Peers that
    // vanished are found by TCP keepalive instead.
    tcp.expires_never();
    websocket::stream_base::timeout timeouts{};
    timeouts.handshake_timeout = std::max<std::chrono::steady_clock::duration>(
        deadline - std::chrono::steady_clock::now(), std::chrono::milliseconds(1));
    timeouts.idle_timeout = websocket::stream_base::none();
    timeouts.keep_alive_pings = false;
    ws.set_option(timeouts);
    enableKeepalive(tcp.socket(), limits_);
    ws.read_message_max(limits_.maxMessageBytes);
    ws.auto_fragment(false);
    ws.text(true);
    auto [acceptError] = co_await ws.async_accept(parser.release(), as_tuple(asio::use_awaitable));
    if (acceptError) {
        cancel();
        co_return false;
    }
    timeouts.handshake_timeout = limits_.handshakeTimeout;  // now bounds a closing handshake
    ws.set_option(timeouts);
    co_return true;
}

Task<void> WebSocketConnection::refuse(http::status status, unsigned version) {
    http::response<http::string_body> response{status, version};
    response.set(http::field::connection, "close");
    response.keep_alive(false);
    response.prepare_payload();
    auto [error, written] = co_await http::async_write(beast::get_lowest_layer(stream_->ws),
                                                       response, as_tuple(asio::use_awaitable));
    (void)error;
    (void)written;
    cancel();
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
        writeFront();
    }
}

// A plain completion handler rather than a coroutine: one reply costs one write operation.
void WebSocketConnection::writeFront() {
    stream_->ws.async_write(asio::buffer(*queue_.front()),
                            [self = shared_from_this()](beast::error_code error, std::size_t) {
                                self->frontWritten(error);
                            });
}

void WebSocketConnection::frontWritten(beast::error_code error) {
    if (cancelled_) {  // cancel() has emptied the queue meanwhile
        writing_ = false;
        return;
    }
    if (error) {
        writing_ = false;
        cancel();
        return;
    }
    queuedBytes_ -= queue_.front()->size();
    queue_.pop_front();
    if (queue_.empty()) {
        writing_ = false;
    } else {
        writeFront();
    }
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

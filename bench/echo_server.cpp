#include "bench/echo_server.h"

#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace velopad::bench {
namespace {

namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

Task<void> echoSession(tcp::socket socket) {
    websocket::stream<beast::tcp_stream> ws(std::move(socket));
    auto [acceptError] = co_await ws.async_accept(asio::as_tuple(asio::use_awaitable));
    if (acceptError) co_return;
    beast::flat_buffer buffer;
    for (;;) {
        auto [readError, n] = co_await ws.async_read(buffer, asio::as_tuple(asio::use_awaitable));
        if (readError) co_return;
        ws.text(ws.got_text());
        auto [writeError, m] =
            co_await ws.async_write(buffer.data(), asio::as_tuple(asio::use_awaitable));
        if (writeError) co_return;
        buffer.consume(n);
        (void)m;
    }
}

}  // namespace

Task<void> echoServer(tcp::acceptor& acceptor) {
    for (;;) {
        auto [error, socket] = co_await acceptor.async_accept(asio::as_tuple(asio::use_awaitable));
        if (error) co_return;
        asio::co_spawn(acceptor.get_executor(), echoSession(std::move(socket)), asio::detached);
    }
}

}  // namespace velopad::bench

#pragma once
// One accepted phone connection: the WebSocket handshake (with this connection's own headers),
// receipt of one complete message at a time, and a bounded queue of outgoing text frames.

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agent_core/async.h"

namespace velopad {

using HandshakeHeaders = std::vector<std::pair<std::string, std::string>>;

struct ConnectionLimits {
    std::size_t maxMessageBytes = 1024 * 1024;      // no phone message comes near this
    std::size_t maxQueuedBytes = 16 * 1024 * 1024;  // a peer that stops reading is dropped
    std::chrono::seconds handshakeTimeout{10};      // from accept to a finished handshake
    std::chrono::seconds keepaliveIdle{60};         // TCP keepalive: first probe after silence
    std::chrono::seconds keepaliveInterval{10};     // then one probe this often
    int keepaliveProbes = 6;                        // unanswered probes before the peer is gone
};

class WebSocketConnection : public std::enable_shared_from_this<WebSocketConnection> {
  public:
    using Id = std::uint64_t;

    WebSocketConnection(asio::ip::tcp::socket socket, Id id, ConnectionLimits limits);
    ~WebSocketConnection();
    WebSocketConnection(const WebSocketConnection&) = delete;
    WebSocketConnection& operator=(const WebSocketConnection&) = delete;

    Id id() const { return id_; }

    // Reads the HTTP upgrade request, keeps its headers and accepts the WebSocket handshake.
    // Returns false when the peer went away or did not speak WebSocket in time.
    Task<bool> handshake();
    const HandshakeHeaders& handshakeHeaders() const { return headers_; }

    // The next complete message (text or binary alike), or nothing once the connection has ended.
    Task<std::optional<std::string>> receive();

    // Queues one text frame; frames go out in the order they were queued. Never blocks.
    void send(std::shared_ptr<const std::string> text);

    // Closes the socket at once; a pending receive ends.
    void cancel();
    bool isOpen() const;

  private:
    void writeFront();
    void frontWritten(boost::system::error_code error);
    // Answers the upgrade request with a plain HTTP status and closes the connection.
    Task<void> refuse(boost::beast::http::status status, unsigned version);

    struct Stream;
    std::unique_ptr<Stream> stream_;
    Id id_;
    ConnectionLimits limits_;
    HandshakeHeaders headers_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    std::size_t queuedBytes_ = 0;
    bool writing_ = false;
    bool cancelled_ = false;
};

}  // namespace velopad

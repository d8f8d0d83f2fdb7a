#pragma once
// The agent's only network endpoint: a WebSocket server on the Harborlink port, advertised over
// DNS-SD, with its running state, last error, port-conflict retries and the set of connections
// that receive deck pushes. An actor: every field is touched only on its strand.

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "agent_core/async.h"
#include "app/listener/listener_service_error.h"
#include "app/listener/message_routing.h"
#include "app/listener/service_advertising.h"
#include "app/listener/websocket_connection.h"

namespace velopad {

enum class ListenerStateKind { setup, waiting, ready, failed, cancelled };

struct ListenerState {
    ListenerStateKind kind = ListenerStateKind::setup;
    std::error_code error;
};

struct ListenerOptions {
    std::uint16_t port = 9847;
    std::function<std::string()> serviceName = [] { return std::string("Velopad Mac"); };
    ServiceAdvertising* advertiser = nullptr;
    ConnectionLimits limits;
    // Connections whose handshake presented a paired device's token: far above one user's
    // phones, so they always find a place.
    std::size_t maxConnections = 128;
    // Everything else (handshakes in progress, peers without a paired token) shares a few
    // places; when a new one needs a place, the oldest of the peer holding the most goes.
    std::size_t maxUnpairedConnections = 8;
    // Messages a connection may have waiting while its current request is carried out.
    std::size_t maxPendingMessages = 32;
    int maxPortConflictRetries = 8;
    std::chrono::milliseconds portConflictRetryDelay{400};
};

struct ListenerStatus {
    bool isRunning = false;
    std::optional<std::string> lastError;
    std::optional<std::string> shortcutCoachMessage;
    std::size_t pushConnectionCount = 0;
    int portConflictRetries = 0;
};

std::string portConflictMessage(std::uint16_t port);

class ListenerService : public std::enable_shared_from_this<ListenerService> {
  public:
    static std::shared_ptr<ListenerService> create(Executor executor, MessageRouting& routing,
                                                   ListenerOptions options = {});

    // Opens the listener; ready or failed arrives later through handleListenerState.
    // Throws ListenerServiceException (alreadyRunning) or std::system_error.
    Task<void> start();
    // Closes the listener and forgets the push connections; accepted connections stay open.
    Task<void> stop();
    Task<void> retryStartAfterPortConflict();

    Task<ListenerStatus> status();
    Task<void> resetPortConflictRetries();
    Task<void> clearLastError();
    Task<void> clearShortcutCoachMessage();

    // Sends one "decks.snapshot" to every push connection whose token is still paired.
    Task<void> pushDecks();

    // The port actually bound (useful when constructed with port 0), or 0 while not listening.
    Task<std::uint16_t> boundPort();

    // Closes the listener and every connection: for the end of the process.
    Task<void> shutdown();

    const Strand& strand() const { return strand_; }

  private:
    ListenerService(Executor executor, MessageRouting& routing, ListenerOptions options);

    struct PushConnection {
        std::weak_ptr<WebSocketConnection> connection;
        std::string token;
    };

    Task<void> startOnStrand();
    void stopOnStrand();
    void handleListenerState(std::uint64_t generation, const ListenerState& state);
    void schedulePortConflictRetry();
    Task<void> runListener(std::uint64_t generation,
                           std::shared_ptr<asio::ip::tcp::acceptor> acceptor, bool dualStack);
    Task<void> serveConnection(asio::ip::tcp::socket socket);
    struct Inbox;
    // Answers the messages `inbox` holds, in order, until it is empty.
    Task<void> handleMessages(std::shared_ptr<WebSocketConnection> connection,
                              std::shared_ptr<Inbox> inbox, std::optional<std::string> token);
    // Makes room for one more unpaired connection; false when none can be made.
    bool admitUnpaired(const std::string& peer);

    Strand strand_;
    MessageRouting& routing_;
    ListenerOptions options_;

    std::shared_ptr<asio::ip::tcp::acceptor> listener_;
    std::uint64_t generation_ = 0;  // identifies the current listener; older ones are ignored
    std::uint64_t stopCount_ = 0;   // push membership decided before a stop is not kept
    std::uint16_t boundPort_ = 0;
    bool isRunning_ = false;
    std::optional<std::string> lastError_;
    int portConflictRetries_ = 0;
    std::shared_ptr<asio::steady_timer> portConflictRetryTimer_;
    bool shutDown_ = false;  // after shutdown nothing opens the port again

    struct ConnectionEntry {
        std::weak_ptr<WebSocketConnection> connection;
        std::string peer;     // the remote address
        bool paired = false;  // its handshake presented a paired device's token
    };

    WebSocketConnection::Id nextConnectionId_ = 1;  // ids grow with age
    std::map<WebSocketConnection::Id, ConnectionEntry> connections_;
    std::map<WebSocketConnection::Id, PushConnection> pushConnections_;
};

}  // namespace velopad

#include "app/listener/listener_service.h"

#include <algorithm>
#include <boost/asio/as_tuple.hpp>
#include <boost/asio/detached.hpp>
#include <boost/asio/experimental/channel.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <cerrno>
#include <deque>
#include <set>

#include "agent_core/error_description.h"
#include "protocol/websocket_auth.h"

namespace velopad {

using asio::as_tuple;
using tcp = asio::ip::tcp;

std::string portConflictMessage(std::uint16_t port) {
    return "Port " + std::to_string(port) +
           " is already in use. Quit the other Velopad Agent first.";
}

namespace {

bool isAddressInUse(const std::error_code& error) {
    return error == std::errc::address_in_use ||
           (error.category() == boost::system::system_category() && error.value() == EADDRINUSE);
}

bool isTransientAcceptError(const boost::system::error_code& error) {
    return error == asio::error::connection_aborted || error == asio::error::no_descriptors ||
           error.value() == ENFILE || error.value() == ENOBUFS || error.value() == ENOMEM ||
           error == asio::error::connection_reset;
}

// Opens a dual-stack socket where the system offers IPv6, else IPv4 only.
std::shared_ptr<tcp::acceptor> openAcceptor(const Strand& strand, tcp& protocol) {
    auto acceptor = std::make_shared<tcp::acceptor>(strand);
    boost::system::error_code error;
    acceptor->open(tcp::v6(), error);
    if (!error) {
        acceptor->set_option(asio::ip::v6_only(false), error);
    }
    if (error) {
        acceptor = std::make_shared<tcp::acceptor>(strand);
        acceptor->open(tcp::v4());  // throws the platform's error
        protocol = tcp::v4();
    } else {
        protocol = tcp::v6();
    }
    acceptor->set_option(tcp::acceptor::reuse_address(true));
    return acceptor;
}

}  // namespace

std::shared_ptr<ListenerService> ListenerService::create(Executor executor, MessageRouting& routing,
                                                         ListenerOptions options) {
    return std::shared_ptr<ListenerService>(
        new ListenerService(std::move(executor), routing, std::move(options)));
}

ListenerService::ListenerService(Executor executor, MessageRouting& routing,
                                 ListenerOptions options)
    : strand_(asio::make_strand(std::move(executor))),
      routing_(routing),
      options_(std::move(options)) {}

Task<void> ListenerService::start() { co_await onStrand(strand_, startOnStrand()); }

Task<void> ListenerService::startOnStrand() {
    if (shutDown_) co_return;
    if (listener_) {
        if (isRunning_) throw ListenerServiceException(ListenerServiceError::alreadyRunning);
        boost::system::error_code ignored;
        listener_->close(ignored);
        listener_.reset();
    }
    tcp protocol = tcp::v6();
    auto acceptor = openAcceptor(strand_, protocol);
    listener_ = acceptor;
    isRunning_ = false;
    lastError_.reset();
    const auto generation = ++generation_;
    asio::co_spawn(strand_, runListener(generation, acceptor, protocol == tcp::v6()),
                   asio::detached);
    co_return;
}

Task<void> ListenerService::runListener(std::uint64_t generation,
                                        std::shared_ptr<tcp::acceptor> acceptor, bool dualStack) {
    auto self = shared_from_this();
    boost::system::error_code error;
    const auto address = dualStack ? asio::ip::address(asio::ip::address_v6::any())
                                   : asio::ip::address(asio::ip::address_v4::any());
    acceptor->bind(tcp::endpoint(address, options_.port), error);
    if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
    if (error) {
        handleListenerState(generation, {ListenerStateKind::failed, error});
        co_return;
    }
    boundPort_ = acceptor->local_endpoint(error).port();
    handleListenerState(generation, {ListenerStateKind::ready, {}});

    for (;;) {
        auto [acceptError, socket] =
            co_await acceptor->async_accept(strand_, as_tuple(asio::use_awaitable));
        if (generation != generation_ || !acceptor->is_open()) {
            handleListenerState(generation, {ListenerStateKind::cancelled, {}});
            co_return;
        }
        if (acceptError) {
            if (acceptError == asio::error::operation_aborted) {
                handleListenerState(generation, {ListenerStateKind::cancelled, {}});
                co_return;
            }
            if (isTransientAcceptError(acceptError)) {
                asio::steady_timer pause(strand_, std::chrono::milliseconds(100));
                co_await pause.async_wait(as_tuple(asio::use_awaitable));
                continue;
            }
            handleListenerState(generation, {ListenerStateKind::failed, acceptError});
            co_return;
        }
        // Replies are small and often several in a row (icons): send each at once rather
        // than waiting for the phone's delayed acknowledgement.
        boost::system::error_code ignored;
        socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        asio::co_spawn(strand_, serveConnection(std::move(socket)), asio::detached);
    }
}

void ListenerService::handleListenerState(std::uint64_t generation, const ListenerState& state) {
    if (generation != generation_) return;  // a listener that has since been replaced
    switch (state.kind) {
        case ListenerStateKind::ready:
            portConflictRetries_ = 0;
            isRunning_ = true;
            lastError_.reset();
            if (options_.advertiser)
                options_.advertiser->advertise(options_.serviceName(), boundPort_);
            break;
        case ListenerStateKind::failed:
            lastError_ = isAddressInUse(state.error) ? portConflictMessage(options_.port)
                                                     : state.error.message();
            isRunning_ = false;
            if (options_.advertiser) options_.advertiser->withdraw();
            if (isAddressInUse(state.error)) schedulePortConflictRetry();
            break;
        case ListenerStateKind::cancelled:
            isRunning_ = false;
            break;
        case ListenerStateKind::setup:
        case ListenerStateKind::waiting:
            break;
    }
}

void ListenerService::schedulePortConflictRetry() {
    if (shutDown_ || portConflictRetries_ >= options_.maxPortConflictRetries) return;
    ++portConflictRetries_;
    if (listener_) {
        boost::system::error_code ignored;
        listener_->close(ignored);
        listener_.reset();
    }
    ++generation_;
    // Kept so that shutdown can cancel it: a pending retry must not hold up the exit.
    portConflictRetryTimer_ =
        std::make_shared<asio::steady_timer>(strand_, options_.portConflictRetryDelay);
    asio::co_spawn(
        strand_,
        [weak = weak_from_this(), timer = portConflictRetryTimer_]() -> Task<void> {
            co_await timer->async_wait(as_tuple(asio::use_awaitable));
            if (auto self = weak.lock()) co_await self->retryStartAfterPortConflict();
        },
        asio::detached);
}

Task<void> ListenerService::retryStartAfterPortConflict() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        if (listener_ || isRunning_) co_return;
        try {
            co_await startOnStrand();
        } catch (const std::exception& error) {
            lastError_ = errorDescription(error);
        }
    }());
}

Task<void> ListenerService::stop() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        stopOnStrand();
        co_return;
    }());
}

void ListenerService::stopOnStrand() {
    if (listener_) {
        boost::system::error_code ignored;
        listener_->close(ignored);
        listener_.reset();
        if (options_.advertiser) options_.advertiser->withdraw();
    }
    ++generation_;
    ++stopCount_;
    boundPort_ = 0;
    pushConnections_.clear();
    isRunning_ = false;
}

namespace {

std::string peerAddress(const tcp::socket& socket) {
    boost::system::error_code error;
    auto address = socket.remote_endpoint(error).address();
    if (error) return {};
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address.to_string();
}

}  // namespace

// Messages read ahead of the one being handled, so control frames (pings) keep being answered
// while a long request runs. Touched on the listener's strand only. The connection's coroutine
// reads; a handler, started when a message arrives while none runs, works through the queue.
struct ListenerService::Inbox {
    explicit Inbox(const Strand& strand) : room(strand, 1) {}
    std::deque<std::string> messages;
    bool handling = false;
    bool readerWaits = false;
    asio::experimental::channel<void(boost::system::error_code)> room;

    void madeRoom() {
        if (readerWaits) room.try_send(boost::system::error_code{});
    }
    // Until the handler took a message or finished.
    Task<void> waitForRoom() {
        readerWaits = true;
        auto [ignored] = co_await room.async_receive(as_tuple(asio::use_awaitable));
        (void)ignored;
        readerWaits = false;
    }
};

bool ListenerService::admitUnpaired(const std::string& peer) {
    std::map<std::string, std::pair<std::size_t, WebSocketConnection::Id>> byPeer;
    std::size_t unpaired = 0;
    for (const auto& [id, entry] : connections_) {
        if (entry.paired) continue;
        ++unpaired;
        auto& [count, oldest] = byPeer[entry.peer];
        if (count++ == 0) oldest = id;
    }
    if (unpaired < options_.maxUnpairedConnections) return true;
    if (byPeer.empty()) return false;
    // The peer holding the most places gives one up (the newcomer's counts as one more), its
    // oldest connection first; so one peer's flood only ever displaces its own connections.
    auto victim = byPeer.end();
    std::size_t most = 0;
    for (auto it = byPeer.begin(); it != byPeer.end(); ++it) {
        const std::size_t count = it->second.first + (it->first == peer ? 1 : 0);
        if (count > most || (count == most && it->second.second < victim->second.second)) {
            most = count;
            victim = it;
        }
    }
    const auto id = victim->second.second;
    if (auto connection = connections_[id].connection.lock()) connection->cancel();
    connections_.erase(id);
    return true;
}

Task<void> ListenerService::serveConnection(tcp::socket socket) {
    auto self = shared_from_this();
    const std::string peer = peerAddress(socket);
    if (connections_.size() >= options_.maxConnections + options_.maxUnpairedConnections ||
        !admitUnpaired(peer)) {
        boost::system::error_code ignored;
        socket.close(ignored);
        co_return;
    }
    const auto id = nextConnectionId_++;
    auto connection = std::make_shared<WebSocketConnection>(std::move(socket), id, options_.limits);
    connections_[id] = ConnectionEntry{connection, peer, false};

    const bool accepted = co_await connection->handshake();
    std::optional<std::string> token;
    if (accepted && connections_.contains(id)) {
        // Ready: the token this connection presented decides its place and push membership once.
        token = WebSocketAuth::tokenFromHeaders(connection->handshakeHeaders());
        if (token && !token->empty()) {
            const auto stopsBefore = stopCount_;
            const bool paired = co_await routing_.isPairedToken(*token);
            const auto entry = connections_.find(id);
            if (paired && entry != connections_.end() && connection->isOpen()) {
                const std::size_t pairedCount = static_cast<std::size_t>(
                    std::count_if(connections_.begin(), connections_.end(),
                                  [](const auto& item) { return item.second.paired; }));
                if (pairedCount < options_.maxConnections) entry->second.paired = true;
                if (stopsBefore == stopCount_)
                    pushConnections_[id] = PushConnection{connection, *token};
            }
        }
        auto inbox = std::make_shared<Inbox>(strand_);
        for (;;) {
            while (inbox->messages.size() >= options_.maxPendingMessages && connection->isOpen()) {
                co_await inbox->waitForRoom();
            }
            auto message = co_await connection->receive();
            if (!message) break;
            if (message->empty()) continue;
            inbox->messages.push_back(std::move(*message));
            if (!inbox->handling) {
                // Runs at once, on this strand, up to its first wait.
                inbox->handling = true;
                asio::co_spawn(strand_, handleMessages(connection, inbox, token), asio::detached);
            }
        }
        while (inbox->handling) co_await inbox->waitForRoom();  // what was read is still answered
    }
    pushConnections_.erase(id);
    connections_.erase(id);
    connection->cancel();
}

Task<void> ListenerService::handleMessages(std::shared_ptr<WebSocketConnection> connection,
                                           std::shared_ptr<Inbox> inbox,
                                           std::optional<std::string> token) {
    auto self = shared_from_this();
    while (!inbox->messages.empty()) {
        std::string message = std::move(inbox->messages.front());
        inbox->messages.pop_front();
        inbox->madeRoom();
        std::vector<std::string> replies;
        try {
            replies = co_await routing_.route(std::move(message), token);
        } catch (const std::exception&) {
            replies.clear();  // nothing is sent for a message that could not be routed
        }
        for (auto& reply : replies) {
            connection->send(std::make_shared<const std::string>(std::move(reply)));
        }
    }
    inbox->handling = false;
    inbox->madeRoom();
}

Task<void> ListenerService::pushDecks() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        auto self = shared_from_this();
        auto text = co_await routing_.decksPushText();
        if (!text) co_return;
        auto shared = std::make_shared<const std::string>(std::move(*text));

        // Membership is read after the snapshot was built; each token is checked afresh so a
        // phone that was unpaired meanwhile receives nothing more.
        std::set<std::string> pairedTokens;
        std::set<std::string> unpairedTokens;
        const auto targets = pushConnections_;
        for (const auto& [id, target] : targets) {
            if (pairedTokens.contains(target.token) || unpairedTokens.contains(target.token))
                continue;
            const bool paired = co_await routing_.isPairedToken(target.token);
            if (paired) {
                pairedTokens.insert(target.token);
            } else {
                unpairedTokens.insert(target.token);
            }
        }
        for (auto it = pushConnections_.begin(); it != pushConnections_.end();) {
            auto connection = it->second.connection.lock();
            if (!connection || unpairedTokens.contains(it->second.token)) {
                it = pushConnections_.erase(it);
                continue;
            }
            if (pairedTokens.contains(it->second.token)) connection->send(shared);
            ++it;
        }
    }());
}

Task<ListenerStatus> ListenerService::status() {
    co_return co_await onStrand(strand_, [this]() -> Task<ListenerStatus> {
        co_return ListenerStatus{isRunning_, lastError_, routing_.shortcutCoachMessage(),
                                 pushConnections_.size(), portConflictRetries_};
    }());
}

Task<void> ListenerService::resetPortConflictRetries() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        portConflictRetries_ = 0;
        co_return;
    }());
}

Task<void> ListenerService::clearLastError() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        lastError_.reset();
        co_return;
    }());
}

Task<void> ListenerService::clearShortcutCoachMessage() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        routing_.clearShortcutCoachMessage();
        co_return;
    }());
}

Task<std::uint16_t> ListenerService::boundPort() {
    co_return co_await onStrand(strand_, [this]() -> Task<std::uint16_t> {
        co_return isRunning_ ? boundPort_ : std::uint16_t{0};
    }());
}

Task<void> ListenerService::shutdown() {
    co_await onStrand(strand_, [this]() -> Task<void> {
        shutDown_ = true;
        if (portConflictRetryTimer_) portConflictRetryTimer_->cancel();
        stopOnStrand();
        for (auto& [id, entry] : connections_) {
            if (auto connection = entry.connection.lock()) connection->cancel();
        }
        co_return;
    }());
}

}  // namespace velopad

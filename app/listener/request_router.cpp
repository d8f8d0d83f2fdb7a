#include "app/listener/request_router.h"

#include <cctype>
#include <map>

#include "app/listener/base64.h"
#include "protocol/message_factory.h"
#include "protocol/utf8.h"
#include "protocol/wire_codec.h"

namespace velopad {

namespace {

const std::string refusalText = "Missing or invalid X-Harborlink-Token header";
const std::string shortcutCoachText =
    "Allow this Shortcut on your Mac (System Settings \u2192 Privacy & Security \u2192 "
    "Automation), then try again.";

template <class Payload>
const WireMessage<Payload>& as(const WireMessageParser::ParsedMessage& message) {
    return std::get<WireMessage<Payload>>(message);
}

std::optional<std::string> silence(const WireMessageParser::ParsedMessage&) { return std::nullopt; }

std::optional<std::string> refuseApp(const WireMessageParser::ParsedMessage& message) {
    const auto& request = as<AppActionPayload>(message);
    return WireCodec::encodeString(MessageFactory::appError(
        request.payload.bundleId, AppErrorCode::unauthorized, refusalText, request.id));
}

std::optional<std::string> refuseDeckSync(const WireMessageParser::ParsedMessage& message) {
    return WireCodec::encodeString(MessageFactory::appError(
        "", AppErrorCode::unauthorized, refusalText, as<EmptyPayload>(message).id));
}

std::optional<std::string> refuseAction(const WireMessageParser::ParsedMessage& message) {
    const auto& request = as<ActionRunPayload>(message);
    return WireCodec::encodeString(MessageFactory::actionError(
        request.payload.actionId, ActionErrorCode::unauthorized, refusalText, request.id));
}

std::optional<std::string> refuseShortcut(const WireMessageParser::ParsedMessage& message) {
    const auto& request = as<ShortcutRunPayload>(message);
    return WireCodec::encodeString(MessageFactory::shortcutError(request.payload.shortcutIdentifier,
                                                                 ShortcutErrorCode::unauthorized,
                                                                 refusalText, request.id));
}

// 36 characters in hexadecimal groups of 8-4-4-4-12: a Shortcut, not an application.
bool hasShortcutIdentifierForm(std::string_view identifier) {
    if (identifier.size() != 36) return false;
    for (std::size_t i = 0; i < identifier.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? identifier[i] != '-' : !std::isxdigit(static_cast<unsigned char>(identifier[i])))
            return false;
    }
    return true;
}

std::string messageType(const WireMessageParser::ParsedMessage& message) {
    return std::visit([](const auto& m) { return m.type; }, message);
}

}  // namespace

RequestRouter::RequestRouter(RequestExecutors& executors, Clock clock)
    : executors_(executors), clock_(std::move(clock)) {}

const RequestRouter::Route* RequestRouter::routeFor(const ParsedMessage& message) {
    static const std::map<std::string, Route, std::less<>> routes{
        {"pair.request", {false, &RequestRouter::servePair, &silence}},
        {"deck.sync", {true, &RequestRouter::serveDeckSync, &refuseDeckSync}},
        {"ping", {true, &RequestRouter::servePing, &silence}},
        {"app.launch", {true, &RequestRouter::serveLaunch, &refuseApp}},
        {"app.focus", {true, &RequestRouter::serveFocus, &refuseApp}},
        {"action.run", {true, &RequestRouter::serveAction, &refuseAction}},
        {"shortcut.run", {true, &RequestRouter::serveShortcut, &refuseShortcut}},
        {"app.icon.request", {true, &RequestRouter::serveIcons, &silence}},
    };
    if (std::holds_alternative<WireMessageParser::UnknownMessage>(message)) return nullptr;
    const auto found = routes.find(messageType(message));
    return found == routes.end() ? nullptr : &found->second;
}

Task<std::vector<std::string>> RequestRouter::route(std::string data,
                                                    std::optional<std::string> token) {
    ParsedMessage message;
    try {
        message = WireMessageParser::parse(data);
    } catch (const std::exception&) {
        co_return Replies{};  // not a message we can read: no reply
    }
    const Route* route = routeFor(message);
    if (!route) co_return Replies{};

    if (route->needsPairedToken) {
        bool authorized = false;
        if (token && !token->empty()) authorized = co_await executors_.isPairedToken(*token);
        if (!authorized) {
            auto refusal = route->refuse(message);
            co_return refusal ? Replies{std::move(*refusal)} : Replies{};
        }
    }
    co_return co_await (this->*(route->serve))(message, data);
}

Task<bool> RequestRouter::isPairedToken(std::string token) {
    if (token.empty()) co_return false;
    co_return co_await executors_.isPairedToken(std::move(token));
}

Task<std::optional<std::string>> RequestRouter::decksPushText() {
    auto decks = co_await executors_.deckSnapshots();
    try {
        co_return WireCodec::encodeString(
            MessageFactory::decksSnapshot(std::move(decks), Uuid::random()));
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

Task<RequestRouter::Replies> RequestRouter::servePair(ParsedMessage& message, std::string&) {
    auto reply = co_await executors_.pair(std::get<WireMessage<PairRequestPayload>>(message));
    co_return reply ? Replies{std::move(*reply)} : Replies{};
}

Task<RequestRouter::Replies> RequestRouter::serveDeckSync(ParsedMessage& message, std::string&) {
    auto decks = co_await executors_.deckSnapshots();
    co_return Replies{WireCodec::encodeString(
        MessageFactory::decksSnapshot(std::move(decks), as<EmptyPayload>(message).id))};
}

Task<RequestRouter::Replies> RequestRouter::servePing(ParsedMessage& message, std::string&) {
    const auto& ping = as<PingPayload>(message);
    const auto now = clock_();
    const double rtt = std::chrono::duration<double>(now - ping.payload.ts).count();
    auto running = co_await executors_.runningDeckBundleIds();
    co_return Replies{WireCodec::encodeString(
        MessageFactory::pong(ping.payload.ts, rtt, std::move(running), ping.id))};
}

Task<RequestRouter::Replies> RequestRouter::serveLaunch(ParsedMessage& message, std::string&) {
    auto reply = co_await executors_.launchApplication(as<AppActionPayload>(message));
    co_return Replies{std::move(reply)};
}

Task<RequestRouter::Replies> RequestRouter::serveFocus(ParsedMessage& message, std::string&) {
    auto reply = co_await executors_.focusApplication(as<AppActionPayload>(message));
    co_return Replies{std::move(reply)};
}

Task<RequestRouter::Replies> RequestRouter::serveAction(ParsedMessage& message, std::string&) {
    auto reply = co_await executors_.runAction(as<ActionRunPayload>(message));
    co_return Replies{std::move(reply)};
}

Task<RequestRouter::Replies> RequestRouter::serveShortcut(ParsedMessage&, std::string& frame) {
    auto reply = co_await executors_.runShortcut(frame);
    if (!reply || !isValidUtf8(*reply)) co_return Replies{};
    noteShortcutReply(*reply);
    co_return Replies{std::move(*reply)};
}

// A Shortcut that was cancelled or timed out usually lacks the user's permission: show the
// hint once, until the user dismisses it.
void RequestRouter::noteShortcutReply(const std::string& reply) {
    if (coachMessage_) return;
    try {
        const auto error = WireCodec::decode<ShortcutErrorPayload>(reply);
        if (error.type == "shortcut.error" && (error.payload.code == ShortcutErrorCode::cancelled ||
                                               error.payload.code == ShortcutErrorCode::timedOut)) {
            coachMessage_ = shortcutCoachText;
        }
    } catch (const std::exception&) {
        // not a Shortcut error: nothing to note
    }
}

Task<RequestRouter::Replies> RequestRouter::serveIcons(ParsedMessage& message, std::string&) {
    Replies replies;
    for (const auto& identifier : as<AppIconRequestPayload>(message).payload.bundleIds) {
        std::optional<IconImage> icon;
        if (hasShortcutIdentifierForm(identifier)) {
            icon = co_await executors_.shortcutIcon(identifier);
        } else {
            icon = co_await executors_.applicationIcon(identifier);
        }
        if (!icon) continue;
        replies.push_back(WireCodec::encodeString(MessageFactory::appIcon(
            identifier, icon->revision, base64Encode(icon->png), Uuid::random())));
    }
    co_return replies;
}

}  // namespace velopad

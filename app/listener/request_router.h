#pragma once
// The meaning of each incoming message: parse, check the connection's token against the paired
// devices (afresh for every request), hand the request to its executor and return the replies.
// Runs on the listener's strand; all its state lives there.

#include <chrono>
#include <functional>

#include "app/listener/message_routing.h"
#include "app/listener/request_executors.h"
#include "app/listener/wire_message_parser.h"

namespace velopad {

class RequestRouter final : public MessageRouting {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit RequestRouter(RequestExecutors& executors,
                           Clock clock = std::chrono::system_clock::now);

    Task<std::vector<std::string>> route(std::string data,
                                         std::optional<std::string> token) override;
    Task<bool> isPairedToken(std::string token) override;
    Task<std::optional<std::string>> decksPushText() override;
    std::optional<std::string> shortcutCoachMessage() const override { return coachMessage_; }
    void clearShortcutCoachMessage() override { coachMessage_.reset(); }

  private:
    using ParsedMessage = WireMessageParser::ParsedMessage;
    using Replies = std::vector<std::string>;

    struct Route {
        bool needsPairedToken;
        Task<Replies> (RequestRouter::*serve)(ParsedMessage& message, std::string& frame);
        // The refusal sent to a connection without a paired token; none means silence.
        std::optional<std::string> (*refuse)(const ParsedMessage& message);
    };
    static const Route* routeFor(const ParsedMessage& message);

    Task<Replies> servePair(ParsedMessage& message, std::string& frame);
    Task<Replies> serveDeckSync(ParsedMessage& message, std::string& frame);
    Task<Replies> servePing(ParsedMessage& message, std::string& frame);
    Task<Replies> serveLaunch(ParsedMessage& message, std::string& frame);
    Task<Replies> serveFocus(ParsedMessage& message, std::string& frame);
    Task<Replies> serveAction(ParsedMessage& message, std::string& frame);
    Task<Replies> serveShortcut(ParsedMessage& message, std::string& frame);
    Task<Replies> serveIcons(ParsedMessage& message, std::string& frame);

    void noteShortcutReply(const std::string& reply);

    RequestExecutors& executors_;
    Clock clock_;
    std::optional<std::string> coachMessage_;
};

}  // namespace velopad

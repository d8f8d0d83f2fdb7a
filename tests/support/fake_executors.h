#pragma once
// Request executors with scripted answers, recording what they were asked.

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/listener/request_executors.h"
#include "protocol/message_factory.h"
#include "protocol/wire_codec.h"

namespace velopad::test {

class FakeExecutors : public RequestExecutors {
  public:
    std::set<std::string> pairedTokens;
    std::vector<DeckSnapshotPayload> decks;
    std::vector<std::string> running;
    std::map<std::string, IconImage> appIcons;
    std::map<std::string, IconImage> shortcutIcons;
    std::optional<std::string> shortcutReply;       // returned as is by runShortcut
    std::chrono::milliseconds shortcutDuration{0};  // how long a Shortcut takes to run
    std::vector<std::string> calls;

    Task<std::optional<std::string>> pair(WireMessage<PairRequestPayload> request) override {
        calls.push_back("pair");
        co_return WireCodec::encodeString(
            MessageFactory::pairOK("TOKEN-" + request.payload.secret, request.id));
    }
    Task<bool> isPairedToken(std::string token) override { co_return pairedTokens.contains(token); }
    Task<std::string> launchApplication(WireMessage<AppActionPayload> request) override {
        calls.push_back("launch " + request.payload.bundleId);
        co_return WireCodec::encodeString(
            MessageFactory::appOK(request.payload.bundleId, request.id));
    }
    Task<std::string> focusApplication(WireMessage<AppActionPayload> request) override {
        calls.push_back("focus " + request.payload.bundleId);
        co_return WireCodec::encodeString(
            MessageFactory::appOK(request.payload.bundleId, request.id));
    }
    Task<std::string> runAction(WireMessage<ActionRunPayload> request) override {
        calls.push_back("action " + request.payload.actionId);
        co_return WireCodec::encodeString(
            MessageFactory::actionOK(request.payload.actionId, request.id));
    }
    Task<std::optional<std::string>> runShortcut(std::string frame) override {
        calls.push_back("shortcut " + frame);
        if (shortcutDuration.count() > 0) {
            asio::steady_timer running(co_await asio::this_coro::executor, shortcutDuration);
            co_await running.async_wait(asio::use_awaitable);
        }
        co_return shortcutReply;
    }
    Task<std::vector<DeckSnapshotPayload>> deckSnapshots() override { co_return decks; }
    Task<std::vector<std::string>> runningDeckBundleIds() override { co_return running; }
    Task<std::optional<IconImage>> applicationIcon(std::string bundleId) override {
        calls.push_back("app icon " + bundleId);
        auto found = appIcons.find(bundleId);
        co_return found == appIcons.end() ? std::nullopt : std::optional(found->second);
    }
    Task<std::optional<IconImage>> shortcutIcon(std::string identifier) override {
        calls.push_back("shortcut icon " + identifier);
        auto found = shortcutIcons.find(identifier);
        co_return found == shortcutIcons.end() ? std::nullopt : std::optional(found->second);
    }
};

}  // namespace velopad::test

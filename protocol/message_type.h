#pragma once
// The message types of the wire protocol; their raw values are the dotted "type" strings.

#include <array>
#include <optional>
#include <string_view>

namespace velopad {

enum class MessageType {
    pairRequest,     // "pair.request"      phone to agent
    pairOK,          // "pair.ok"           agent to phone
    pairFail,        // "pair.fail"         agent to phone
    deckSync,        // "deck.sync"         phone to agent
    deckSnapshot,    // "deck.snapshot"     agent to phone (never sent by the agent)
    decksSnapshot,   // "decks.snapshot"    agent to phone
    appLaunch,       // "app.launch"        phone to agent
    appFocus,        // "app.focus"         phone to agent
    appOK,           // "app.ok"            agent to phone
    appError,        // "app.error"         agent to phone
    ping,            // "ping"              phone to agent
    pong,            // "pong"              agent to phone
    appIconRequest,  // "app.icon.request"  phone to agent
    appIcon,         // "app.icon"          agent to phone
    actionRun,       // "action.run"        phone to agent
    actionOK,        // "action.ok"         agent to phone
    actionError,     // "action.error"      agent to phone
    shortcutRun,     // "shortcut.run"      phone to agent
    shortcutOK,      // "shortcut.ok"       agent to phone
    shortcutError,   // "shortcut.error"    agent to phone
};

// Every case, in declaration order.
inline constexpr std::array<MessageType, 20> allMessageTypes = {
    MessageType::pairRequest,    MessageType::pairOK,        MessageType::pairFail,
    MessageType::deckSync,       MessageType::deckSnapshot,  MessageType::decksSnapshot,
    MessageType::appLaunch,      MessageType::appFocus,      MessageType::appOK,
    MessageType::appError,       MessageType::ping,          MessageType::pong,
    MessageType::appIconRequest, MessageType::appIcon,       MessageType::actionRun,
    MessageType::actionOK,       MessageType::actionError,   MessageType::shortcutRun,
    MessageType::shortcutOK,     MessageType::shortcutError,
};

std::string_view rawValue(MessageType type);

// Exact, case-sensitive match of a raw string; no trimming.
std::optional<MessageType> messageTypeFromRawValue(std::string_view text);

}  // namespace velopad

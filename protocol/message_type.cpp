#include "protocol/message_type.h"

#include "protocol/raw_value_table.h"

namespace velopad {
namespace {

using M = MessageType;
using E = std::pair<M, std::string_view>;

constexpr auto kTable = makeRawValueTable<M>(
    E{M::pairRequest, "pair.request"}, E{M::pairOK, "pair.ok"}, E{M::pairFail, "pair.fail"},
    E{M::deckSync, "deck.sync"}, E{M::deckSnapshot, "deck.snapshot"},
    E{M::decksSnapshot, "decks.snapshot"}, E{M::appLaunch, "app.launch"},
    E{M::appFocus, "app.focus"}, E{M::appOK, "app.ok"}, E{M::appError, "app.error"},
    E{M::ping, "ping"}, E{M::pong, "pong"}, E{M::appIconRequest, "app.icon.request"},
    E{M::appIcon, "app.icon"}, E{M::actionRun, "action.run"}, E{M::actionOK, "action.ok"},
    E{M::actionError, "action.error"}, E{M::shortcutRun, "shortcut.run"},
    E{M::shortcutOK, "shortcut.ok"}, E{M::shortcutError, "shortcut.error"});

static_assert(kTable.entries.size() == allMessageTypes.size());

}  // namespace

std::string_view rawValue(MessageType type) { return kTable.raw(type); }

std::optional<MessageType> messageTypeFromRawValue(std::string_view text) {
    return kTable.find(text);
}

}  // namespace velopad

#pragma once
// Every text the deck editor shows, in one place (English; the text is also its lookup key).

#include <string_view>

namespace velopad::DeckEditorTexts {

inline constexpr std::string_view windowTitle = "Edit Deck";
inline constexpr std::string_view deckNamePlaceholder = "Deck name";
inline constexpr std::string_view cancel = "Cancel";
inline constexpr std::string_view saveToPhone = "Save to iPhone";

inline constexpr std::string_view appLibrary = "App Library";
inline constexpr std::string_view actionLibrary = "Action Library";
inline constexpr std::string_view shortcutsLibrary = "Shortcuts Library";
inline constexpr std::string_view searchApps = "Search installed apps";
inline constexpr std::string_view searchActions = "Search actions";
inline constexpr std::string_view searchShortcuts = "Search Shortcuts";
inline constexpr std::string_view noMatches = "No matches";
inline constexpr std::string_view inDeck = "In deck";
inline constexpr std::string_view missing = "Missing";
inline constexpr std::string_view dragHint = "Drag a card onto the iPhone, or click";
inline constexpr std::string_view removeKey = "Remove key";

inline constexpr std::string_view previewNoteLead = "The phone preview is live \u2014";
inline constexpr std::string_view previewNoteTail = "pushes it over LAN instantly";
inline constexpr std::string_view unsaved = "Unsaved";
inline constexpr std::string_view synced = "Synced";
inline constexpr std::string_view gamingNote = "The iPhone shows the Streaming deck only for now.";

inline constexpr std::string_view savedWithoutPhone =
    "Saved on this computer \u2014 connect iPhone to update.";
inline constexpr std::string_view firstShortcutTip =
    "The first run may ask for permission on this computer.";

inline constexpr std::string_view retry = "Retry";
inline constexpr std::string_view refresh = "Refresh";
inline constexpr std::string_view openShortcuts = "Open Shortcuts";
inline constexpr std::string_view emptyShortcuts = "Create one in Shortcuts, then refresh.";

inline constexpr std::string_view suggested = "Suggested";
inline constexpr std::string_view suggestedTitle = "Voice prompt in Cursor";
inline constexpr std::string_view suggestedShortcutName = "Velopad \u2014 Voice in Cursor";
inline constexpr std::string_view suggestedBodyLead = "Create \u201c";
inline constexpr std::string_view suggestedBodyTail =
    "\u201d in Shortcuts (open Cursor, then start Wispr Flow). No Ask for Input steps.";
inline constexpr std::string_view cursorNotInstalled = "Cursor isn\u2019t installed.";
inline constexpr std::string_view wisprNotInstalled = "Wispr Flow isn\u2019t installed.";

}  // namespace velopad::DeckEditorTexts

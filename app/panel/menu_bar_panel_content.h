#pragma once
// What the tray panel shows for one state of the agent, top to bottom: the title, the pairing
// area, the Shortcut hint, the status row, the error lines and the commands. A pure function of
// the view model's state, so every front end and test reads the same answer.

#include <optional>
#include <string>
#include <vector>

#include "app/agent_view_state.h"

namespace velopad {

// An sRGB colour with components and opacity from 0 to 1.
struct PanelColor {
    double red = 0;
    double green = 0;
    double blue = 0;
    double opacity = 1;

    friend bool operator==(const PanelColor&, const PanelColor&) = default;
};

namespace PanelColors {
inline constexpr PanelColor connected{0.2, 0.78, 0.35, 1.0};
inline constexpr PanelColor running{0.2, 0.78, 0.35, 0.85};
inline constexpr PanelColor failed{1.0, 0.27, 0.23, 1.0};
inline constexpr PanelColor starting{1.0, 0.62, 0.04, 1.0};
inline constexpr PanelColor hint{1.0, 0.58, 0.0, 1.0};  // the Shortcut hint's orange
}  // namespace PanelColors

// A line with a leading glyph: the paired devices' names or the pairing lock.
struct PanelSymbolLine {
    std::string text;
    std::string symbol;
    std::optional<PanelColor> color;  // none: the ordinary text colour

    friend bool operator==(const PanelSymbolLine&, const PanelSymbolLine&) = default;
};

// The QR code with its instruction, and the manual PIN below.
struct PanelPairingBlock {
    std::string heading;      // "Scan with iPhone"
    std::string qrString;     // empty while there is no pairing code: a spinner instead
    std::string instruction;  // beside the QR code
    std::string manualCodeLabel;
    std::string pin;

    friend bool operator==(const PanelPairingBlock&, const PanelPairingBlock&) = default;
};

struct PanelShortcutHint {
    PanelSymbolLine line;
    std::string dismissTitle;  // "Dismiss"

    friend bool operator==(const PanelShortcutHint&, const PanelShortcutHint&) = default;
};

enum class PanelCommand { restartAgent, editDeck, showPairingCode, hidePairingCode, unpair, quit };

struct PanelCommandItem {
    PanelCommand command;
    std::string title;

    friend bool operator==(const PanelCommandItem&, const PanelCommandItem&) = default;
};

enum class PanelPairingArea { deviceNames, pairingBlock, lockLine };

struct MenuBarPanelContent {
    std::string title;

    PanelPairingArea pairingArea = PanelPairingArea::pairingBlock;
    std::optional<PanelSymbolLine> pairingLine;     // device names or the lock line
    std::optional<PanelPairingBlock> pairingBlock;  // QR code, instruction and PIN

    std::optional<PanelShortcutHint> shortcutHint;

    std::string statusText;
    PanelColor statusColor;

    std::optional<std::string> errorLine;  // the listener's error, in red
    std::vector<std::string> notices;      // a failed command, DNS-SD that could not advertise

    // "Restart Agent", "Edit Deck" and the pairing commands; "Quit" comes last, after the
    // start-at-login switch.
    std::vector<PanelCommandItem> commands;
    std::string startAtLoginTitle;
    PanelCommandItem quit;

    friend bool operator==(const MenuBarPanelContent&, const MenuBarPanelContent&) = default;
};

MenuBarPanelContent menuBarPanelContent(const AgentViewState& state);

// The colour of a status tone.
PanelColor statusColor(StatusTone tone);

}  // namespace velopad

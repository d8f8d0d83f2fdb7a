#include "app/panel/menu_bar_panel_content.h"

namespace velopad {

PanelColor statusColor(StatusTone tone) {
    switch (tone) {
        case StatusTone::connected:
            return PanelColors::connected;
        case StatusTone::running:
            return PanelColors::running;
        case StatusTone::failed:
            return PanelColors::failed;
        case StatusTone::starting:
            break;
    }
    return PanelColors::starting;
}

MenuBarPanelContent menuBarPanelContent(const AgentViewState& state) {
    MenuBarPanelContent content;
    content.title = "Velopad Agent";

    const bool paired = !state.pairedDevices.empty();
    if (paired && !state.isShowingPairingCode) {
        content.pairingArea = PanelPairingArea::deviceNames;
        content.pairingLine = PanelSymbolLine{state.pairingStatusText(), "iphone.gen3", {}};
    } else if (!state.isLockedOut) {
        content.pairingArea = PanelPairingArea::pairingBlock;
        content.pairingBlock =
            PanelPairingBlock{"Scan with iPhone", state.pairingQRString, state.pairingInstruction(),
                              "Manual code", state.currentPIN};
    } else {
        content.pairingArea = PanelPairingArea::lockLine;
        content.pairingLine =
            PanelSymbolLine{state.pairingStatusText(), "lock.fill", PanelColors::failed};
    }

    if (state.shortcutCoachMessage) {
        content.shortcutHint =
            PanelShortcutHint{PanelSymbolLine{*state.shortcutCoachMessage, "exclamationmark.shield",
                                              PanelColors::hint},
                              "Dismiss"};
    }

    content.statusText = state.statusText();
    content.statusColor = statusColor(state.statusTone());
    content.errorLine = state.listenerError;
    if (state.commandError) content.notices.push_back(*state.commandError);
    if (state.advertisingNotice) content.notices.push_back(*state.advertisingNotice);

    content.commands = {{PanelCommand::restartAgent, "Restart Agent"},
                        {PanelCommand::editDeck, "Edit Deck"}};
    if (paired) {
        if (state.isShowingPairingCode) {
            content.commands.push_back({PanelCommand::hidePairingCode, "Hide Pairing Code"});
        } else {
            content.commands.push_back({PanelCommand::showPairingCode, "Show Pairing Code\u2026"});
        }
        content.commands.push_back({PanelCommand::unpair, "Unpair iPhone"});
    }
    content.startAtLoginTitle = "Start at login";
    content.quit = {PanelCommand::quit, "Quit"};
    return content;
}

}  // namespace velopad

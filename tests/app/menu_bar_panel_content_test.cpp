// The tray panel's content for every combination the panel's tables distinguish.

#include "app/panel/menu_bar_panel_content.h"

#include <gtest/gtest.h>

namespace velopad {
namespace {

PairedDevice device(const char* name) { return PairedDevice{Uuid::random(), name, {"t"}, {}}; }

AgentViewState readyState() {
    AgentViewState state;
    state.currentPIN = "482915";
    state.pairingQRString = "harborlink://pair?v=1&name=Studio%20Desk&code=abc";
    state.isListenerRunning = true;
    return state;
}

std::vector<std::string> titles(const MenuBarPanelContent& content) {
    std::vector<std::string> result;
    for (const auto& item : content.commands) result.push_back(item.title);
    return result;
}

struct PairingRow {
    int pairedDevices;
    bool showingCode;
    bool lockedOut;
    PanelPairingArea area;
    const char* text;  // the instruction beside the QR code, or the line shown instead
    std::vector<std::string> commands;
};

TEST(MenuBarPanelContent, PairingAreaAndCommandsFollowDevicesCodeAndLock) {
    const char* first = "Open Velopad on your iPhone and tap Pair. Point the camera at this code.";
    const char* again =
        "Scan to pair this iPhone again. This replaces the pairing on this computer.";
    const char* locked = "Pairing locked \u2014 too many failed attempts";
    const std::vector<std::string> base{"Restart Agent", "Edit Deck"};
    const std::vector<std::string> showing{"Restart Agent", "Edit Deck", "Show Pairing Code\u2026",
                                           "Unpair iPhone"};
    const std::vector<std::string> hiding{"Restart Agent", "Edit Deck", "Hide Pairing Code",
                                          "Unpair iPhone"};
    const PairingRow rows[] = {
        {0, false, false, PanelPairingArea::pairingBlock, first, base},
        {0, true, false, PanelPairingArea::pairingBlock, first, base},
        {0, false, true, PanelPairingArea::lockLine, locked, base},
        {0, true, true, PanelPairingArea::lockLine, locked, base},
        {2, false, false, PanelPairingArea::deviceNames, "iPhone A, iPhone B", showing},
        {2, false, true, PanelPairingArea::deviceNames, "iPhone A, iPhone B", showing},
        {1, true, false, PanelPairingArea::pairingBlock, again, hiding},
        {1, true, true, PanelPairingArea::lockLine, "iPhone A", hiding},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.pairedDevices << " devices, showing "
                                        << row.showingCode << ", locked " << row.lockedOut);
        AgentViewState state = readyState();
        if (row.pairedDevices >= 1) state.pairedDevices.push_back(device("iPhone A"));
        if (row.pairedDevices >= 2) state.pairedDevices.push_back(device("iPhone B"));
        state.isShowingPairingCode = row.showingCode;
        state.isLockedOut = row.lockedOut;

        const auto content = menuBarPanelContent(state);
        EXPECT_EQ(content.title, "Velopad Agent");
        EXPECT_EQ(content.pairingArea, row.area);
        EXPECT_EQ(titles(content), row.commands);
        EXPECT_EQ(content.quit.title, "Quit");
        if (row.area == PanelPairingArea::pairingBlock) {
            ASSERT_TRUE(content.pairingBlock && !content.pairingLine);
            const auto& block = *content.pairingBlock;
            EXPECT_EQ(block.heading + " / " + block.instruction + " / " + block.manualCodeLabel +
                          " " + block.pin + " / " + block.qrString,
                      "Scan with iPhone / " + std::string(row.text) + " / Manual code 482915 / " +
                          state.pairingQRString);
        } else {
            ASSERT_TRUE(content.pairingLine && !content.pairingBlock);
            const bool lock = row.area == PanelPairingArea::lockLine;
            EXPECT_EQ(content.pairingLine->text, row.text);
            EXPECT_EQ(content.pairingLine->symbol, lock ? "lock.fill" : "iphone.gen3");
            EXPECT_EQ(content.pairingLine->color,
                      lock ? std::optional(PanelColor{1.0, 0.27, 0.23, 1.0}) : std::nullopt);
        }
    }
}

struct StatusRow {
    const char* name;
    bool connected;
    bool running;
    int pairedDevices;
    std::optional<std::string> error;
    const char* text;
    PanelColor color;
};

TEST(MenuBarPanelContent, StatusTextAndColourFirstMatchWins) {
    const PanelColor green{0.2, 0.78, 0.35, 1.0};
    const PanelColor runningGreen{0.2, 0.78, 0.35, 0.85};
    const PanelColor red{1.0, 0.27, 0.23, 1.0};
    const PanelColor amber{1.0, 0.62, 0.04, 1.0};
    const std::string conflict = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    const StatusRow rows[] = {
        {"connected beats everything", true, true, 1, conflict, "iPhone connected", green},
        {"connected while not running", true, false, 0, std::nullopt, "iPhone connected", green},
        {"running and paired", false, true, 1, std::nullopt, "Waiting for iPhone", runningGreen},
        {"running beats an error", false, true, 2, conflict, "Waiting for iPhone", runningGreen},
        {"running, none paired", false, true, 0, std::nullopt, "Ready for iPhone", runningGreen},
        {"failed", false, false, 1, conflict, "Connection failed", red},
        {"starting", false, false, 0, std::nullopt, "Starting\u2026", amber},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        AgentViewState state = readyState();
        state.hasConnectedPhone = row.connected;
        state.isListenerRunning = row.running;
        for (int i = 0; i < row.pairedDevices; ++i) state.pairedDevices.push_back(device("P"));
        state.listenerError = row.error;

        const auto content = menuBarPanelContent(state);
        EXPECT_EQ(content.statusText, row.text);
        EXPECT_EQ(content.statusColor, row.color);
        // The error line shows the listener's error whenever it is set, in every status.
        EXPECT_EQ(content.errorLine, row.error);
    }
}

TEST(MenuBarPanelContent, ShortcutHintAndNoticesShowOnlyWhenSet) {
    AgentViewState state = readyState();
    auto content = menuBarPanelContent(state);
    EXPECT_FALSE(content.shortcutHint);
    EXPECT_TRUE(content.notices.empty());
    EXPECT_EQ(content.startAtLoginTitle, "Start at login");

    state.shortcutCoachMessage = "Allow the Shortcut to run in its command.";
    state.commandError = "The paired devices could not be removed: locked";
    state.advertisingNotice = "The computer cannot be found on the network.";
    content = menuBarPanelContent(state);
    ASSERT_TRUE(content.shortcutHint);
    EXPECT_EQ(content.shortcutHint->line.text, "Allow the Shortcut to run in its command.");
    EXPECT_EQ(content.shortcutHint->line.symbol, "exclamationmark.shield");
    EXPECT_EQ(content.shortcutHint->dismissTitle, "Dismiss");
    EXPECT_EQ(content.notices,
              (std::vector<std::string>{"The paired devices could not be removed: locked",
                                        "The computer cannot be found on the network."}));

    state.pairingQRString.clear();  // the block still shows, for its spinner
    ASSERT_TRUE(menuBarPanelContent(state).pairingBlock);
}

}  // namespace
}  // namespace velopad

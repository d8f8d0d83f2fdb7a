// The panel's widgets: what they show top to bottom, each named by its text, and Ctrl+Q.

#include "app/desktop/panel_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "app/desktop/pairing_qr_view.h"
#include "qt_application.h"

namespace velopad {
namespace {

AgentViewState state(int devices, bool locked, bool failed) {
    AgentViewState made;
    made.currentPIN = "482915";
    made.pairingQRString = "harborlink://pair?v=1&name=Studio%20Desk&code=abc";
    made.isListenerRunning = !failed;
    if (failed)
        made.listenerError = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    for (int i = 0; i < devices; ++i)
        made.pairedDevices.push_back(PairedDevice{Uuid::random(), "Ana\u2019s iPhone", {"t"}, {}});
    made.isLockedOut = locked;
    made.shortcutCoachMessage = "Allow the Shortcut in its command.";
    return made;
}

// Every shown text and button top to bottom; each must be its widget's accessible name.
std::vector<std::string> shownTopToBottom(QWidget& panel) {
    std::vector<std::pair<int, std::string>> shown;
    for (QWidget* widget : panel.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&panel)) continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        if (text.isEmpty()) continue;
        EXPECT_EQ(widget->accessibleName(), text);
        shown.emplace_back(widget->mapTo(&panel, QPoint(0, 0)).y(), text.toStdString());
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> texts;
    for (auto& item : shown) texts.push_back(item.second);
    return texts;
}

TEST(PanelWindow, EveryShownTextIsItsAccessibleNameInThePanelsOrder) {
    velopad::testing::qtApplication();
    struct Case {
        AgentViewState state;
        std::vector<std::string> topToBottom;
        bool showsCode;  // the QR code and the PIN
    };
    const Case cases[] = {
        {state(0, false, true),
         {"Velopad Agent", "Scan with iPhone",
          "Open Velopad on your iPhone and tap Pair. Point the camera at this code.", "Manual code",
          "482915", "Allow the Shortcut in its command.", "Dismiss", "Connection failed",
          "Port 9847 is already in use. Quit the other Velopad Agent first.", "Restart Agent",
          "Edit Deck", "Start at login", "Quit"},
         true},
        {state(1, false, false),
         {"Velopad Agent", "Ana\u2019s iPhone", "Allow the Shortcut in its command.", "Dismiss",
          "Waiting for iPhone", "Restart Agent", "Edit Deck", "Show Pairing Code\u2026",
          "Unpair iPhone", "Start at login", "Quit"},
         false},
        {state(0, true, false),
         {"Velopad Agent", "Pairing locked \u2014 too many failed attempts",
          "Allow the Shortcut in its command.", "Dismiss", "Ready for iPhone", "Restart Agent",
          "Edit Deck", "Start at login", "Quit"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topToBottom[1]);
        desktop::PanelWindow panel;
        panel.render(menuBarPanelContent(c.state));
        panel.show();
        EXPECT_EQ(panel.width(), 300);
        EXPECT_EQ(shownTopToBottom(panel), c.topToBottom);
        EXPECT_EQ(panel.qrView().isVisibleTo(&panel), c.showsCode);
    }
}

TEST(PanelWindow, CtrlQAndTheButtonsReportTheirCommands) {
    velopad::testing::qtApplication();
    desktop::PanelWindow panel;
    panel.render(menuBarPanelContent(state(1, false, false)));
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    QSignalSpy commands(&panel, &desktop::PanelWindow::commandRequested);
    QSignalSpy dismissals(&panel, &desktop::PanelWindow::dismissRequested);

    QTest::keyClick(panel.windowHandle(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).value<PanelCommand>(), PanelCommand::quit);

    for (auto* button : panel.findChildren<QAbstractButton*>()) {
        if (button->text() == QStringLiteral("Unpair iPhone")) button->click();
        if (button->text() == QStringLiteral("Dismiss")) button->click();
    }
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.takeFirst().at(0).value<PanelCommand>(), PanelCommand::unpair);
    EXPECT_EQ(dismissals.count(), 1);
}

}  // namespace
}  // namespace velopad

// The panel's widgets: every text a screen reader can find by the name it shows, the panel's
// order top to bottom, its width, and Ctrl+Q.

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

AgentViewState state(int devices, bool showing, bool locked, bool failed) {
    AgentViewState made;
    made.currentPIN = "482915";
    made.pairingQRString = "harborlink://pair?v=1&name=Studio%20Desk&code=abc";
    made.isListenerRunning = !failed;
    if (failed)
        made.listenerError = "Port 9847 is already in use. Quit the other Velopad Agent first.";
    for (int i = 0; i < devices; ++i)
        made.pairedDevices.push_back(PairedDevice{Uuid::random(), "Ana\u2019s iPhone", {"t"}, {}});
    made.isShowingPairingCode = showing;
    made.isLockedOut = locked;
    made.shortcutCoachMessage = "Allow the Shortcut in its command.";
    return made;
}

// Every shown text and button, as (text, accessible name, top edge in the panel).
struct Shown {
    std::string text;
    std::string name;
    int top;
};

std::vector<Shown> shownTexts(QWidget& panel) {
    std::vector<Shown> shown;
    for (QWidget* widget : panel.findChildren<QWidget*>()) {
        if (!widget->isVisibleTo(&panel)) continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
        if (text.isEmpty()) continue;
        shown.push_back({text.toStdString(), widget->accessibleName().toStdString(),
                         widget->mapTo(&panel, QPoint(0, 0)).y()});
    }
    return shown;
}

int topOf(const std::vector<Shown>& shown, const std::string& text) {
    for (const auto& item : shown)
        if (item.text == text) return item.top;
    ADD_FAILURE() << "\"" << text << "\" is not shown";
    return -1;
}

TEST(PanelWindow, EveryShownTextIsItsAccessibleNameInThePanelsOrder) {
    velopad::testing::qtApplication();
    struct Case {
        AgentViewState state;
        std::vector<std::string> topToBottom;
        bool showsCode;  // the QR code and the PIN
    };
    const Case cases[] = {
        {state(0, false, false, true),
         {"Velopad Agent", "Scan with iPhone", "Manual code", "482915",
          "Allow the Shortcut in its command.", "Dismiss", "Connection failed",
          "Port 9847 is already in use. Quit the other Velopad Agent first.", "Restart Agent",
          "Edit Deck", "Start at login", "Quit"},
         true},
        {state(1, false, false, false),
         {"Velopad Agent", "Ana\u2019s iPhone", "Dismiss", "Waiting for iPhone", "Restart Agent",
          "Edit Deck", "Show Pairing Code\u2026", "Unpair iPhone", "Start at login", "Quit"},
         false},
        {state(1, true, true, false),
         {"Velopad Agent", "Ana\u2019s iPhone", "Waiting for iPhone", "Hide Pairing Code",
          "Unpair iPhone", "Quit"},
         false},
        {state(0, false, true, false),
         {"Velopad Agent", "Pairing locked \u2014 too many failed attempts", "Quit"},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.topToBottom[1]);
        desktop::PanelWindow panel;
        panel.render(menuBarPanelContent(c.state));
        panel.show();
        EXPECT_EQ(panel.width(), 300);
        const auto shown = shownTexts(panel);
        for (const auto& item : shown) EXPECT_EQ(item.name, item.text);
        int previous = -1;
        for (const auto& text : c.topToBottom) {
            const int top = topOf(shown, text);
            EXPECT_GT(top, previous) << "\"" << text << "\" is out of order";
            previous = top;
        }
        EXPECT_EQ(panel.qrView().isVisibleTo(&panel), c.showsCode);
        EXPECT_EQ(std::count_if(shown.begin(), shown.end(),
                                [](const Shown& item) { return item.text == "482915"; }),
                  c.showsCode ? 1 : 0);
    }
}

TEST(PanelWindow, CtrlQAndTheButtonsReportTheirCommands) {
    velopad::testing::qtApplication();
    desktop::PanelWindow panel;
    panel.render(menuBarPanelContent(state(1, false, false, false)));
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

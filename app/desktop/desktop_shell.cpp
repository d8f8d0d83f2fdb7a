#include "app/desktop/desktop_shell.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <mutex>
#include <optional>

#include "app/panel/menu_bar_panel_content.h"

namespace velopad::desktop {

// Hands states from the io thread to the GUI thread. Only the newest state waits; one queued
// call at a time carries it over. Cut off when the shell ends, so a late state is dropped.
struct DesktopShell::Mailbox {
    std::mutex mutex;
    DesktopShell* shell = nullptr;
    std::optional<AgentViewState> waiting;

    void deliver(const AgentViewState& state) {
        std::lock_guard lock(mutex);
        if (!shell) return;
        const bool callQueued = waiting.has_value();
        waiting = state;
        if (callQueued) return;
        QMetaObject::invokeMethod(
            shell,
            [this] {
                std::optional<AgentViewState> state;
                DesktopShell* target = nullptr;
                {
                    std::lock_guard lock(mutex);
                    state.swap(waiting);
                    target = shell;
                }
                if (target && state) target->render(*state);
            },
            Qt::QueuedConnection);
    }
};

DesktopShell::DesktopShell(std::shared_ptr<AgentViewModel> viewModel, DesktopShellActions actions,
                           QObject* parent)
    : QObject(parent),
      viewModel_(std::move(viewModel)),
      actions_(std::move(actions)),
      mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->shell = this;
    connect(&panel_, &PanelWindow::commandRequested, this, &DesktopShell::perform);
    connect(&panel_, &PanelWindow::dismissRequested, this,
            [this] { viewModel_->post(&AgentViewModel::dismissShortcutCoach); });
    connect(&panel_, &PanelWindow::startAtLoginToggled, this, [this](bool enabled) {
        if (!actions_.setStartAtLogin) return;
        try {
            actions_.setStartAtLogin(enabled);
        } catch (const std::exception&) {
        }
        if (actions_.isStartAtLoginEnabled)
            panel_.setStartAtLogin(actions_.isStartAtLoginEnabled());
    });
    if (actions_.isStartAtLoginEnabled) panel_.setStartAtLogin(actions_.isStartAtLoginEnabled());
}

DesktopShell::~DesktopShell() {
    std::lock_guard lock(mailbox_->mutex);
    mailbox_->shell = nullptr;
}

void DesktopShell::start() {
    std::weak_ptr<Mailbox> mailbox = mailbox_;
    viewModel_->observe([mailbox](const AgentViewState& state) {
        if (const auto box = mailbox.lock()) box->deliver(state);
    });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(trayIcon(), this);
        tray_->setToolTip(QStringLiteral("Velopad Agent"));
        connect(
            tray_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
                    togglePanel();
                }
            });
        panel_.setFloating(true);
        tray_->show();
    } else {
        // Nowhere to sit: the panel is the application's window, so it stays reachable.
        panel_.setFloating(false);
        panel_.show();
    }
}

void DesktopShell::render(const AgentViewState& state) {
    panel_.render(menuBarPanelContent(state));
}

void DesktopShell::perform(PanelCommand command) {
    switch (command) {
        case PanelCommand::restartAgent:
            viewModel_->post(&AgentViewModel::restartListener);
            break;
        case PanelCommand::editDeck:
            if (panel_.isFloating()) panel_.hide();
            if (actions_.editDeck) actions_.editDeck();
            break;
        case PanelCommand::showPairingCode:
            viewModel_->post(&AgentViewModel::showPairingCode);
            break;
        case PanelCommand::hidePairingCode:
            viewModel_->post(&AgentViewModel::hidePairingCode);
            break;
        case PanelCommand::unpair:
            viewModel_->post(&AgentViewModel::unpair);
            break;
        case PanelCommand::quit:
            if (actions_.quit) actions_.quit();
            break;
    }
}

void DesktopShell::togglePanel() {
    if (panel_.isVisible()) {
        panel_.hide();
        return;
    }
    showPanel();
}

void DesktopShell::showPanel() {
    if (panel_.isFloating()) {
        panel_.adjustSize();
        placePanel();
    }
    panel_.show();
    panel_.raise();
    panel_.activateWindow();
}

void DesktopShell::placePanel() {
    const QRect icon = tray_ ? tray_->geometry() : QRect();
    const QPoint anchor = icon.isValid() ? icon.center() : QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(anchor);
    if (!screen) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1920, 1080);
    const QSize size = panel_.size();
    const int gap = 6;
    int x = anchor.x() - size.width() / 2;
    int y = 0;
    if (icon.isValid()) {
        // Below a tray at the top of the screen, above one at the bottom.
        y = icon.center().y() < area.center().y() ? icon.bottom() + gap
                                                  : icon.top() - gap - size.height();
    } else {
        y = anchor.y() < area.center().y() ? anchor.y() + gap : anchor.y() - gap - size.height();
    }
    x = std::clamp(x, area.left() + gap,
                   std::max(area.left() + gap, area.right() - size.width() - gap));
    y = std::clamp(y, area.top() + gap,
                   std::max(area.top() + gap, area.bottom() - size.height() - gap));
    panel_.move(x, y);
}

QIcon DesktopShell::trayIcon() {
    QIcon icon;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // Four rounded squares, light with a dark rim, so they read on light and dark panels.
        const qreal margin = side / 8.0;
        const qreal gap = side / 8.0;
        const qreal cell = (side - 2 * margin - gap) / 2;
        const qreal radius = cell / 4;
        painter.setPen(QPen(QColor(40, 40, 40, 200), std::max(1.0, side / 24.0)));
        painter.setBrush(QColor(236, 236, 236));
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 2; ++column) {
                painter.drawRoundedRect(
                    QRectF(margin + column * (cell + gap), margin + row * (cell + gap), cell, cell),
                    radius, radius);
            }
        }
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace velopad::desktop

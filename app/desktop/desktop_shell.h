#pragma once
// The agent on a desktop: the tray item and its panel, fed with the view model's state and
// posting the user's commands back to it. Lives on the Qt GUI thread; the view model lives on
// the agent's io thread, so states arrive by queued invocation and commands leave by post.

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "app/agent_view_model.h"
#include "app/desktop/panel_window.h"

namespace velopad::desktop {

struct DesktopShellActions {
    std::function<void()> editDeck;
    std::function<void()> quit;
    // The start-at-login switch: read once at start, written on every toggle. A write that
    // throws leaves the switch as the entry really is.
    std::function<bool()> isStartAtLoginEnabled;
    std::function<void(bool)> setStartAtLogin;
};

class DesktopShell : public QObject {
    Q_OBJECT

  public:
    DesktopShell(std::shared_ptr<AgentViewModel> viewModel, DesktopShellActions actions,
                 QObject* parent = nullptr);
    ~DesktopShell() override;

    // Shows the tray item, or the panel as an ordinary window when the desktop has no tray.
    void start();

    bool hasTrayItem() const { return tray_ != nullptr; }
    QSystemTrayIcon* trayItem() const { return tray_; }
    PanelWindow& panel() { return panel_; }

    // Shows the panel by the tray item (or near the pointer), or hides it when shown.
    void togglePanel();
    void showPanel();

    // The icon of the tray item: the 2 × 2 grid.
    static QIcon trayIcon();

  private:
    struct Mailbox;

    void render(const AgentViewState& state);
    void perform(PanelCommand command);
    void placePanel();

    std::shared_ptr<AgentViewModel> viewModel_;
    DesktopShellActions actions_;
    std::shared_ptr<Mailbox> mailbox_;
    PanelWindow panel_;
    QSystemTrayIcon* tray_ = nullptr;
};

}  // namespace velopad::desktop

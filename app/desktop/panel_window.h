#pragma once
// The tray panel: renders one MenuBarPanelContent, top to bottom, and reports the user's
// commands. It holds no state of the agent's own; every change arrives as new content.

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <map>

#include "app/panel/menu_bar_panel_content.h"

namespace velopad::desktop {

class PairingQRView;
class StatusDot;

class PanelWindow : public QWidget {
    Q_OBJECT

  public:
    static constexpr int panelWidth = 300;

    explicit PanelWindow(QWidget* parent = nullptr);

    // Shows the panel as a frameless panel by the tray item (true) or as an ordinary window
    // for desktops without a tray (false).
    void setFloating(bool floating);
    bool isFloating() const { return floating_; }

    void render(const MenuBarPanelContent& content);
    void setStartAtLogin(bool enabled);

    const MenuBarPanelContent& content() const { return content_; }
    PairingQRView& qrView() const { return *qrView_; }

  signals:
    void commandRequested(velopad::PanelCommand command);
    void dismissRequested();
    void startAtLoginToggled(bool enabled);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* label(const QString& objectName, bool secondary = false, bool wrap = true);
    QPushButton* commandButton(PanelCommand command);

    MenuBarPanelContent content_;
    bool floating_ = true;

    QLabel* title_;
    QWidget* pairingLine_;
    QLabel* pairingLineIcon_;
    QLabel* pairingLineText_;
    QWidget* pairingBlock_;
    QLabel* scanHeading_;
    PairingQRView* qrView_;
    QLabel* instruction_;
    QLabel* manualCodeLabel_;
    QLabel* pin_;
    QWidget* hint_;
    QLabel* hintIcon_;
    QLabel* hintText_;
    QPushButton* dismiss_;
    StatusDot* statusDot_;
    QLabel* statusText_;
    QLabel* errorLine_;
    QWidget* notices_;
    std::map<PanelCommand, QPushButton*> commands_;
    QCheckBox* startAtLogin_;
    QPushButton* quit_;
};

}  // namespace velopad::desktop

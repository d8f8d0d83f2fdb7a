#include "app/desktop/panel_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/desktop/fonts.h"
#include "app/desktop/glyphs.h"
#include "app/desktop/pairing_qr_view.h"

namespace velopad::desktop {

namespace {

QString text(const std::string& value) { return QString::fromStdString(value); }

QColor qColor(const PanelColor& color) {
    return QColor::fromRgbF(static_cast<float>(color.red), static_cast<float>(color.green),
                            static_cast<float>(color.blue), static_cast<float>(color.opacity));
}

QString colorStyle(const PanelColor& color) {
    return QStringLiteral("color: %1;").arg(qColor(color).name(QColor::HexArgb));
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color: rgba(128, 128, 128, 90);"));
    return line;
}

// Sets the shown text and the name screen readers announce together, so they never differ.
void setShownText(QLabel* label, const QString& value) {
    label->setText(value);
    label->setAccessibleName(value);
}

void setShownText(QAbstractButton* button, const QString& value) {
    button->setText(value);
    button->setAccessibleName(value);
}

}  // namespace

// The filled circle in front of the status text.
class StatusDot : public QWidget {
  public:
    explicit StatusDot(QWidget* parent) : QWidget(parent) { setFixedSize(8, 8); }
    void setColor(const QColor& color) {
        color_ = color;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        painter.drawEllipse(QRectF(rect()));
    }

  private:
    QColor color_;
};

PanelWindow::PanelWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("velopadPanel"));
    setWindowTitle(QStringLiteral("Velopad Agent"));
    setAccessibleName(QStringLiteral("Velopad Agent"));
    setFixedWidth(panelWidth);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(12);

    title_ = label(QStringLiteral("title"), false, false);
    title_->setFont(typographyFont(DeckTypography::Family::ui, 600, 13));
    layout->addWidget(title_);

    // Pairing area: one line (device names or the lock) or the pairing block.
    pairingLine_ = new QWidget(this);
    auto* lineLayout = new QHBoxLayout(pairingLine_);
    lineLayout->setContentsMargins(0, 0, 0, 0);
    lineLayout->setSpacing(6);
    pairingLineIcon_ = new QLabel(pairingLine_);
    pairingLineText_ = label(QStringLiteral("pairingLine"));
    lineLayout->addWidget(pairingLineIcon_, 0, Qt::AlignTop);
    lineLayout->addWidget(pairingLineText_, 1);
    layout->addWidget(pairingLine_);

    pairingBlock_ = new QWidget(this);
    auto* block = new QVBoxLayout(pairingBlock_);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(10);
    scanHeading_ = label(QStringLiteral("scanHeading"), true, false);
    scanHeading_->setFont(typographyFont(DeckTypography::Family::ui, 400, 9));
    block->addWidget(scanHeading_);
    auto* codeRow = new QHBoxLayout();
    codeRow->setSpacing(10);
    qrView_ = new PairingQRView(pairingBlock_);
    instruction_ = label(QStringLiteral("instruction"), true);
    codeRow->addWidget(qrView_, 0, Qt::AlignTop);
    codeRow->addWidget(instruction_, 1, Qt::AlignTop);
    block->addLayout(codeRow);
    block->addWidget(divider(pairingBlock_));
    auto* manual = new QVBoxLayout();
    manual->setSpacing(2);
    manualCodeLabel_ = label(QStringLiteral("manualCode"), true, false);
    manualCodeLabel_->setFont(typographyFont(DeckTypography::Family::ui, 400, 8));
    pin_ = label(QStringLiteral("pin"), false, false);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(12);
    mono.setWeight(QFont::DemiBold);
    mono.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    pin_->setFont(mono);
    pin_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    manual->addWidget(manualCodeLabel_);
    manual->addWidget(pin_);
    block->addLayout(manual);
    layout->addWidget(pairingBlock_);

    // Shortcut hint with its "Dismiss" button, then a divider.
    hint_ = new QWidget(this);
    auto* hintLayout = new QVBoxLayout(hint_);
    hintLayout->setContentsMargins(0, 0, 0, 0);
    hintLayout->setSpacing(6);
    auto* hintRow = new QHBoxLayout();
    hintRow->setSpacing(6);
    hintIcon_ = new QLabel(hint_);
    hintIcon_->setPixmap(glyphPixmap("exclamationmark.shield", 16, qColor(PanelColors::hint)));
    hintText_ = label(QStringLiteral("hint"));
    hintRow->addWidget(hintIcon_, 0, Qt::AlignTop);
    hintRow->addWidget(hintText_, 1);
    hintLayout->addLayout(hintRow);
    dismiss_ = new QPushButton(hint_);
    dismiss_->setObjectName(QStringLiteral("dismiss"));
    hintLayout->addWidget(dismiss_, 0, Qt::AlignLeft);
    hintLayout->addWidget(divider(hint_));
    connect(dismiss_, &QPushButton::clicked, this, &PanelWindow::dismissRequested);
    layout->addWidget(hint_);

    layout->addWidget(divider(this));

    // Status row, error line and notices.
    auto* statusRow = new QHBoxLayout();
    statusRow->setSpacing(6);
    statusDot_ = new StatusDot(this);
    statusText_ = label(QStringLiteral("status"), true, false);
    statusRow->addWidget(statusDot_, 0, Qt::AlignVCenter);
    statusRow->addWidget(statusText_, 1);
    layout->addLayout(statusRow);
    errorLine_ = label(QStringLiteral("error"));
    errorLine_->setStyleSheet(colorStyle(PanelColors::failed));
    layout->addWidget(errorLine_);
    notices_ = new QWidget(this);
    auto* noticeLayout = new QVBoxLayout(notices_);
    noticeLayout->setContentsMargins(0, 0, 0, 0);
    noticeLayout->setSpacing(4);
    layout->addWidget(notices_);

    // Commands.
    auto* commandLayout = new QVBoxLayout();
    commandLayout->setSpacing(2);
    for (const auto command :
         {PanelCommand::restartAgent, PanelCommand::editDeck, PanelCommand::showPairingCode,
          PanelCommand::hidePairingCode, PanelCommand::unpair}) {
        commandLayout->addWidget(commandButton(command));
    }
    layout->addLayout(commandLayout);
    startAtLogin_ = new QCheckBox(this);
    startAtLogin_->setObjectName(QStringLiteral("startAtLogin"));
    connect(startAtLogin_, &QCheckBox::toggled, this, &PanelWindow::startAtLoginToggled);
    layout->addWidget(startAtLogin_);
    quit_ = commandButton(PanelCommand::quit);
    // Ctrl+Q quits wherever the focus is in the panel.
    auto* quitShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quitShortcut->setContext(Qt::WindowShortcut);
    connect(quitShortcut, &QShortcut::activated, this,
            [this] { emit commandRequested(PanelCommand::quit); });
    layout->addWidget(quit_);

    setFloating(true);
    render(menuBarPanelContent(AgentViewState{}));
}

QLabel* PanelWindow::label(const QString& objectName, bool secondary, bool wrap) {
    auto* made = new QLabel(this);
    made->setObjectName(objectName);
    made->setWordWrap(wrap);
    made->setTextFormat(Qt::PlainText);
    if (secondary) {
        QPalette palette = made->palette();
        QColor color = palette.color(QPalette::WindowText);
        color.setAlphaF(0.62f);
        palette.setColor(QPalette::WindowText, color);
        made->setPalette(palette);
    }
    return made;
}

QPushButton* PanelWindow::commandButton(PanelCommand command) {
    auto* button = new QPushButton(this);
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(
        QStringLiteral("QPushButton { text-align: left; padding: 4px 6px; border-radius: 5px; }"
                       "QPushButton:hover { background: rgba(128, 128, 128, 50); }"
                       "QPushButton:focus { border: 1px solid rgba(128, 128, 128, 110); }"));
    connect(button, &QPushButton::clicked, this,
            [this, command] { emit commandRequested(command); });
    commands_[command] = button;
    return button;
}

void PanelWindow::setFloating(bool floating) {
    floating_ = floating;
    const bool wasVisible = isVisible();
    if (floating) {
        setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    } else {
        setWindowFlags(Qt::Window);
    }
    if (wasVisible) show();
}

void PanelWindow::render(const MenuBarPanelContent& content) {
    content_ = content;
    setShownText(title_, text(content.title));

    const bool line = content.pairingLine.has_value();
    pairingLine_->setVisible(line);
    if (line) {
        setShownText(pairingLineText_, text(content.pairingLine->text));
        const QColor color = content.pairingLine->color ? qColor(*content.pairingLine->color)
                                                        : palette().color(QPalette::WindowText);
        pairingLineIcon_->setPixmap(glyphPixmap(content.pairingLine->symbol, 16, color));
        pairingLineText_->setStyleSheet(
            content.pairingLine->color ? colorStyle(*content.pairingLine->color) : QString());
    }
    pairingBlock_->setVisible(content.pairingBlock.has_value());
    if (content.pairingBlock) {
        setShownText(scanHeading_, text(content.pairingBlock->heading));
        qrView_->setQRString(text(content.pairingBlock->qrString));
        setShownText(instruction_, text(content.pairingBlock->instruction));
        setShownText(manualCodeLabel_, text(content.pairingBlock->manualCodeLabel));
        setShownText(pin_, text(content.pairingBlock->pin));
    }

    hint_->setVisible(content.shortcutHint.has_value());
    if (content.shortcutHint) {
        setShownText(hintText_, text(content.shortcutHint->line.text));
        setShownText(dismiss_, text(content.shortcutHint->dismissTitle));
    }

    statusDot_->setColor(qColor(content.statusColor));
    setShownText(statusText_, text(content.statusText));
    errorLine_->setVisible(content.errorLine.has_value());
    if (content.errorLine) setShownText(errorLine_, text(*content.errorLine));

    // Notices: one label each, reused.
    auto* noticeLayout = notices_->layout();
    while (noticeLayout->count() > static_cast<int>(content.notices.size())) {
        delete noticeLayout->takeAt(noticeLayout->count() - 1)->widget();
    }
    while (noticeLayout->count() < static_cast<int>(content.notices.size())) {
        auto* notice = label(QStringLiteral("notice"));
        notice->setStyleSheet(colorStyle(PanelColors::starting));
        noticeLayout->addWidget(notice);
    }
    for (int i = 0; i < noticeLayout->count(); ++i) {
        setShownText(static_cast<QLabel*>(noticeLayout->itemAt(i)->widget()),
                     text(content.notices[static_cast<std::size_t>(i)]));
    }
    notices_->setVisible(!content.notices.empty());

    for (auto& [command, button] : commands_) {
        if (command == PanelCommand::quit) continue;
        button->setVisible(false);
    }
    for (const auto& item : content.commands) {
        auto* button = commands_.at(item.command);
        setShownText(button, text(item.title));
        button->setVisible(true);
    }
    setShownText(startAtLogin_, text(content.startAtLoginTitle));
    setShownText(quit_, text(content.quit.title));
    // 300 wide; as tall as the wrapped texts need.
    layout()->activate();
    setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(panelWidth)
                                                 : layout()->totalSizeHint().height());
}

void PanelWindow::setStartAtLogin(bool enabled) {
    const QSignalBlocker blocker(startAtLogin_);
    startAtLogin_->setChecked(enabled);
}

void PanelWindow::paintEvent(QPaintEvent*) {
    if (!floating_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(128, 128, 128, 110), 1));
    painter.setBrush(palette().color(QPalette::Window));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

void PanelWindow::keyPressEvent(QKeyEvent* event) {
    if (floating_ && event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    if (floating_) {
        QWidget::closeEvent(event);
        return;
    }
    // Without a tray this window is the only way back to the agent: closing it keeps it in the
    // task bar; "Quit" ends the agent.
    event->ignore();
    showMinimized();
}

}  // namespace velopad::desktop

#include "app/desktop/editor/deck_editor_window_presenter.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace velopad::desktop {

DeckEditorWindowPresenter::DeckEditorWindowPresenter(std::function<DeckEditorContext()> makeContext,
                                                     QObject* parent)
    : QObject(parent), makeContext_(std::move(makeContext)) {}

DeckEditorWindowPresenter::~DeckEditorWindowPresenter() { delete window_.data(); }

void DeckEditorWindowPresenter::show() {
    if (!window_) {
        window_ = new DeckEditorWindow(makeContext_());
        // Closing ends the window; the next show makes a new one.
        window_->setAttribute(Qt::WA_DeleteOnClose);
    }
    place();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void DeckEditorWindowPresenter::close() {
    if (window_) window_->close();
}

void DeckEditorWindowPresenter::place() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = window_->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect visible = screen->availableGeometry();
    QRect frame(QPoint(), window_->frameGeometry().size());
    frame.moveCenter(visible.center());
    if (window_->screen() != screen) window_->setScreen(screen);
    window_->move(frame.topLeft());
    window_->update();
}

}  // namespace velopad::desktop

#include "app/desktop/deck_editor_launch.h"

#include <QLabel>
#include <QVBoxLayout>

#include "app/agent.h"

namespace velopad::desktop {

DeckEditorLaunch::DeckEditorLaunch(Agent& agent) : agent_(agent) {}

DeckEditorLaunch::~DeckEditorLaunch() { close(); }

void DeckEditorLaunch::show() {
    if (!window_) {
        auto* window = new QWidget();
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Edit Deck"));
        auto* layout = new QVBoxLayout(window);
        auto* note = new QLabel(QStringLiteral("Edit Deck"), window);
        note->setAccessibleName(note->text());
        layout->addWidget(note);
        window->resize(1120, 780);
        window_ = window;
    }
    (void)agent_;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void DeckEditorLaunch::close() {
    if (window_) window_->close();
}

}  // namespace velopad::desktop

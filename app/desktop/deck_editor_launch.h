#pragma once
// Opens the deck editor from the panel's "Edit Deck" and closes it when the agent quits.

#include <QPointer>
#include <QWidget>

namespace velopad {
class Agent;
}

namespace velopad::desktop {

class DeckEditorLaunch {
  public:
    explicit DeckEditorLaunch(Agent& agent);
    ~DeckEditorLaunch();
    DeckEditorLaunch(const DeckEditorLaunch&) = delete;
    DeckEditorLaunch& operator=(const DeckEditorLaunch&) = delete;

    void show();
    void close();

  private:
    Agent& agent_;
    QPointer<QWidget> window_;
};

}  // namespace velopad::desktop

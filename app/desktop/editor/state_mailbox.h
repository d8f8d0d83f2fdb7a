#pragma once
// Hands the newest editor state from the model's strand to a widget on the GUI thread. Posting
// never blocks: the state is parked and one queued call delivers whatever is newest when the
// GUI thread gets to it, so a burst of changes costs one repaint. Once the widget detaches (in
// its destructor), nothing more is delivered.

#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace velopad::desktop {

template <class State>
class StateMailbox : public std::enable_shared_from_this<StateMailbox<State>> {
  public:
    using Receiver = std::function<void(const State&)>;

    // `target` lives on the GUI thread; `receive` runs there.
    StateMailbox(QObject* target, Receiver receive)
        : target_(target), receive_(std::move(receive)) {}

    // From any thread.
    void post(const State& state) {
        std::lock_guard lock(mutex_);
        if (!target_) return;
        const bool idle = !parked_.has_value();
        parked_ = state;
        if (!idle) return;  // a delivery is already on its way and will take this one
        QMetaObject::invokeMethod(
            target_, [self = this->shared_from_this()] { self->deliver(); }, Qt::QueuedConnection);
    }

    // Runs `action` on the GUI thread unless the target has detached by then.
    void run(std::function<void()> action) {
        std::lock_guard lock(mutex_);
        if (!target_) return;
        QMetaObject::invokeMethod(
            target_,
            [self = this->shared_from_this(), action = std::move(action)] {
                if (self->attached()) action();
            },
            Qt::QueuedConnection);
    }

    // On the GUI thread, before the target goes away.
    void detach() {
        std::lock_guard lock(mutex_);
        target_ = nullptr;
        parked_.reset();
    }

  private:
    bool attached() {
        std::lock_guard lock(mutex_);
        return target_ != nullptr;
    }

    void deliver() {
        std::optional<State> state;
        {
            std::lock_guard lock(mutex_);
            if (!target_) return;
            state.swap(parked_);
        }
        if (state) receive_(*state);
    }

    std::mutex mutex_;
    QObject* target_;
    Receiver receive_;
    std::optional<State> parked_;
};

}  // namespace velopad::desktop

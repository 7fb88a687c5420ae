// How the control calls out to its host safely: guards that survive the control's destruction
// inside a handler, and the one template through which every event is raised.
#pragma once

#include "ondrel/ondrel.h"

namespace lantry {

// Lives on the stack while a handler runs. The destructor of Ondrel marks every guard in the
// chain, so code that resumes after a handler learns that `this` is gone without touching it.
struct Ondrel::CallbackGuard {
    explicit CallbackGuard(Ondrel& control) : control(control), outer(control.guards_) {
        control.guards_ = this;
    }
    ~CallbackGuard() {
        if (!destroyed)
            control.guards_ = outer;
    }
    CallbackGuard(const CallbackGuard&) = delete;
    CallbackGuard& operator=(const CallbackGuard&) = delete;

    Ondrel& control;
    CallbackGuard* outer;
    bool destroyed = false;
};

// Marks a socket notification in progress: handler exceptions are contained inside it.
class Ondrel::NotificationScope {
public:
    explicit NotificationScope(Ondrel& control) : guard_(control) { ++control.notificationDepth_; }
    ~NotificationScope() {
        if (!guard_.destroyed)
            --guard_.control.notificationDepth_;
    }
    NotificationScope(const NotificationScope&) = delete;
    NotificationScope& operator=(const NotificationScope&) = delete;
    bool controlDestroyed() const { return guard_.destroyed; }

private:
    CallbackGuard guard_;
};

template <class Fire>
bool Ondrel::raise(Fire&& fire) {
    if (events_ == nullptr)
        return true;
    const auto generation = connectionGeneration_;
    CallbackGuard guard(*this);
    if (notificationDepth_ > 0) {
        try {
            fire(*events_);
        } catch (...) {
            // A failing handler must not break the receive path; the step is skipped.
        }
    } else {
        fire(*events_);
    }
    return !guard.destroyed && generation == connectionGeneration_;
}

}  // namespace lantry

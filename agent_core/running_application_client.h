#pragma once
// A handle on one running instance of an application.

#include <functional>

#include "agent_core/async.h"

namespace velopad {

struct RunningApplicationClient {
    // Brings the application's window forward. True when the desktop accepted the activation,
    // false when there is no window that can be activated (no display, no matching window, or
    // the window manager refused it). Never throws.
    std::function<Task<bool>()> activate;
};

}  // namespace velopad

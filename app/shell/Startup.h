// The delayed start asked for by the argument "startup".
#pragma once

#include "shell/CaptureSettings.h"

#include <functional>
#include <string>
#include <vector>

namespace quell {

struct DelayedStartHooks {
    // Shows the countdown for `seconds`; true when it ended with OK.
    std::function<bool(int seconds)> countdown;
    // Waits `seconds` with no window.
    std::function<void(int seconds)> sleep;
};

// Every argument (the program name included) that is exactly "startup"
// waits once: with the countdown when the dialog setting is exactly "on",
// silently otherwise; a timer of 0 or less does nothing. Returns false when
// a countdown was cancelled: the program then ends without its window.
bool DelayedStart(const std::vector<std::string>& args, const StartupSettings& settings,
                  const DelayedStartHooks& hooks);

}  // namespace quell

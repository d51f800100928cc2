// Delayed start: "startup" arguments wait, silently or with the countdown.
#include "shell/Startup.h"

namespace quell {

bool DelayedStart(const std::vector<std::string>& args, const StartupSettings& settings,
                  const DelayedStartHooks& hooks)
{
    for (const std::string& arg : args) {
        if (arg != "startup" || settings.timerSeconds <= 0)
            continue;
        if (settings.dialog == "on") {
            if (!hooks.countdown(settings.timerSeconds))
                return false;
        } else {
            hooks.sleep(settings.timerSeconds);
        }
    }
    return true;
}

}  // namespace quell

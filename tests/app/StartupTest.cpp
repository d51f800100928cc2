// The delayed start: which arguments wait, how long, and with what.
#include "shell/Startup.h"

#include <gtest/gtest.h>

namespace quell {
namespace {

struct DelayCase {
    const char* label;
    std::vector<std::string> args;
    int timer;
    const char* dialog;
    bool countdownOk;
    bool expectStart;
    std::vector<int> expectSleeps;
    std::vector<int> expectCountdowns;
};

TEST(DelayedStart, WaitsOncePerExactStartupArgument)
{
    const std::vector<DelayCase> cases = {
        {"no argument", {"capture"}, 5, "off", true, true, {}, {}},
        {"other case", {"capture", "STARTUP"}, 5, "off", true, true, {}, {}},
        {"leading slash", {"capture", "/startup"}, 5, "off", true, true, {}, {}},
        {"silent wait", {"capture", "startup"}, 5, "off", true, true, {5}, {}},
        {"unknown dialog value waits silently", {"capture", "startup"}, 5, "On", true, true, {5}, {}},
        {"countdown", {"capture", "startup"}, 5, "on", true, true, {}, {5}},
        {"countdown cancelled", {"capture", "startup"}, 5, "on", false, false, {}, {5}},
        {"twice", {"capture", "startup", "startup"}, 3, "off", true, true, {3, 3}, {}},
        {"program name counts", {"startup"}, 2, "off", true, true, {2}, {}},
        {"zero timer", {"capture", "startup"}, 0, "on", true, true, {}, {}},
        {"negative timer", {"capture", "startup"}, -4, "off", true, true, {}, {}},
    };
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<int> sleeps;
        std::vector<int> countdowns;
        DelayedStartHooks hooks;
        hooks.sleep = [&](int seconds) { sleeps.push_back(seconds); };
        hooks.countdown = [&](int seconds) {
            countdowns.push_back(seconds);
            return c.countdownOk;
        };
        StartupSettings settings;
        settings.timerSeconds = c.timer;
        settings.dialog = c.dialog;
        EXPECT_EQ(DelayedStart(c.args, settings, hooks), c.expectStart);
        EXPECT_EQ(sleeps, c.expectSleeps);
        EXPECT_EQ(countdowns, c.expectCountdowns);
    }
}

}  // namespace
}  // namespace quell

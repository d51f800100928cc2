// Whole-step counting with the remainder carried to the next step, the real
// clock the steps are counted from, and the stream clock.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace quell {
namespace {

TEST(ConsumeSteps, CountsWholeStepsAndCarriesTheRest)
{
    uint32_t last = 1000;
    EXPECT_EQ(ConsumeSteps(1032, last), 0u);
    EXPECT_EQ(last, 1000u) << "less than a step leaves the tick alone";
    EXPECT_EQ(ConsumeSteps(1100, last), 3u);
    EXPECT_EQ(last, 1099u) << "1 ms carried to the next step";
    EXPECT_EQ(ConsumeSteps(1131, last), 0u);
    EXPECT_EQ(ConsumeSteps(1132, last), 1u);
    last = 0xFFFFFFFFu - 10;
    EXPECT_EQ(ConsumeSteps(22, last), 1u) << "wraps through zero";
    EXPECT_EQ(last, 22u);
}

// The reading is the steady clock in whole milliseconds, truncated to 32
// bits: it lies between two steady-clock readings taken around it. A clock in
// another unit, or the wall clock, falls outside.
TEST(MonotonicClock, ReadsTheSteadyClockInMilliseconds)
{
    const auto steadyMs = [] {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
    };
    const uint32_t before = steadyMs();
    const uint32_t reading = MonotonicClock::Instance().NowMs();
    const uint32_t after = steadyMs();
    // Unsigned differences, so a wrap between the readings is harmless.
    EXPECT_LE(reading - before, after - before);
}

// Frames as the element hands them over: running time (none: no timestamp)
// and duration, in ms; the reading expected after each.
struct StreamCase {
    const char* what;
    struct Frame {
        std::optional<uint64_t> runningMs;
        uint64_t durationMs;
        uint32_t expectMs;
    };
    std::vector<Frame> frames;
};

TEST(StreamClock, FollowsRunningTimeAndReckonsFramesWithoutOne)
{
    constexpr std::nullopt_t none = std::nullopt;
    const StreamCase cases[] = {
        {"running time as it comes, from the first frame's", {{5000, 40, 5000}, {5040, 40, 5040}, {5100, 40, 5100}}},
        {"no timestamp: the previous frame's time plus its duration",
         {{0, 40, 0}, {none, 20, 40}, {none, 0, 60}, {80, 40, 80}}},
        {"no timestamp, no duration known: one animation step", {{100, 0, 100}, {none, 0, 133}, {none, 0, 166}}},
        {"first frame without a timestamp starts at 0", {{none, 50, 0}, {none, 50, 50}, {120, 50, 120}}},
        {"a step back holds the clock, which moves on from there",
         {{1000, 40, 1000}, {1040, 40, 1040}, {0, 40, 1040}, {40, 40, 1080}}},
        {"a reckoned frame beyond the next timestamp: held, not rewound",
         {{0, 100, 0}, {none, 100, 100}, {50, 100, 100}, {150, 100, 200}}},
    };
    for (const StreamCase& c : cases) {
        StreamClock clock;
        for (size_t i = 0; i < c.frames.size(); ++i) {
            const auto& f = c.frames[i];
            clock.NextFrame(f.runningMs ? std::optional<uint64_t>(*f.runningMs * 1000000u) : std::nullopt,
                            f.durationMs * 1000000u);
            EXPECT_EQ(clock.NowMs(), f.expectMs) << c.what << ", frame " << i;
        }
        clock.Reset();
        clock.NextFrame(7000000u, 0);
        EXPECT_EQ(clock.NowMs(), 7u) << c.what << ": after a reset the next frame starts afresh";
    }
}

TEST(ChosenClock, ReadsTheClockChosen)
{
    ManualClock wall{500};
    StreamClock stream;
    stream.NextFrame(uint64_t{2000} * 1000000u, 0);
    ChosenClock chosen(wall, stream);
    EXPECT_EQ(chosen.NowMs(), 500u);
    chosen.FollowStream(true);
    EXPECT_EQ(chosen.NowMs(), 2000u);
    wall.Advance(100);
    EXPECT_EQ(chosen.NowMs(), 2000u) << "the wall clock does not move it";
}

}  // namespace
}  // namespace quell

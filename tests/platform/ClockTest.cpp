// Whole-step counting with the remainder carried to the next step, and the
// real clock the steps are counted from.
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <chrono>

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

}  // namespace
}  // namespace quell

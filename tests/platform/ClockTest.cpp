// Whole-step counting with the remainder carried to the next step.
#include "platform/Clock.h"

#include <gtest/gtest.h>

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

TEST(MonotonicClock, NeverRunsBackwards)
{
    const uint32_t a = MonotonicClock::Instance().NowMs();
    const uint32_t b = MonotonicClock::Instance().NowMs();
    EXPECT_LT(b - a, 1000u);
}

}  // namespace
}  // namespace quell

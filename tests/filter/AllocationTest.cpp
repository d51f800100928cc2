// The frame step allocates almost nothing once it has warmed up: a followed
// face with its marker, the typed profile, a power count and a score line
// whose clock changes every frame, counted call by call on the streaming
// thread.
#include "filter/HudText.h"
#include "filter/TransEffectFilter.h"
#include "support/CountingAllocator.h"
#include "support/FilterRig.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace quell {
namespace {

constexpr int kWarmUpFrames = 100;
constexpr int kCountedFrames = 100;
constexpr uint64_t kMostPerFrame = 5;

// A wall clock for the score line that moves on by 37 ms at every reading,
// so that its digits change in every frame.
LocalTime TickingTime()
{
    static uint64_t ms = 0;
    ms += 37;
    const uint64_t s = ms / 1000;
    return {2024, 2, 29, static_cast<int>(s / 3600 % 24), static_cast<int>(s / 60 % 60), static_cast<int>(s % 60),
            static_cast<int>(ms % 1000)};
}

class AllocationTest : public ::testing::TestWithParam<cv::Size> {};

TEST_P(AllocationTest, FrameStepWithAFaceAndTheOverlayAllocatesAtMostFiveTimes)
{
    const cv::Size size = GetParam();
    test::Scene scene;
    ASSERT_TRUE(scene.Valid());
    // The photograph sways, so that the face keeps moving and its points
    // stay alive.
    const double scale = 0.8 * size.height / 512.0;
    std::vector<cv::Mat> clip;
    for (int i = 0; i < 40; ++i) {
        const int offset = i < 20 ? 3 * i : 3 * (40 - i);
        clip.push_back(scene.Render(size, scale, size.width / 4.0 + offset, size.height / 10.0 + offset / 3));
    }

    test::FilterRig rig;
    rig.filter->SetDataDir(QUELL_DATA_DIR);
    rig.filter->Hud().SetLocalTimeSource(&TickingTime);
    cv::Mat frame(size, CV_8UC4);
    int i = 0;
    for (; i < 40 && rig.filter->FaceCount() == 0; ++i) {
        clip[i % clip.size()].copyTo(frame);
        rig.Step(frame);
        rig.RunPass();
    }
    ASSERT_GT(rig.filter->FaceCount(), 0u) << "the face was not found";

    // Nine seconds of warm-up: the profile is typed out in full, the ring
    // has filled and the power is counting up.
    for (int k = 0; k < kWarmUpFrames; ++k, ++i) {
        clip[i % clip.size()].copyTo(frame);
        rig.filter->Transform(frame.data, frame.cols, frame.rows, frame.step);
        rig.clock.Advance(90);
    }
    CHudText& hud = rig.filter->Hud();
    ASSERT_FALSE(hud.ProfileText().empty());
    ASSERT_EQ(hud.ProfileLayout().Text(), hud.ProfileText()) << "the profile is typed out";

    std::vector<uint64_t> counts;
    int scoreChanges = 0;
    std::string score = hud.ScoreLayout().Text();
    for (int k = 0; k < kCountedFrames; ++k, ++i) {
        clip[i % clip.size()].copyTo(frame);
        test::AllocationCounter::Start();
        rig.filter->Transform(frame.data, frame.cols, frame.rows, frame.step);
        counts.push_back(test::AllocationCounter::Stop());
        rig.clock.Advance(kStepMs);
        scoreChanges += hud.ScoreLayout().Text() != score;
        score = hud.ScoreLayout().Text();
    }
    EXPECT_GT(rig.filter->FaceCount(), 0u) << "the face was followed throughout";
    EXPECT_EQ(scoreChanges, kCountedFrames) << "the score line changed in every frame";

    const uint64_t most = *std::max_element(counts.begin(), counts.end());
    const double mean = std::accumulate(counts.begin(), counts.end(), 0.0) / static_cast<double>(counts.size());
    // The figure the README quotes.
    std::printf("heap allocations per frame at %dx%d: mean %.2f, most %llu\n", size.width, size.height, mean,
                static_cast<unsigned long long>(most));
    EXPECT_LE(mean, static_cast<double>(kMostPerFrame)) << "mean allocations per frame at " << size;
    std::string perFrame;
    for (const uint64_t n : counts)
        perFrame += std::to_string(n) + " ";
    EXPECT_LE(most, kMostPerFrame) << "most allocations in one frame at " << size << "; per frame: " << perFrame;
    if (most > kMostPerFrame) {
        // One more frame with the call stacks kept, to show where they are.
        clip[i % clip.size()].copyTo(frame);
        test::AllocationCounter::Start(true);
        rig.filter->Transform(frame.data, frame.cols, frame.rows, frame.step);
        test::AllocationCounter::Stop();
        test::AllocationCounter::PrintRecorded();
    }
}

INSTANTIATE_TEST_SUITE_P(FrameSizes, AllocationTest, ::testing::Values(cv::Size(640, 480), cv::Size(1920, 1080)),
                         [](const ::testing::TestParamInfo<cv::Size>& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

}  // namespace
}  // namespace quell

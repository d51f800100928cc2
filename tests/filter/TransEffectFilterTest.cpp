// Frame step, worker hand-off, step clock and control interface of the
// filter core, driven with a hand-moved clock and synthetic frames.
#include "filter/TransEffectFilter.h"

#include "support/FilterAccess.h"
#include "support/Frames.h"
#include "support/HudPicture.h"
#include "support/RecordingSoundPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace quell {


namespace {

using test::MaxColourDiff;
using test::MaxColourDiffIn;
using test::OverlayFreeRect;
using test::TintedPicture;
using test::PatternFrame;

class FilterTest : public ::testing::Test {
protected:
    FilterTest() : m_clock(1000) {}

    std::unique_ptr<CTransEffectFilter> Make(bool worker = false)
    {
        FilterPlatform platform;
        platform.clock = &m_clock;
        platform.sound = &m_sound;
        platform.startWorker = worker;
        return std::make_unique<CTransEffectFilter>(platform);
    }

    // Runs one frame step on a copy of `in` and returns what leaves.
    static cv::Mat Step(CTransEffectFilter& filter, const cv::Mat& in)
    {
        cv::Mat frame = in.clone();
        filter.Transform(frame.data, frame.cols, frame.rows, frame.step);
        return frame;
    }

    ManualClock m_clock;
    RecordingSoundPlayer m_sound;
};

TEST_F(FilterTest, OutputIsGreyPictureOfPreviousFrameAndFirstFrameIsBlack)
{
    auto filter = Make();
    const cv::Mat a = PatternFrame(640, 480, 1);
    const cv::Mat b = PatternFrame(640, 480, 2);
    const cv::Mat c = PatternFrame(640, 480, 3);

    const cv::Mat first = Step(*filter, a);
    // Compared where the overlay draws nothing.
    const cv::Rect free = OverlayFreeRect(640, 480);
    ASSERT_GT(free.area(), 640 * 300);
    EXPECT_EQ(MaxColourDiffIn(first, cv::Mat::zeros(480, 640, CV_8UC4), free), 0) << "first frame must be black";
    EXPECT_EQ(MaxColourDiffIn(Step(*filter, b), TintedPicture(a), free), 0);
    EXPECT_EQ(MaxColourDiffIn(Step(*filter, c), TintedPicture(b), free), 0);
}

TEST_F(FilterTest, SizeChangeRebuildsImagesStartingBlack)
{
    auto filter = Make();
    Step(*filter, PatternFrame(640, 480, 1));
    EXPECT_EQ(FilterTestAccess::PanelHeight(*filter), 60);

    const cv::Mat small1 = PatternFrame(320, 240, 4);
    const cv::Mat afterChange = Step(*filter, small1);
    ASSERT_EQ(afterChange.size(), cv::Size(320, 240));
    EXPECT_EQ(MaxColourDiffIn(afterChange, cv::Mat::zeros(240, 320, CV_8UC4), OverlayFreeRect(320, 240)), 0);
    EXPECT_EQ(FilterTestAccess::PanelHeight(*filter), 30);
    EXPECT_EQ(MaxColourDiffIn(Step(*filter, PatternFrame(320, 240, 5)), TintedPicture(small1), OverlayFreeRect(320, 240)),
              0);

    const cv::Mat big = Step(*filter, PatternFrame(1280, 720, 6));
    EXPECT_EQ(MaxColourDiffIn(big, cv::Mat::zeros(720, 1280, CV_8UC4), OverlayFreeRect(1280, 720)), 0);
}

TEST_F(FilterTest, RebuildingWorkImagesKeepsTheFaces)
{
    auto filter = Make();
    filter->WithFaces([this](auto& faces) { faces.push_back(std::make_unique<CFaceData>(m_clock, 1u)); });
    FilterTestAccess::Build(*filter, 640, 480);
    FilterTestAccess::Build(*filter, 320, 240);
    EXPECT_EQ(filter->FaceCount(), 1u);
}

TEST_F(FilterTest, PaddedRowsAreHonouredAndPaddingIsNotTouched)
{
    auto filter = Make();
    const int w = 33, h = 17;
    const size_t stride = w * 4 + 28;
    std::vector<uint8_t> buffer(stride * h, 0xAB);
    const cv::Mat a = PatternFrame(w, h, 7);
    auto load = [&](const cv::Mat& src) {
        for (int y = 0; y < h; ++y)
            std::memcpy(&buffer[y * stride], src.ptr(y), w * 4);
    };
    load(a);
    filter->Transform(buffer.data(), w, h, stride);
    load(PatternFrame(w, h, 8));
    filter->Transform(buffer.data(), w, h, stride);

    const cv::Mat out(h, w, CV_8UC4, buffer.data(), stride);
    // A frame this small is all overlay and panel; the picture itself is
    // compared where the overlay leaves it, if anywhere.
    const cv::Rect free = OverlayFreeRect(w, h);
    EXPECT_EQ(MaxColourDiffIn(out, TintedPicture(a), free), 0);
    for (int y = 0; y < h; ++y)
        for (size_t i = w * 4; i < stride; ++i)
            ASSERT_EQ(buffer[y * stride + i], 0xAB) << "padding of row " << y << " was written";
}

TEST_F(FilterTest, TinyAndOddFramesAndBadArguments)
{
    auto filter = Make();
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 2), cv::Size(3, 1), cv::Size(1, 5), cv::Size(641, 479)}) {
        const cv::Mat in = PatternFrame(size.width, size.height, 2);
        Step(*filter, in);
        const cv::Mat out = Step(*filter, PatternFrame(size.width, size.height, 3));
        EXPECT_EQ(MaxColourDiffIn(out, TintedPicture(in), OverlayFreeRect(size.width, size.height)), 0) << size;
    }
    uint8_t pixel[4] = {};
    EXPECT_THROW(filter->Transform(nullptr, 1, 1, 4), std::invalid_argument);
    EXPECT_THROW(filter->Transform(pixel, 0, 1, 4), std::invalid_argument);
    EXPECT_THROW(filter->Transform(pixel, 2, 1, 4), std::invalid_argument) << "stride below 4 * width";
}

TEST_F(FilterTest, StepClockCountsWholeStepsCarriesRemainderAndCaps)
{
    auto filter = Make();
    const cv::Mat frame = PatternFrame(16, 16, 1);
    const uint32_t start = FilterTestAccess::LastTick(*filter);
    EXPECT_EQ(start, 1000u);

    m_clock.Advance(32);
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 0u);
    EXPECT_EQ(FilterTestAccess::LastTick(*filter), start);

    m_clock.Advance(67);  // 99 ms after the last counted step: three steps
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 99u);
    EXPECT_EQ(FilterTestAccess::LastTick(*filter), start + 99);

    m_clock.Advance(50);  // one step, 17 ms carried
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 132u);
    EXPECT_EQ(FilterTestAccess::LastTick(*filter), start + 132);
    m_clock.Advance(16);  // 17 + 16 = 33: the carried remainder completes a step
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 165u);

    m_clock.Advance(200000);
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 100000u);
    m_clock.Advance(5000);
    Step(*filter, frame);
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 100000u);
}

TEST_F(FilterTest, StepClockSurvivesWrapAroundOfTheMillisecondCounter)
{
    m_clock.Set(0xFFFFFFF0u);
    auto filter = Make();
    m_clock.Advance(66);  // wraps past zero
    Step(*filter, PatternFrame(8, 8, 1));
    EXPECT_EQ(FilterTestAccess::TextClock(*filter), 66u);
    EXPECT_EQ(FilterTestAccess::LastTick(*filter), 0xFFFFFFF0u + 66u);
}

TEST_F(FilterTest, FrameIsHandedToWorkerOnlyWhileNothingIsPending)
{
    auto filter = Make();
    const cv::Mat a = PatternFrame(64, 48, 1);
    const cv::Mat b = PatternFrame(64, 48, 2);
    const cv::Mat c = PatternFrame(64, 48, 3);

    Step(*filter, a);
    EXPECT_EQ(FilterTestAccess::Pending(*filter), 1);
    EXPECT_EQ(cv::norm(FilterTestAccess::DetectImage(*filter), a, cv::NORM_INF), 0.0) << "the colour frame is handed over";

    Step(*filter, b);  // worker still busy: b is not offered
    EXPECT_EQ(cv::norm(FilterTestAccess::DetectImage(*filter), a, cv::NORM_INF), 0.0);

    FilterTestAccess::SetPending(*filter, 0);
    Step(*filter, c);
    EXPECT_EQ(FilterTestAccess::Pending(*filter), 1);
    EXPECT_EQ(cv::norm(FilterTestAccess::DetectImage(*filter), c, cv::NORM_INF), 0.0);
}

TEST_F(FilterTest, RealWorkerTakesUpPendingFrames)
{
    auto filter = Make(true);
    Step(*filter, PatternFrame(64, 48, 1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (FilterTestAccess::Pending(*filter) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(FilterTestAccess::Pending(*filter), 0);
}

TEST_F(FilterTest, DestroyingTheFilterStopsTheWorkerPromptly)
{
    using namespace std::chrono;
    auto timeDestroy = [](std::unique_ptr<CTransEffectFilter>& filter) {
        const auto start = steady_clock::now();
        filter.reset();
        return steady_clock::now() - start;
    };
    // Idle: the 100 ms poll must wake on the stop request.
    auto idle = Make(true);
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_LT(timeDestroy(idle), milliseconds(60));

    // Resting after a pass: the 300 ms rest must wake too.
    auto resting = Make(true);
    Step(*resting, PatternFrame(64, 48, 1));
    const auto deadline = steady_clock::now() + seconds(5);
    while (FilterTestAccess::Pending(*resting) != 0 && steady_clock::now() < deadline)
        std::this_thread::sleep_for(milliseconds(1));
    EXPECT_LT(timeDestroy(resting), milliseconds(100));

    // Inside a pass (cascades loading, detection running): the pass ends at
    // its next check of the stop request.
    auto busy = Make(true);
    Step(*busy, PatternFrame(640, 480, 2));
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_LT(timeDestroy(busy), milliseconds(500));
}

TEST_F(FilterTest, ResetFacesDropsAllWithOneLostSoundEachAndKeepsScores)
{
    auto filter = Make();
    filter->SetHighScore(77);
    filter->ResetFaces();
    EXPECT_TRUE(m_sound.Calls().empty()) << "nothing to drop, nothing played";

    filter->WithFaces([this](auto& faces) {
        for (int i = 0; i < 3; ++i)
            faces.push_back(std::make_unique<CFaceData>(m_clock, 1u));
    });
    filter->ResetFaces();
    EXPECT_EQ(filter->FaceCount(), 0u);
    const auto calls = m_sound.Calls();
    ASSERT_EQ(calls.size(), 3u);
    for (const auto& call : calls) {
        EXPECT_FALSE(call.loop);
        EXPECT_TRUE(call.path.ends_with("/lost.wav")) << call.path;
    }
    EXPECT_EQ(filter->GetHighScore(), 77u);
    EXPECT_EQ(filter->GetScore(), 0u);
}

TEST_F(FilterTest, HighScoreKeepsAll64Bits)
{
    auto filter = Make();
    for (const uint64_t value : {uint64_t{4294967295u}, uint64_t{4294967296u}, ~uint64_t{0}, uint64_t{0}}) {
        filter->SetHighScore(value);
        EXPECT_EQ(filter->GetHighScore(), value);
    }
}

TEST_F(FilterTest, DataFilesComeFromTheRequestedFolderFirst)
{
    auto filter = Make();
    EXPECT_EQ(filter->GetDataDir(), "data");
    const auto dir = std::filesystem::temp_directory_path() / "quellfx-data-test";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "lost.wav") << "x";
    filter->SetDataDir(dir.string());
    EXPECT_EQ(filter->DataFile("lost.wav"), (dir / "lost.wav").string());
    // A file that is nowhere keeps the requested folder in its name, so a
    // failure to open it names the folder the user chose.
    EXPECT_EQ(filter->DataFile("absent.wav"), (dir / "absent.wav").string());
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quell

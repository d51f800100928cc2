// Frame step, worker hand-off, step clock and control interface of the
// filter core, driven with a hand-moved clock and synthetic frames.
#include "filter/TransEffectFilter.h"

#include "faces/DetectWorker.h"
#include "platform/Warnings.h"
#include "support/Frames.h"
#include "support/HudPicture.h"
#include "support/RecordingSoundPlayer.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

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

    std::unique_ptr<CTransEffectFilter> Make(bool worker = false, ClockMode mode = ClockMode::Wall)
    {
        FilterPlatform platform;
        platform.clock = &m_clock;
        platform.sound = &m_sound;
        platform.startWorker = worker;
        auto filter = std::make_unique<CTransEffectFilter>(platform);
        filter->SetClockMode(mode);
        filter->Start();
        return filter;
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
    EXPECT_EQ(filter->PanelHeight(), 60);

    const cv::Mat small1 = PatternFrame(320, 240, 4);
    const cv::Mat afterChange = Step(*filter, small1);
    ASSERT_EQ(afterChange.size(), cv::Size(320, 240));
    EXPECT_EQ(MaxColourDiffIn(afterChange, cv::Mat::zeros(240, 320, CV_8UC4), OverlayFreeRect(320, 240)), 0);
    EXPECT_EQ(filter->PanelHeight(), 30);
    EXPECT_EQ(MaxColourDiffIn(Step(*filter, PatternFrame(320, 240, 5)), TintedPicture(small1), OverlayFreeRect(320, 240)),
              0);

    const cv::Mat big = Step(*filter, PatternFrame(1280, 720, 6));
    EXPECT_EQ(MaxColourDiffIn(big, cv::Mat::zeros(720, 1280, CV_8UC4), OverlayFreeRect(1280, 720)), 0);
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
    const uint32_t start = filter->LastTick();
    EXPECT_EQ(start, 1000u);

    m_clock.Advance(32);
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 0u);
    EXPECT_EQ(filter->LastTick(), start);

    m_clock.Advance(67);  // 99 ms after the last counted step: three steps
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 99u);
    EXPECT_EQ(filter->LastTick(), start + 99);

    m_clock.Advance(50);  // one step, 17 ms carried
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 132u);
    EXPECT_EQ(filter->LastTick(), start + 132);
    m_clock.Advance(16);  // 17 + 16 = 33: the carried remainder completes a step
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 165u);

    m_clock.Advance(200000);
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 100000u);
    m_clock.Advance(5000);
    Step(*filter, frame);
    EXPECT_EQ(filter->TextClock(), 100000u);
}

TEST_F(FilterTest, StepClockSurvivesWrapAroundOfTheMillisecondCounter)
{
    m_clock.Set(0xFFFFFFF0u);
    auto filter = Make();
    m_clock.Advance(66);  // wraps past zero
    Step(*filter, PatternFrame(8, 8, 1));
    EXPECT_EQ(filter->TextClock(), 66u);
    EXPECT_EQ(filter->LastTick(), 0xFFFFFFF0u + 66u);
}

TEST_F(FilterTest, AFrameIsHandedOverShrunkOnlyWhileTheWorkerWaitsForOne)
{
    auto filter = Make();
    CFaceList& faces = filter->Faces();
    const cv::Mat a = PatternFrame(640, 480, 1);
    const cv::Mat b = PatternFrame(640, 480, 2);
    const cv::Mat c = PatternFrame(640, 480, 3);
    auto shrunk = [](const cv::Mat& frame) {
        cv::Mat out;
        cv::resize(frame, out, cv::Size(320, 240), 0, 0, cv::INTER_LINEAR);
        return out;
    };
    cv::Mat taken;
    float scale = 0;

    EXPECT_TRUE(faces.WantsFrame());
    Step(*filter, a);
    EXPECT_FALSE(faces.WantsFrame());
    ASSERT_EQ(faces.TakePendingFrame(taken, scale, 0), CFaceList::Take::Frame);
    EXPECT_EQ(scale, 2.0f);
    EXPECT_EQ(cv::norm(taken, shrunk(a), cv::NORM_INF), 0.0) << "the colour frame, shrunk";

    Step(*filter, b);  // the worker is busy: b is not offered
    EXPECT_EQ(faces.TakePendingFrame(taken, scale, 0), CFaceList::Take::Nothing);

    ASSERT_TRUE(faces.FinishPass(0));
    Step(*filter, c);
    ASSERT_EQ(faces.TakePendingFrame(taken, scale, 0), CFaceList::Take::Frame);
    EXPECT_EQ(cv::norm(taken, shrunk(c), cv::NORM_INF), 0.0) << "the frame after the pass, not one kept from before";
}

// Following the stream, the first frame is handed over, the pass reports on
// the first frame at least kStreamPassMs of stream time later, and the next
// frame is handed over kRestSleepMs after that, whatever the frame rate and
// however the wall clock and the worker run.
TEST_F(FilterTest, FollowingTheStreamHandsOverAndPlacesByStreamTime)
{
    static_assert(CDetectWorker::kStreamPassMs == 100 && CDetectWorker::kRestSleepMs == 300);
    struct Case {
        uint32_t frameMs;
        uint32_t placedAtMs;
        uint32_t secondHandOffMs;
    };
    const Case cases[] = {{10, 100, 400}, {33, 132, 429}, {120, 120, 480}, {500, 500, 500}};
    for (const Case& c : cases) {
        // No worker thread: this test plays the worker, at once.
        auto filter = Make(false, ClockMode::Stream);
        CFaceList& faces = filter->Faces();
        std::vector<uint32_t> handOffs;
        std::optional<uint32_t> placedAt;
        for (uint32_t t = 0; t <= 1000; t += c.frameMs) {
            cv::Mat frame = PatternFrame(320, 240, static_cast<int>(t));
            filter->Transform(frame.data, frame.cols, frame.rows, frame.step,
                              FrameTime{uint64_t{t} * 1000000u, uint64_t{c.frameMs} * 1000000u});
            m_clock.Advance(5000);  // the wall clock runs away: nothing follows it
            if (!placedAt && filter->FaceCount() > 0)
                placedAt = t;
            if (!faces.WantsFrame()) {
                handOffs.push_back(t);
                cv::Mat taken;
                float scale = 0;
                ASSERT_EQ(faces.TakePendingFrame(taken, scale, 0), CFaceList::Take::Frame);
                faces.PostDetection(cv::Rect(100, 60, 100, 100));
                ASSERT_TRUE(faces.FinishPass(60000)) << "no rest: the frame step sets the pace";
            }
        }
        ASSERT_GE(handOffs.size(), 2u) << c.frameMs << " ms frames";
        EXPECT_EQ(handOffs[0], 0u) << c.frameMs << " ms frames";
        EXPECT_EQ(handOffs[1], c.secondHandOffMs) << c.frameMs << " ms frames";
        EXPECT_EQ(placedAt, c.placedAtMs) << c.frameMs << " ms frames: placed on the frame the pass reports";
        filter->Stop();
    }
}

// With the worker on its own thread and a real face, two runs over the same
// frames give the same bytes, one as fast as it goes (the frame step waits
// for the passes) and one slowed down (the passes wait for the frames).
TEST_F(FilterTest, FollowingTheStreamTheFramesDoNotDependOnTheWorkersPace)
{
    const test::Scene scene;
    ASSERT_TRUE(scene.Valid()) << "astronaut.png not found in " << QUELL_TESTDATA_DIR;
    constexpr uint32_t kFrameMs = 33;
    auto run = [&](std::chrono::milliseconds pause, size_t& faces) {
        FilterPlatform platform;
        platform.clock = &m_clock;
        platform.sound = &m_sound;
        CTransEffectFilter filter(platform);
        filter.SetDataDir(QUELL_DATA_DIR);
        filter.SetSeed(5);
        filter.SetClockMode(ClockMode::Stream);
        filter.Start();
        std::vector<cv::Mat> out;
        for (int i = 0; i < 45; ++i) {
            cv::Mat frame = scene.Render(cv::Size(640, 480), 0.75, 170.0 + 40.0 * std::sin(i / 8.0), 20.0);
            filter.Transform(frame.data, frame.cols, frame.rows, frame.step,
                             FrameTime{uint64_t{i * kFrameMs} * 1000000u, uint64_t{kFrameMs} * 1000000u});
            out.push_back(frame);
            std::this_thread::sleep_for(pause);
        }
        faces = filter.FaceCount();
        filter.Stop();
        return out;
    };
    size_t fastFaces = 0, slowFaces = 0;
    const std::vector<cv::Mat> fast = run(std::chrono::milliseconds(0), fastFaces);
    const std::vector<cv::Mat> slow = run(std::chrono::milliseconds(30), slowFaces);
    EXPECT_EQ(fastFaces, 1u) << "the face is found and followed";
    EXPECT_EQ(slowFaces, 1u);
    ASSERT_EQ(fast.size(), slow.size());
    for (size_t i = 0; i < fast.size(); ++i)
        ASSERT_EQ(cv::norm(fast[i], slow[i], cv::NORM_INF), 0.0) << "frame " << i;
}

TEST_F(FilterTest, StartAndStopOwnTheWorkerThread)
{
    using namespace std::chrono;
    FilterPlatform platform;
    platform.clock = &m_clock;
    platform.sound = &m_sound;
    CTransEffectFilter filter(platform);
    EXPECT_EQ(filter.Worker(), nullptr) << "nothing runs before Start()";
    for (int cycle = 0; cycle < 3; ++cycle) {
        filter.Start();
        filter.Start();  // a second start changes nothing
        ASSERT_NE(filter.Worker(), nullptr);
        Step(filter, PatternFrame(64, 48, cycle));
        // The worker takes the frame up and, after its rest, asks again.
        const auto deadline = steady_clock::now() + seconds(10);
        while (filter.Faces().WantsFrame() && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(2));
        while (!filter.Faces().WantsFrame() && steady_clock::now() < deadline)
            std::this_thread::sleep_for(milliseconds(2));
        EXPECT_TRUE(filter.Faces().WantsFrame()) << "cycle " << cycle;
        m_sound.Clear();
        filter.Stop();
        EXPECT_EQ(filter.Worker(), nullptr);
        const auto calls = m_sound.Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_TRUE(calls.back().path.empty()) << "stopping silences the sounds";
    }
}

TEST_F(FilterTest, StopIsPromptWhateverTheWorkerDoes)
{
    using namespace std::chrono;
    // Bounds far above any real stop, also under the sanitizers: they catch
    // a stop that hangs on an unbounded pass (a tall frame once made one
    // pass take most of a minute), not speed.
    auto timeStop = [](CTransEffectFilter& filter) {
        const auto start = steady_clock::now();
        filter.Stop();
        return steady_clock::now() - start;
    };
    auto idle = Make(true);
    EXPECT_LT(timeStop(*idle), seconds(10)) << "waiting for a frame";

    auto resting = Make(true);
    Step(*resting, PatternFrame(64, 48, 1));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_LT(timeStop(*resting), seconds(10)) << "resting after a pass";

    // A tall, narrow frame: the pass runs on a copy of bounded size.
    auto busy = Make(true);
    Step(*busy, PatternFrame(2, 4096, 2));
    EXPECT_LT(timeStop(*busy), seconds(10)) << "inside a pass";
}

TEST_F(FilterTest, ResetFacesDropsAllWithOneLostSoundEachAndKeepsScores)
{
    auto filter = Make();
    filter->SetHighScore(77);
    filter->ResetFaces();
    EXPECT_TRUE(m_sound.Calls().empty()) << "nothing to drop, nothing played";

    filter->Faces().WithFaces([this](auto& faces) {
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

// Collects warnings as they are reported.
struct WarningLog final : IWarningSink {
    void Warn(Warning what, const std::string& file, const std::string&) override
    {
        seen.push_back({what, std::filesystem::path(file).filename().string()});
    }
    std::vector<std::pair<Warning, std::string>> seen;
};

TEST_F(FilterTest, DataFilesAreLookedUpWhenTheFolderChangesAndMissingOnesReported)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("quellfx-data-test" + std::to_string(::getpid()));
    const fs::path installed = dir / "installed";
    fs::create_directories(installed);
    std::ofstream(dir / "lost.wav") << "x";
    for (const char* name : kSoundFiles)
        if (std::string(name) != "point6.wav")
            std::ofstream(installed / name) << "x";
    WarningLog log;
    FilterPlatform platform;
    platform.clock = &m_clock;
    platform.sound = &m_sound;
    platform.startWorker = false;
    platform.warnings = &log;
    platform.installedDataDir = installed.string();
    CTransEffectFilter filter(platform);
    EXPECT_EQ(filter.GetDataDir(), "data");

    filter.SetDataDir(dir.string());
    EXPECT_TRUE(log.seen.empty()) << "nothing is reported before streaming starts";
    EXPECT_EQ(filter.SoundFile(Sound::Lost), (dir / "lost.wav").string()) << "the requested folder first";
    EXPECT_EQ(filter.SoundFile(Sound::Count), (installed / "count.wav").string()) << "then the installed one";
    // A file that is nowhere keeps the requested folder in its name, so a
    // failure to open it names the folder the user chose.
    EXPECT_EQ(filter.SoundFile(Sound::Point6), (dir / "point6.wav").string());

    filter.Start();
    const std::vector<std::pair<Warning, std::string>> missing = {{Warning::MissingDataFile, "point6.wav"}};
    auto sounds = [&] {
        std::vector<std::pair<Warning, std::string>> out;
        for (const auto& w : log.seen)
            if (w.second.ends_with(".wav"))
                out.push_back(w);
        return out;
    };
    EXPECT_EQ(sounds(), missing) << "one warning for the missing sound";
    // A file added later is found when the folder is set again, not before.
    std::ofstream(dir / "point6.wav") << "x";
    EXPECT_EQ(filter.SoundFile(Sound::Point6), (dir / "point6.wav").string());
    fs::remove(dir / "lost.wav");
    EXPECT_EQ(filter.SoundFile(Sound::Lost), (dir / "lost.wav").string()) << "no file system access per use";
    filter.SetDataDir(dir.string());
    EXPECT_EQ(filter.SoundFile(Sound::Lost), (installed / "lost.wav").string());
    EXPECT_EQ(sounds(), missing) << "the mended folder reports nothing new";
    filter.Stop();
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quell

// The detection worker on real pictures: reduced size, placement, matching
// against the followed face, cascade order and broken cascade files.
#include "faces/DetectWorker.h"

#include "filter/TransEffectFilter.h"
#include "support/FilterAccess.h"
#include "support/FilterRig.h"
#include "support/Frames.h"
#include "support/RecordingSoundPlayer.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace quell {
namespace {

namespace fs = std::filesystem;
using test::Scene;

const cv::Size kCanvas(640, 480);
constexpr double kScale = 0.8;

TEST(DetectWorkerGeometry, ReducedCopyIsAbout320WideInSinglePrecision)
{
    EXPECT_EQ(CDetectWorker::ReducedScale(352), 1.1f);
    EXPECT_GT(static_cast<double>(CDetectWorker::ReducedScale(352)), 1.1);
    EXPECT_EQ(CDetectWorker::ReducedSize(352, 288), cv::Size(319, 261)) << "352 / 1.1f truncates to 319";
    EXPECT_EQ(CDetectWorker::ReducedSize(640, 480), cv::Size(320, 240));
    EXPECT_EQ(CDetectWorker::ReducedSize(720, 576), cv::Size(320, 256));
    EXPECT_EQ(CDetectWorker::ReducedSize(1280, 720), cv::Size(320, 180));
    EXPECT_EQ(CDetectWorker::ReducedSize(1, 1), cv::Size(319, 319)) << "tiny frames are enlarged, never empty";
    EXPECT_EQ(CDetectWorker::ScaleBack(cv::Rect(100, 50, 60, 60), CDetectWorker::ReducedScale(640)),
              cv::Rect(200, 100, 120, 120));
    EXPECT_EQ(CDetectWorker::ScaleBack(cv::Rect(10, 10, 33, 33), CDetectWorker::ReducedScale(352)),
              cv::Rect(11, 11, 36, 36));
}

class DetectWorkerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_scene.Valid()); }

    cv::Mat At(double x, double y) const { return m_scene.Render(kCanvas, kScale, x, y); }

    // Hands a frame over and runs one pass on it.
    void Detect(const cv::Mat& frame)
    {
        FilterTestAccess::HandOver(*m_filter, frame);
        ASSERT_TRUE(m_worker->RunPass());
        EXPECT_EQ(FilterTestAccess::Pending(*m_filter), 0) << "a pass always clears the pending flag";
    }

    cv::Rect FaceRect()
    {
        cv::Rect rect;
        m_filter->WithFaces([&](auto& faces) {
            if (!faces.empty())
                rect = faces.front()->m_rect;
        });
        return rect;
    }

    fs::path TempDataDir(const char* name)
    {
        const fs::path dir = fs::temp_directory_path() / (std::string("quell-") + name + std::to_string(::getpid()));
        fs::create_directories(dir);
        m_dirs.push_back(dir);
        return dir;
    }
    void TearDown() override
    {
        m_rig.reset();
        for (const auto& dir : m_dirs)
            fs::remove_all(dir);
    }

    Scene m_scene;
    std::unique_ptr<test::FilterRig> m_rig = std::make_unique<test::FilterRig>();
    CTransEffectFilter* m_filter = m_rig->filter.get();
    CDetectWorker* m_worker = m_rig->worker.get();
    std::vector<fs::path> m_dirs;
};

TEST_F(DetectWorkerTest, FindsTheFaceAndCreatesOneRecordInFramePixels)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    EXPECT_EQ(m_worker->LastCascade(), 0) << "the first cascade found it; the others were not run";
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(kScale, 100, 40);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
    EXPECT_NEAR(rect.width, kScale * Scene::kFaceInPicture.width, 14.0);
    m_filter->WithFaces([](auto& faces) {
        const CFaceData& face = *faces.front();
        EXPECT_GT(face.m_pointCount, 20);
        EXPECT_EQ(face.m_soundStage, 1);
        EXPECT_FALSE(face.m_pFaceImage.empty());
    });
}

TEST_F(DetectWorkerTest, ASecondFaceElsewhereIsIgnoredWhileOneIsFollowed)
{
    Detect(At(20, 40));
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    const cv::Rect first = FaceRect();
    Detect(At(300, 60));  // the only face now lies where no point is
    EXPECT_EQ(m_worker->LastCascade(), 0);
    EXPECT_EQ(m_filter->FaceCount(), 1u);
    EXPECT_EQ(FaceRect(), first);
}

TEST_F(DetectWorkerTest, ADetectionOnTheFollowedFaceReplacesIt)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    std::string name;
    uint64_t power = 0;
    m_filter->WithFaces([&](auto& faces) {
        name = faces.front()->m_name;
        power = faces.front()->m_targetPower;
        faces.front()->m_soundStage = 2;
    });
    Detect(At(130, 55));
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(kScale, 130, 55);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
    m_filter->WithFaces([&](auto& faces) {
        EXPECT_EQ(faces.front()->m_name, name);
        EXPECT_EQ(faces.front()->m_targetPower, power);
        EXPECT_EQ(faces.front()->m_soundStage, 2) << "a re-placement keeps the measurement going";
    });
}

TEST_F(DetectWorkerTest, AHeightChangeAloneStillPlacesTheFaceRight)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    m_filter->ResetFaces();
    // Same width, less height: the reduced copy must change height too, or
    // the picture is squeezed and the face lands too low.
    const cv::Mat wide = m_scene.Render(cv::Size(640, 360), 0.6, 200, 30);
    Detect(wide);
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(0.6, 200, 30);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
}

TEST_F(DetectWorkerTest, NothingPendingMeansNoLockAndNoPass)
{
    std::promise<void> locked, release;
    std::thread holder([&] {
        std::lock_guard lock(FilterTestAccess::FaceLock(*m_filter));
        locked.set_value();
        release.get_future().wait();
    });
    locked.get_future().wait();
    EXPECT_FALSE(m_worker->RunPass()) << "must return at once while another thread holds the face lock";
    release.set_value();
    holder.join();
}

TEST_F(DetectWorkerTest, NoFaceInThePicture)
{
    Detect(test::PatternFrame(640, 480, 9));
    EXPECT_EQ(m_filter->FaceCount(), 0u);
    EXPECT_EQ(m_worker->LastCascade(), -1);
}

TEST_F(DetectWorkerTest, BrokenCascadesAreSkippedAndTheRestStillDetect)
{
    const fs::path dir = TempDataDir("broken");
    std::ofstream(dir / "special1.dat") << "<?xml version=\"1.0\"?><opencv_storage><cascade>garbage";
    std::ofstream(dir / "special2.dat");  // empty
    m_filter->SetDataDir(dir.string());
    // dsdetect.dat is missing there: the installed data folder supplies it.
    Detect(At(100, 40));
    EXPECT_FALSE(m_worker->CascadeLoaded(0));
    EXPECT_FALSE(m_worker->CascadeLoaded(1));
    EXPECT_TRUE(m_worker->CascadeLoaded(2));
    EXPECT_EQ(m_worker->LastCascade(), 2);
    EXPECT_EQ(m_filter->FaceCount(), 1u);
}

TEST_F(DetectWorkerTest, AllCascadesBrokenMeansNoDetectionAndNoFailure)
{
    const fs::path dir = TempDataDir("allbroken");
    for (const char* name : {"special1.dat", "special2.dat", "dsdetect.dat"})
        std::ofstream(dir / name) << "not a cascade " << name;
    m_filter->SetDataDir(dir.string());
    for (int i = 0; i < 3; ++i)
        Detect(At(100, 40));
    EXPECT_EQ(m_filter->FaceCount(), 0u);
    // Mended files are picked up when the folder changes.
    m_filter->SetDataDir("/nonexistent-quell-data");
    Detect(At(100, 40));
    EXPECT_EQ(m_filter->FaceCount(), 1u);
}

// The real worker thread with broken or missing data: frames keep flowing.
TEST(DetectWorkerThread, FramesKeepFlowingWithBrokenOrMissingData)
{
    const fs::path dir = fs::temp_directory_path() / ("quell-thread-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name : {"special1.dat", "special2.dat", "dsdetect.dat"})
        std::ofstream(dir / name) << "<opencv_storage>";
    Scene scene;
    ASSERT_TRUE(scene.Valid());
    for (const std::string& dataDir : {dir.string(), std::string("/nonexistent-quell-data")}) {
        ManualClock clock{0};
        RecordingSoundPlayer sound;
        FilterPlatform platform;
        platform.clock = &clock;
        platform.sound = &sound;
        CTransEffectFilter filter(platform);
        filter.SetDataDir(dataDir);
        for (int i = 0; i < 25; ++i) {
            cv::Mat frame = scene.Render(kCanvas, kScale, 100 + i, 40);
            filter.Transform(frame.data, frame.cols, frame.rows, frame.step);
            clock.Advance(33);
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quell

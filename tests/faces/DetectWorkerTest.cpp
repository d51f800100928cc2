// The detection worker on real pictures, driven through the face list alone:
// reduced size, placement, matching against the followed face, cascade
// order, broken cascade files and their warnings, the hand-off rhythm.
#include "faces/DetectWorker.h"

#include "faces/FaceList.h"
#include "platform/Warnings.h"
#include "support/Frames.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace quell {
namespace {

namespace fs = std::filesystem;
using test::Scene;

const cv::Size kCanvas(640, 480);
constexpr double kScale = 0.8;

TEST(DetectWorkerGeometry, ReducedCopyIsAbout320WideAndBoundedForAnyShape)
{
    EXPECT_EQ(CFaceList::ReducedScale(352, 288), 1.1f);
    EXPECT_GT(static_cast<double>(CFaceList::ReducedScale(352, 288)), 1.1);
    struct Case {
        cv::Size frame, reduced;
    };
    const Case cases[] = {
        {{352, 288}, {319, 261}},    // 352 / 1.1f truncates to 319
        {{640, 480}, {320, 240}},   {{720, 576}, {320, 256}},  {{1280, 720}, {320, 180}},
        {{1080, 1920}, {320, 568}},  // portrait video keeps the 320-wide copy
        {{1, 1}, {319, 319}},        // tiny frames are enlarged, never empty
        {{1, 4096}, {1, 639}},       // tall and narrow: bounded by the height
        {{4, 4096}, {1, 639}},      {{4096, 1}, {319, 1}},     {{16384, 16384}, {319, 319}},
    };
    for (const Case& c : cases) {
        const cv::Size got = CFaceList::ReducedSize(c.frame.width, c.frame.height);
        EXPECT_EQ(got, c.reduced) << c.frame;
        EXPECT_LE(got.area(), 320 * CFaceList::kMaxReducedHeight) << c.frame;
    }
    EXPECT_EQ(CFaceList::ScaleBack(cv::Rect(100, 50, 60, 60), CFaceList::ReducedScale(640, 480)),
              cv::Rect(200, 100, 120, 120));
    EXPECT_EQ(CFaceList::ScaleBack(cv::Rect(10, 10, 33, 33), CFaceList::ReducedScale(352, 288)),
              cv::Rect(11, 11, 36, 36));
}

// Collects warnings as they are reported.
struct WarningLog final : IWarningSink {
    void Warn(Warning what, const std::string& file, const std::string&) override
    {
        std::lock_guard lock(mutex);
        seen.push_back({what, fs::path(file).filename().string()});
    }
    std::mutex mutex;
    std::vector<std::pair<Warning, std::string>> seen;
};

CDetectWorker::CascadePaths CascadesIn(const fs::path& dir)
{
    CDetectWorker::CascadePaths paths;
    for (size_t i = 0; i < paths.size(); ++i)
        paths[i] = (dir / CDetectWorker::kCascadeFiles[i]).string();
    return paths;
}

uint32_t Seed()
{
    return 42u;
}

class DetectWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_scene.Valid());
        m_worker.LoadCascades(CascadesIn(QUELL_DATA_DIR));
    }
    void TearDown() override
    {
        for (const auto& dir : m_dirs)
            fs::remove_all(dir);
    }

    cv::Mat At(double x, double y) const { return m_scene.Render(kCanvas, kScale, x, y); }

    // Offers a frame, runs one pass on it and places what it found, as the
    // frame step would on its next frame.
    void Detect(const cv::Mat& frame)
    {
        ASSERT_TRUE(m_faces.OfferFrame(frame));
        ASSERT_EQ(m_worker.RunPass(0, 0), CDetectWorker::Pass::Done);
        EXPECT_TRUE(m_faces.WantsFrame()) << "a pass always asks for the next frame";
        Place(frame);
    }

    // Places what the last pass found on `frame`, as the frame step does.
    void Place(const cv::Mat& frame)
    {
        cv::Rect rect;
        if (m_faces.TakeDetection(rect))
            m_faces.PlaceDetection(frame, rect, m_step);
    }

    cv::Rect FaceRect()
    {
        cv::Rect rect;
        m_faces.WithFaces([&](auto& faces) {
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

    Scene m_scene;
    ManualClock m_clock{0};
    CFaceList m_faces{m_clock, &Seed};
    WarningLog m_warnings;
    CDetectWorker m_worker{m_faces, &m_warnings};
    std::vector<CFaceData*> m_step;
    std::vector<fs::path> m_dirs;
};

TEST_F(DetectWorkerTest, FindsTheFaceAndCreatesOneRecordInFramePixels)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_faces.Count(), 1u);
    ASSERT_EQ(m_step.size(), 1u) << "the frame step's list is refreshed";
    EXPECT_EQ(m_worker.LastCascade(), 0) << "the first cascade found it; the others were not run";
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(kScale, 100, 40);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
    EXPECT_NEAR(rect.width, kScale * Scene::kFaceInPicture.width, 14.0);
    const CFaceData& face = *m_step.front();
    EXPECT_GT(face.m_pointCount, 20);
    EXPECT_EQ(face.m_soundStage, 1);
    EXPECT_FALSE(face.m_pFaceImage.empty());
    EXPECT_TRUE(m_warnings.seen.empty());
}

TEST_F(DetectWorkerTest, ASecondFaceElsewhereIsIgnoredWhileOneIsFollowed)
{
    Detect(At(20, 40));
    ASSERT_EQ(m_faces.Count(), 1u);
    const cv::Rect first = FaceRect();
    Detect(At(300, 60));  // the only face now lies where no point is
    EXPECT_EQ(m_worker.LastCascade(), 0);
    EXPECT_EQ(m_faces.Count(), 1u);
    EXPECT_EQ(FaceRect(), first);
}

TEST_F(DetectWorkerTest, ADetectionOnTheFollowedFaceReplacesItAndKeepsTheMeasurement)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_faces.Count(), 1u);
    CFaceData* face = m_step.front();
    const std::string name = face->m_name;
    const uint64_t power = face->m_targetPower;
    face->m_soundStage = 2;
    Detect(At(130, 55));
    ASSERT_EQ(m_faces.Count(), 1u);
    EXPECT_EQ(m_step.front(), face) << "the same record, placed again";
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(kScale, 130, 55);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
    EXPECT_EQ(face->m_name, name);
    EXPECT_EQ(face->m_targetPower, power);
    EXPECT_EQ(face->m_soundStage, 2);
}

TEST_F(DetectWorkerTest, AHeightChangeAloneStillPlacesTheFaceRight)
{
    Detect(At(100, 40));
    ASSERT_EQ(m_faces.DropAll(), 1u);
    // Same width, less height: the reduced copy must change height too, or
    // the picture is squeezed and the face lands too low.
    Detect(m_scene.Render(cv::Size(640, 360), 0.6, 200, 30));
    ASSERT_EQ(m_faces.Count(), 1u);
    const cv::Rect rect = FaceRect();
    const cv::Point2f truth = Scene::FaceCentre(0.6, 200, 30);
    EXPECT_NEAR(rect.x + rect.width / 2.0, truth.x, 8.0);
    EXPECT_NEAR(rect.y + rect.height / 2.0, truth.y, 8.0);
}

TEST_F(DetectWorkerTest, HandOffRhythm)
{
    // Nothing offered: the pass returns without a frame.
    EXPECT_EQ(m_worker.RunPass(0, 0), CDetectWorker::Pass::NoFrame);
    // Offered once; further frames are not taken while the worker is busy,
    // and the frame it detects on is the one offered.
    ASSERT_TRUE(m_faces.OfferFrame(test::PatternFrame(640, 480, 9)));
    EXPECT_FALSE(m_faces.WantsFrame());
    EXPECT_FALSE(m_faces.OfferFrame(At(100, 40))) << "the slot holds a frame the worker has not taken";
    EXPECT_EQ(m_worker.RunPass(0, 0), CDetectWorker::Pass::Done);
    Place(At(100, 40));
    EXPECT_EQ(m_faces.Count(), 0u) << "the pattern frame was searched, not the later one";
    EXPECT_EQ(m_worker.LastCascade(), -1);
    // A stop request ends waiting and resting at once.
    m_faces.RequestStop();
    EXPECT_EQ(m_worker.RunPass(60000, 0), CDetectWorker::Pass::Stop);
    m_faces.ClearStop();
    ASSERT_TRUE(m_faces.OfferFrame(At(100, 40)));
    std::thread stopper([this] { m_faces.RequestStop(); });
    EXPECT_EQ(m_worker.RunPass(0, 60000), CDetectWorker::Pass::Stop) << "the rest is cut short";
    stopper.join();
}

TEST_F(DetectWorkerTest, BrokenCascadesAreReportedOnceAndSkipped)
{
    const fs::path dir = TempDataDir("broken");
    std::ofstream(dir / "special1.dat") << "<?xml version=\"1.0\"?><opencv_storage><cascade>garbage";
    std::ofstream(dir / "special2.dat");  // empty
    fs::copy_file(fs::path(QUELL_DATA_DIR) / "dsdetect.dat", dir / "dsdetect.dat");
    m_worker.ReloadCascades(CascadesIn(dir));
    Detect(At(100, 40));
    EXPECT_FALSE(m_worker.CascadeLoaded(0));
    EXPECT_FALSE(m_worker.CascadeLoaded(1));
    EXPECT_TRUE(m_worker.CascadeLoaded(2));
    EXPECT_EQ(m_worker.LastCascade(), 2);
    EXPECT_EQ(m_faces.Count(), 1u);
    Detect(At(100, 40));
    const std::vector<std::pair<Warning, std::string>> expected = {
        {Warning::UnreadableDataFile, "special1.dat"}, {Warning::UnreadableDataFile, "special2.dat"}};
    EXPECT_EQ(m_warnings.seen, expected) << "one warning per file, not per pass";
}

TEST_F(DetectWorkerTest, NoUsableCascadeTurnsDetectionOffUntilTheFilesAreMended)
{
    const fs::path dir = TempDataDir("allbroken");
    std::ofstream(dir / "special1.dat") << "not a cascade";
    std::ofstream(dir / "special2.dat") << "<opencv_storage>";
    m_worker.ReloadCascades(CascadesIn(dir));  // dsdetect.dat is missing
    for (int i = 0; i < 3; ++i)
        Detect(At(100, 40));
    EXPECT_EQ(m_faces.Count(), 0u);
    const std::vector<std::pair<Warning, std::string>> expected = {{Warning::MissingDataFile, "dsdetect.dat"},
                                                                   {Warning::UnreadableDataFile, "special1.dat"},
                                                                   {Warning::UnreadableDataFile, "special2.dat"},
                                                                   {Warning::DetectionOff, ""}};
    EXPECT_EQ(m_warnings.seen, expected);
    m_worker.ReloadCascades(CascadesIn(QUELL_DATA_DIR));
    Detect(At(100, 40));
    EXPECT_EQ(m_faces.Count(), 1u);
    EXPECT_EQ(m_warnings.seen.size(), expected.size());
}

TEST_F(DetectWorkerTest, FramesOfAnyShapeAreSearchedOnABoundedCopy)
{
    for (const cv::Size size : {cv::Size(1, 4096), cv::Size(4096, 1), cv::Size(4, 4096), cv::Size(1, 1)}) {
        cv::Mat frame(size, CV_8UC4, cv::Scalar(90, 120, 150, 0));
        Detect(frame);
        EXPECT_EQ(m_faces.Count(), 0u) << size;
    }
}

}  // namespace
}  // namespace quell

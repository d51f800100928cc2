// Following a real face through the frame step: a photograph that moves and
// then stands still.
#include "faces/DetectWorker.h"

#include "filter/TransEffectFilter.h"
#include "support/FilterRig.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quell {
namespace {

using test::Scene;

class TrackingSceneTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_scene.Valid()); }

    void Frame(double x, double y)
    {
        cv::Mat frame = m_scene.Render(cv::Size(640, 480), 0.8, x, y);
        m_rig.Step(frame);
    }

    cv::Point2f Mean()
    {
        cv::Point2f mean(-1, -1);
        m_filter->Faces().WithFaces([&](auto& faces) {
            if (!faces.empty())
                mean = {faces.front()->m_meanX, faces.front()->m_meanY};
        });
        return mean;
    }

    Scene m_scene;
    test::FilterRig m_rig{5000};
    CTransEffectFilter* m_filter = m_rig.filter.get();

};

TEST_F(TrackingSceneTest, FollowsAMovingFaceAndDropsItOnceItStandsStill)
{
    double x = 40, y = 30;
    Frame(x, y);
    ASSERT_TRUE(m_rig.RunPass());
    Frame(x, y);  // places the face found
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    Frame(x, y);  // first tracked frame: fixes the mean at the start
    const cv::Point2f start = Mean();
    const cv::Point2f truthStart = Scene::FaceCentre(0.8, x, y);
    EXPECT_NEAR(start.x, truthStart.x, 12.0f);
    EXPECT_NEAR(start.y, truthStart.y, 12.0f);

    // 60 frames of 3 px to the right and 1 px down, flow alone.
    for (int i = 0; i < 60; ++i) {
        x += 3;
        y += 1;
        Frame(x, y);
    }
    ASSERT_EQ(m_filter->FaceCount(), 1u);
    const cv::Point2f end = Mean();
    EXPECT_NEAR(end.x - start.x, 180.0f, 3.0f);
    EXPECT_NEAR(end.y - start.y, 60.0f, 3.0f);
    const cv::Point2f truth = Scene::FaceCentre(0.8, x, y);
    EXPECT_NEAR(end.x, truth.x, 12.0f);
    EXPECT_NEAR(end.y, truth.y, 12.0f);
    int points = 0;
    m_filter->Faces().WithFaces([&](auto& faces) {
        points = faces.front()->m_pointCount;
        // The marker glides after the face: at 3 px per step it moves
        // lag / 30 + 1 px per step, so it trails by about 60 px.
        EXPECT_NEAR(end.x - faces.front()->m_markerX, 60.0f, 12.0f);
    });
    EXPECT_GT(points, 20);

    // The picture stops: every point stands still and goes after 2.5 s; the
    // record goes with its points.
    for (int i = 0; i < 75; ++i)  // 2475 ms
        Frame(x, y);
    EXPECT_EQ(m_filter->FaceCount(), 1u);
    for (int i = 0; i < 5; ++i)
        Frame(x, y);
    EXPECT_EQ(m_filter->FaceCount(), 0u);
}

// The flow pyramids cover only the region around the followed points; the
// tracked positions must match what pyramids of the whole frame give.
TEST(TrackingRegion, PointsMatchWholeFramePyramidsWithinATwentiethOfAPixel)
{
    Scene scene;
    ASSERT_TRUE(scene.Valid());
    const cv::Size canvas(1280, 720);
    test::FilterRig region{5000}, whole{5000};
    whole.filter->SetWholeFramePyramids(true);
    double x = 60, y = 40;
    auto frame = [&](test::FilterRig& rig) {
        cv::Mat f = scene.Render(canvas, 1.2, x, y);
        rig.Step(f);
    };
    for (test::FilterRig* rig : {&region, &whole}) {
        frame(*rig);
        ASSERT_TRUE(rig->RunPass());
        frame(*rig);
        ASSERT_EQ(rig->filter->FaceCount(), 1u);
    }
    auto points = [](test::FilterRig& rig) {
        std::vector<cv::Point2f> out;
        rig.filter->Faces().WithFaces([&](auto& faces) {
            out.assign(faces.front()->m_pPoints.begin(), faces.front()->m_pPoints.begin() + faces.front()->m_pointCount);
        });
        return out;
    };
    // A face that speeds up to 24 px per frame, turns and stops. Before
    // each frame the whole-frame rig starts from the points the region rig
    // holds, so that one frame of tracking is compared at a time: two
    // trackers left to themselves drift apart by their own rounding.
    double worst = 0;
    int regionRebuilt = 0;
    cv::Rect lastRegion;
    for (int i = 0; i < 90; ++i) {
        const double speed = i < 45 ? i * 0.55 : (i < 80 ? -8.0 : 0.0);
        x += speed;
        y += speed / 3;
        region.filter->Faces().WithFaces([&](auto& from) {
            whole.filter->Faces().WithFaces([&](auto& to) {
                to.front()->m_pPoints = from.front()->m_pPoints;
                to.front()->m_pointCount = from.front()->m_pointCount;
                to.front()->m_stillTime = from.front()->m_stillTime;
                to.front()->m_strayTime = from.front()->m_strayTime;
            });
        });
        frame(region);
        frame(whole);
        if (region.filter->PyramidRegion() != lastRegion)
            ++regionRebuilt;
        lastRegion = region.filter->PyramidRegion();
        const auto a = points(region);
        const auto b = points(whole);
        ASSERT_EQ(a.size(), b.size()) << "frame " << i;
        for (size_t k = 0; k < a.size(); ++k)
            worst = std::max(worst, cv::norm(a[k] - b[k]));
    }
    EXPECT_LE(worst, 0.05) << "largest distance between the two tracks, in pixels";
    EXPECT_LT(region.filter->PyramidRegion().area(), canvas.area() / 2) << "the region is smaller than the frame";
    EXPECT_LT(regionRebuilt, 60) << "the region is kept while the face stays inside it";
}

}  // namespace
}  // namespace quell

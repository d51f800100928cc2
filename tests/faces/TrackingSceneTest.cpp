// Following a real face through the frame step: a photograph that moves and
// then stands still.
#include "faces/DetectWorker.h"

#include "filter/TransEffectFilter.h"
#include "support/FilterAccess.h"
#include "support/FilterRig.h"
#include "support/Scene.h"

#include <gtest/gtest.h>

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
        m_filter->WithFaces([&](auto& faces) {
            if (!faces.empty())
                mean = {faces.front()->m_meanX, faces.front()->m_meanY};
        });
        return mean;
    }

    Scene m_scene;
    test::FilterRig m_rig{5000};
    CTransEffectFilter* m_filter = m_rig.filter.get();
    CDetectWorker* m_worker = m_rig.worker.get();
};

TEST_F(TrackingSceneTest, FollowsAMovingFaceAndDropsItOnceItStandsStill)
{
    double x = 40, y = 30;
    Frame(x, y);
    ASSERT_TRUE(m_worker->RunPass());
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
    m_filter->WithFaces([&](auto& faces) {
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

}  // namespace
}  // namespace quell

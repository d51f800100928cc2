// Face record: placement, the point rules of tracking, matching of
// detections, and the animation clock.
#include "faces/FaceData.h"

#include "platform/Clock.h"
#include "platform/RowTeam.h"
#include "support/Frames.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

namespace quell {
namespace {

class FaceDataTest : public ::testing::Test {
protected:
    ManualClock m_clock{1000};

    // A record with `n` points at the given positions and a 90 x 90 face
    // rectangle at (100, 100).
    std::unique_ptr<CFaceData> WithPoints(const std::vector<cv::Point2f>& points)
    {
        auto face = std::make_unique<CFaceData>(m_clock, 7u);
        face->m_rect = cv::Rect(100, 100, 90, 90);
        face->m_pPoints = points;
        face->m_pointCount = static_cast<int>(points.size());
        return face;
    }
};

TEST_F(FaceDataTest, FirstPlacementRollsProfileLaterPlacementsKeepIt)
{
    const cv::Mat frame = test::PatternFrame(320, 240, 3);
    CFaceData face(m_clock, 1234u);
    face.SetRegion(frame, 40, 30, 61, 50);
    EXPECT_EQ(face.m_rect, cv::Rect(40, 30, 61, 50));
    EXPECT_EQ(face.m_markerX, 70.0f);
    EXPECT_EQ(face.m_markerY, 55.0f);
    EXPECT_EQ(face.m_markerRadius, 30);
    EXPECT_EQ(face.m_soundStage, 1);
    EXPECT_EQ(face.m_profileReady, 1);
    EXPECT_EQ(face.m_shownPower, 0u);
    EXPECT_FALSE(face.m_name.empty());
    EXPECT_FALSE(face.m_origin.empty());
    ASSERT_EQ(face.m_pFaceImage.size(), cv::Size(61, 50));

    // Green tint of the grey copy: blue and red 0.4, green 0.8 of grey.
    cv::Mat grey;
    cv::cvtColor(frame(cv::Rect(40, 30, 61, 50)), grey, cv::COLOR_BGRA2GRAY);
    const cv::Vec4b px = face.m_pFaceImage.at<cv::Vec4b>(10, 20);
    const int g = grey.at<uchar>(10, 20);
    EXPECT_NEAR(px[0], g * 0.4, 1.0);
    EXPECT_NEAR(px[1], g * 0.8, 1.0);
    EXPECT_NEAR(px[2], g * 0.4, 1.0);

    const std::string name = face.m_name;
    const uint64_t target = face.m_targetPower;
    face.m_measureTime = 3000;
    face.m_soundStage = 2;
    face.SetRegion(frame, 100, 80, 40, 40);
    EXPECT_EQ(face.m_rect, cv::Rect(100, 80, 40, 40));
    EXPECT_EQ(face.m_pFaceImage.size(), cv::Size(40, 40));
    EXPECT_EQ(face.m_name, name);
    EXPECT_EQ(face.m_targetPower, target);
    EXPECT_EQ(face.m_measureTime, 3000u);
    EXPECT_EQ(face.m_soundStage, 2);
    EXPECT_EQ(face.m_markerRadius, 30) << "the marker glides; it is not moved by a re-placement";
}

TEST_F(FaceDataTest, PlacementIsClippedToTheFrame)
{
    const cv::Mat frame = test::PatternFrame(100, 80, 1);
    CFaceData face(m_clock, 1u);
    face.SetRegion(frame, 400, 400, 50, 50);
    EXPECT_TRUE(face.m_pFaceImage.empty()) << "a rectangle wholly outside places nothing";
    EXPECT_EQ(face.m_profileReady, 0);
    face.SetRegion(frame, 80, -10, 50, 40);
    EXPECT_EQ(face.m_rect, cv::Rect(80, 0, 20, 30));
    face.SeedFeatures();
    for (int i = 0; i < face.m_pointCount; ++i) {
        EXPECT_GE(face.m_pPoints[i].x, 80.0f);
        EXPECT_LT(face.m_pPoints[i].y, 30.0f);
    }
}

// Corners refined in blocks (on a team or not, whoever takes a block) come
// out exactly as refined all at once.
TEST_F(FaceDataTest, CornersRefinedInBlocksOnATeamEqualThoseRefinedAlone)
{
    const cv::Mat frame = test::PatternFrame(320, 240, 3);
    CRowTeam team;
    team.Start();
    CFaceData alone(m_clock, 1u), shared(m_clock, 1u);
    alone.SetRegion(frame, 40, 30, 220, 180);
    shared.SetRegion(frame, 40, 30, 220, 180);
    alone.SeedFeatures();
    shared.SeedFeatures(&team);
    team.Stop();
    ASSERT_GT(alone.m_pointCount, 40) << "several blocks of corners";
    ASSERT_EQ(shared.m_pointCount, alone.m_pointCount);
    for (int i = 0; i < alone.m_pointCount; ++i)
        ASSERT_EQ(shared.m_pPoints[i], alone.m_pPoints[i]) << i;
}

TEST_F(FaceDataTest, SeedingWithoutThumbnailDoesNothing)
{
    CFaceData face(m_clock, 1u);
    face.SeedFeatures();
    EXPECT_EQ(face.m_pointCount, 0);
}

TEST_F(FaceDataTest, CoversNeedsMoreThanAFifthStrictlyInside)
{
    // Ten points, two of them inside (10, 10, 20, 20): exactly a fifth.
    std::vector<cv::Point2f> points(10, cv::Point2f(500, 500));
    points[0] = {15, 15};
    points[1] = {25, 25};
    auto face = WithPoints(points);
    EXPECT_FALSE(face->Covers(10, 10, 20, 20));
    face->m_pPoints[2] = {20, 12};
    EXPECT_TRUE(face->Covers(10, 10, 20, 20));
    // Points on the border are outside.
    face->m_pPoints[0] = {10, 15};
    face->m_pPoints[1] = {30, 15};
    face->m_pPoints[2] = {15, 30};
    EXPECT_FALSE(face->Covers(10, 10, 20, 20));

    // Fewer than five points: one inside suffices.
    auto few = WithPoints({{15, 15}, {100, 100}, {100, 100}, {100, 100}});
    EXPECT_TRUE(few->Covers(10, 10, 20, 20));
    EXPECT_FALSE(few->Covers(50, 50, 20, 20));
}

TEST_F(FaceDataTest, AdvanceRunsWholeStepsAndCarriesTheRemainder)
{
    auto face = WithPoints({});
    m_clock.Advance(32);
    face->Advance();
    EXPECT_EQ(face->m_measureTime, 0u);
    m_clock.Advance(68);  // 100 ms since the last tick: three steps, 1 ms carried
    face->Advance();
    EXPECT_EQ(face->m_measureTime, 99u);
    EXPECT_EQ(face->m_lastTickTime, 1099u);
    m_clock.Advance(32);  // 1 + 32 = 33: one more step
    face->Advance();
    EXPECT_EQ(face->m_measureTime, 132u);
}

TEST_F(FaceDataTest, MarkerGlidesTowardsThePointMeanOutsideItsDeadZone)
{
    auto face = WithPoints({});
    face->m_markerRadius = 45;  // half the rectangle width: no radius change
    face->m_markerX = 100;
    face->m_markerY = 100;
    face->m_meanX = 111;
    face->m_meanY = 100;
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_markerX, 101.0f);
    EXPECT_EQ(face->m_markerY, 99.0f) << "both axes step once either is far off (equal goes down)";

    face->m_markerX = 100;
    face->m_markerY = 100;
    face->m_meanX = 110;
    face->m_meanY = 90;
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_markerX, 100.0f);
    EXPECT_EQ(face->m_markerY, 100.0f);

    // A far mean moves by a thirtieth of the distance plus one.
    face->m_meanX = 100 + 95;
    face->m_meanY = 100 - 62;
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_markerX, 104.0f);
    EXPECT_EQ(face->m_markerY, 97.0f);
}

TEST_F(FaceDataTest, MarkerRadiusFollowsHalfTheFaceWidth)
{
    auto face = WithPoints({});
    face->m_meanX = face->m_markerX;
    face->m_meanY = face->m_markerY;
    face->m_markerRadius = 45 + 10;  // exactly 10 off: stays
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_markerRadius, 55);
    face->m_markerRadius = 45 + 71;  // 71 off: 71 / 30 + 1 = 3 per step
    m_clock.Advance(66);
    face->Advance();
    EXPECT_EQ(face->m_markerRadius, 110);
    face->m_markerRadius = 0;
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_markerRadius, 2);
}

TEST_F(FaceDataTest, PowerCountsUpAfterTheMeasuringPhaseByClassDivisor)
{
    auto face = WithPoints({});
    face->m_targetPower = 2000;
    face->m_powerClass = 1;  // divisor 300: step 6
    m_clock.Advance(33 * 152);  // measuring time reaches 5016 on the last step
    face->Advance();
    EXPECT_EQ(face->m_measureTime, 5016u);
    EXPECT_EQ(face->m_shownPower, 0u) << "nothing counts while the measuring time is at most 5000";
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_shownPower, 6u);
    EXPECT_EQ(face->m_reachedTime, 0u);

    m_clock.Advance(33 * 400);
    face->Advance();
    EXPECT_EQ(face->m_shownPower, 2000u) << "clamped to the target";
    EXPECT_GT(face->m_reachedTime, 0u);
}

TEST_F(FaceDataTest, TimersSaturateAt10032AndZeroPowerIsReachedAtOnce)
{
    auto face = WithPoints({});
    face->m_targetPower = 0;
    face->m_powerClass = 0;
    m_clock.Advance(33);
    face->Advance();
    EXPECT_EQ(face->m_reachedTime, 33u) << "a target of 0 counts as reached from the first step";
    m_clock.Advance(60000);
    face->Advance();
    EXPECT_EQ(face->m_measureTime, 10032u);
    EXPECT_EQ(face->m_reachedTime, 10032u);
    EXPECT_EQ(face->m_shownPower, 0u);

    // Huge targets: the step never overshoots past the 64-bit range.
    auto big = WithPoints({});
    big->m_targetPower = ~uint64_t{0} - 5;
    big->m_powerClass = 7;
    big->m_measureTime = 6000;
    m_clock.Advance(33 * 1001);
    big->Advance();
    EXPECT_EQ(big->m_shownPower, big->m_targetPower);
}

// Track with hand-made frames: a textured square that moves or stands.
class TrackTest : public FaceDataTest {
protected:
    static cv::Mat Texture(int shift)
    {
        cv::Mat grey(240, 320, CV_8UC1, cv::Scalar(0));
        cv::RNG rng(5);
        for (int i = 0; i < 400; ++i) {
            const cv::Point p(rng.uniform(60, 200), rng.uniform(60, 180));
            cv::circle(grey, p + cv::Point(shift, 0), rng.uniform(2, 5), cv::Scalar(rng.uniform(80, 255)), -1);
        }
        cv::GaussianBlur(grey, grey, cv::Size(5, 5), 1.0);
        return grey;
    }

    std::unique_ptr<CFaceData> Seeded(const cv::Mat& grey)
    {
        cv::Mat bgrx;
        cv::cvtColor(grey, bgrx, cv::COLOR_GRAY2BGRA);
        auto face = std::make_unique<CFaceData>(m_clock, 3u);
        face->SetRegion(bgrx, 50, 50, 160, 140);
        face->SeedFeatures();
        return face;
    }

    void Step(CFaceData& face, const cv::Mat& prev, const cv::Mat& cur, CRowTeam* team = nullptr)
    {
        std::vector<cv::Mat> prevPyr, curPyr;
        cv::buildOpticalFlowPyramid(prev, prevPyr, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
        cv::buildOpticalFlowPyramid(cur, curPyr, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
        face.Track(prevPyr, curPyr, cv::Point2f(0, 0), team);
    }
};

TEST_F(TrackTest, PointsFollowedOnTwoThreadsLandExactlyWhereOneThreadPutsThem)
{
    const cv::Mat a = Texture(0), b = Texture(2), c = Texture(5);
    auto alone = Seeded(a);
    auto shared = Seeded(a);
    ASSERT_GE(alone->m_pointCount, 48) << "enough points for the team to share them";
    CRowTeam team;
    team.Start();
    for (const auto& [prev, cur] : {std::pair{a, b}, std::pair{b, c}}) {
        m_clock.Advance(33);
        Step(*alone, prev, cur);
        Step(*shared, prev, cur, &team);
        ASSERT_EQ(shared->m_pointCount, alone->m_pointCount);
        for (int i = 0; i < alone->m_pointCount; ++i)
            ASSERT_EQ(shared->m_pPoints[i], alone->m_pPoints[i]) << i;
    }
}

TEST_F(TrackTest, MovingPointsAreFollowedAndStillPointsDropAfter2500ms)
{
    const cv::Mat a = Texture(0);
    auto face = Seeded(a);
    ASSERT_GT(face->m_pointCount, 50);
    const float meanBefore = [&] {
        float sum = 0;
        for (int i = 0; i < face->m_pointCount; ++i)
            sum += face->m_pPoints[i].x;
        return sum / face->m_pointCount;
    }();

    const cv::Mat b = Texture(2);
    m_clock.Advance(33);
    Step(*face, a, b);
    EXPECT_NEAR(face->m_meanX, meanBefore + 2.0f, 0.3f);
    const int moving = face->m_pointCount;
    EXPECT_GT(moving, 50);

    // The picture stands: 2500 ms of standing still is allowed, more is not.
    for (int i = 0; i < 25; ++i) {
        m_clock.Advance(100);
        Step(*face, b, b);
    }
    EXPECT_EQ(face->m_pointCount, moving) << "still for exactly 2500 ms";
    m_clock.Advance(1);
    Step(*face, b, b);
    EXPECT_EQ(face->m_pointCount, 0);
}

TEST_F(TrackTest, LostPointsDropAtOnceAndSurvivorsKeepTheirOwnTimers)
{
    const cv::Mat a = Texture(0);
    auto face = Seeded(a);
    ASSERT_GT(face->m_pointCount, 10);
    // Point 0 leaves the frame: the flow loses it.
    face->m_pPoints[0] = {-500.0f, -500.0f};
    // Give each point its own still timer so that packing can be checked.
    for (int i = 0; i < face->m_pointCount; ++i)
        face->m_stillTime[i] = static_cast<uint32_t>(i);
    const int before = face->m_pointCount;
    const cv::Point2f second = face->m_pPoints[1];
    m_clock.Advance(10);
    Step(*face, a, a);
    EXPECT_EQ(face->m_pointCount, before - 1);
    EXPECT_NEAR(face->m_pPoints[0].x, second.x, 0.05f) << "the survivors move to the front";
    for (int i = 0; i < face->m_pointCount; ++i)
        EXPECT_EQ(face->m_stillTime[i], static_cast<uint32_t>(i + 1) + 10u) << "point " << i;
}

TEST_F(TrackTest, StrayPointsDropAfterFiveSecondsAwayFromTheFace)
{
    const cv::Mat a = Texture(0);
    auto face = Seeded(a);
    ASSERT_GT(face->m_pointCount, 10);
    // The picture stands; the still rule is kept out of the way, so only
    // the stray rule can drop points.
    face->m_rect = cv::Rect(0, 0, 30, 30);  // a small box around the mean
    const int before = face->m_pointCount;
    int steps = 0;
    for (; steps < 60; ++steps) {
        m_clock.Advance(100);
        for (int k = 0; k < face->m_pointCount; ++k)
            face->m_stillTime[k] = 0;  // keep still-drop out of the way
        Step(*face, a, a);
        if (face->m_pointCount < before)
            break;
    }
    // Points outside the 10 px box around the mean go once they sat there
    // for more than 5 s: on the 51st step of 100 ms.
    EXPECT_LT(face->m_pointCount, before);
    EXPECT_EQ(steps, 50);
}

}  // namespace
}  // namespace quell

// The frame step's own pyramidal Lucas-Kanade tracker against OpenCV's on the
// same pyramids: the same points followed, the same points lost, positions
// within a twentieth of a pixel.
#include "faces/FaceData.h"
#include "faces/FlowPyramid.h"
#include "faces/LucasKanade.h"
#include "platform/RowTeam.h"
#include "support/Scene.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <tuple>
#include <string>
#include <vector>

namespace quell {
namespace {

const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, static_cast<double>(0.03f));

cv::Mat Grey(const cv::Mat& bgrx)
{
    cv::Mat grey;
    cv::cvtColor(bgrx, grey, cv::COLOR_BGRA2GRAY);
    return grey;
}

struct Motion {
    const char* name;
    double dx, dy;
};

class LucasKanadeTest : public ::testing::TestWithParam<Motion> {};

TEST_P(LucasKanadeTest, MatchesOpenCvOnTheSamePyramids)
{
    const Motion motion = GetParam();
    test::Scene scene;
    ASSERT_TRUE(scene.Valid());
    const cv::Size canvas(640, 480);
    const cv::Mat prev = Grey(scene.Render(canvas, 0.8, 150, 40));
    const cv::Mat next = Grey(scene.Render(canvas, 0.8, 150 + motion.dx, 40 + motion.dy));

    std::vector<cv::Point2f> points;
    cv::goodFeaturesToTrack(prev, points, 300, 0.01, 8.0);
    ASSERT_GT(points.size(), 50u);
    // Points on and beyond the edges, where windows reach into the borders
    // or off the picture, and one on flat black, where there is no flow.
    for (const cv::Point2f p : {cv::Point2f(0, 0), cv::Point2f(639.5f, 479.5f), cv::Point2f(-4, 200),
                                cv::Point2f(645, 100), cv::Point2f(300, -30), cv::Point2f(3, 470),
                                cv::Point2f(8, 8)})
        points.push_back(p);

    // Our pyramids in the frame step's layout, and OpenCV's own.
    CFlowPyramid ownPrev, ownNext;
    ownPrev.Build(prev, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    ownNext.Build(next, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    std::vector<cv::Mat> cvPrev, cvNext;
    cv::buildOpticalFlowPyramid(prev, cvPrev, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    cv::buildOpticalFlowPyramid(next, cvNext, CFaceData::kFlowWindow, CFaceData::kFlowLevels);

    using Pair = std::tuple<const char*, const std::vector<cv::Mat>*, const std::vector<cv::Mat>*>;
    for (const auto& [pyrName, prevPyr, nextPyr] :
         {Pair{"own pyramids", &ownPrev.Levels(), &ownNext.Levels()}, Pair{"OpenCV's pyramids", &cvPrev, &cvNext}}) {
        std::vector<cv::Point2f> expected;
        std::vector<uint8_t> expectedStatus;
        cv::calcOpticalFlowPyrLK(*prevPyr, *nextPyr, points, expected, expectedStatus, cv::noArray(),
                                 CFaceData::kFlowWindow, CFaceData::kFlowLevels, kCriteria, 0, 1e-4);
        std::vector<cv::Point2f> got(points.size(), cv::Point2f(-99, -99));
        std::vector<uint8_t> status(points.size(), 7);
        TrackPyramidLk(*prevPyr, *nextPyr, points.data(), got.data(), status.data(), static_cast<int>(points.size()),
                       CFaceData::kFlowWindow, CFaceData::kFlowLevels, kCriteria);

        double worst = 0;
        int followed = 0;
        for (size_t i = 0; i < points.size(); ++i) {
            ASSERT_EQ(status[i], expectedStatus[i]) << pyrName << ", point " << points[i];
            if (!status[i])
                continue;
            ++followed;
            worst = std::max(worst, cv::norm(got[i] - expected[i]));
        }
        EXPECT_LE(worst, 0.05) << pyrName;
        EXPECT_GT(followed, static_cast<int>(points.size()) / 2) << pyrName;
    }

    // Without stored derivatives the tracker takes them under each window
    // itself, and the narrow path sums what the wide one does: the very same
    // positions, to the bit, at the edges too.
    CFlowPyramid bare;
    bare.Build(prev, CFaceData::kFlowWindow, CFaceData::kFlowLevels, nullptr, false);
    const int count = static_cast<int>(points.size());
    std::vector<cv::Point2f> stored(points.size());
    std::vector<uint8_t> storedStatus(points.size());
    TrackPyramidLk(ownPrev.Levels(), ownNext.Levels(), points.data(), stored.data(), storedStatus.data(), count,
                   CFaceData::kFlowWindow, CFaceData::kFlowLevels, kCriteria);
    for (const bool narrow : {false, true}) {
        const std::vector<cv::Mat>& from = narrow ? ownPrev.Levels() : bare.Levels();
        std::vector<cv::Point2f> taken(points.size());
        std::vector<uint8_t> takenStatus(points.size());
        TrackPyramidLk(from, ownNext.Levels(), points.data(), taken.data(), takenStatus.data(), count,
                       CFaceData::kFlowWindow, CFaceData::kFlowLevels, kCriteria, 1e-4f, !narrow);
        EXPECT_EQ(takenStatus, storedStatus) << (narrow ? "narrow path" : "derivatives taken");
        for (int i = 0; i < count; ++i) {
            if (storedStatus[i]) {
                ASSERT_EQ(cv::norm(taken[i] - stored[i]), 0.0)
                    << "point " << points[i] << (narrow ? ", narrow path" : ", derivatives taken");
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Motions, LucasKanadeTest,
                         ::testing::Values(Motion{"Still", 0, 0}, Motion{"SubPixel", 0.3, -0.7},
                                           Motion{"FewPixels", 3.5, 2.25}, Motion{"Fast", 12, -9},
                                           Motion{"VeryFast", 25, 18}),
                         [](const ::testing::TestParamInfo<Motion>& info) { return std::string(info.param.name); });

// The frame step's pyramid equals OpenCV's level by level, with the borders
// the tracker reads, for sizes that leave remainders to every vector loop:
// built alone and on a row team (one pyramid object for every size, so its
// buffers are reused), from a whole picture and from a region of a larger
// one whose surroundings must not leak in; a white picture gives the
// largest sums of the reduction.
TEST(FlowPyramid, EqualsOpenCvLevelByLevelWithBorders)
{
    cv::RNG rng(3);
    CRowTeam team;
    team.Start();
    CFlowPyramid own;
    for (const bool teamed : {false, true}) {
        for (const cv::Size size : {cv::Size(11, 13), cv::Size(33, 17), cv::Size(1, 40), cv::Size(203, 151),
                                    cv::Size(640, 480), cv::Size(97, 61)}) {
            const bool white = size == cv::Size(97, 61);
            cv::Mat whole(size.height + 9, size.width + 14, CV_8UC1);
            rng.fill(whole, cv::RNG::UNIFORM, 0, 256);
            if (white)
                whole.setTo(255);
            cv::Mat grey = whole(cv::Rect(cv::Point(7, 4), size));
            grey.at<uchar>(0, 0) = 255;  // the largest derivative sums at a corner
            own.Build(grey, CFaceData::kFlowWindow, CFaceData::kFlowLevels, teamed ? &team : nullptr);
            std::vector<cv::Mat> reference;
            cv::buildOpticalFlowPyramid(grey.clone(), reference, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
            ASSERT_EQ(own.Levels().size(), reference.size()) << size;
            const cv::Size b = CFaceData::kFlowWindow;
            for (size_t i = 0; i < reference.size(); ++i) {
                cv::Mat mine = own.Levels()[i], theirs = reference[i];
                ASSERT_EQ(mine.size(), theirs.size()) << size << " entry " << i;
                mine.adjustROI(b.height, b.height, b.width, b.width);
                theirs.adjustROI(b.height, b.height, b.width, b.width);
                EXPECT_EQ(cv::norm(mine.reshape(1), theirs.reshape(1), cv::NORM_INF), 0.0)
                    << size << " entry " << i << (teamed ? " on the team" : "");
            }
        }
    }
    team.Stop();
}

// Windows cut by every edge of a textured picture, on every level: the wide
// paths (the window row in one vector, the derivatives taken in vectors)
// sum exactly what the narrow ones do, with stored derivatives or without.
TEST(LucasKanade, WidePathsEqualTheNarrowOnesAtTheEdges)
{
    cv::Mat texture(120, 160, CV_8UC1);
    cv::RNG(5).fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(5, 5), 1.2);
    cv::Mat moved;
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 0.6, 0, 1, -0.4);
    cv::warpAffine(texture, moved, shift, texture.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT_101);
    std::vector<cv::Point2f> points;
    for (const float x : {0.0f, 0.7f, 2.5f, 6.0f, 80.0f, 152.3f, 156.5f, 158.9f, 159.6f})
        for (const float y : {0.0f, 1.4f, 4.0f, 60.0f, 113.2f, 116.8f, 118.5f, 119.7f})
            points.push_back({x, y});
    CFlowPyramid stored, bare, next;
    stored.Build(texture, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    bare.Build(texture, CFaceData::kFlowWindow, CFaceData::kFlowLevels, nullptr, false);
    next.Build(moved, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    const int count = static_cast<int>(points.size());
    const auto track = [&](const CFlowPyramid& from, bool wide, std::vector<uint8_t>& status) {
        std::vector<cv::Point2f> out(points.size());
        status.assign(points.size(), 7);
        TrackPyramidLk(from.Levels(), next.Levels(), points.data(), out.data(), status.data(), count,
                       CFaceData::kFlowWindow, CFaceData::kFlowLevels, kCriteria, 1e-4f, wide);
        return out;
    };
    std::vector<uint8_t> narrowStatus;
    const std::vector<cv::Point2f> narrow = track(stored, false, narrowStatus);
    EXPECT_GT(std::count(narrowStatus.begin(), narrowStatus.end(), 1), count * 2 / 3) << "most points are followed";
    for (const CFlowPyramid* from : {&stored, &bare}) {
        std::vector<uint8_t> status;
        const std::vector<cv::Point2f> wide = track(*from, true, status);
        EXPECT_EQ(status, narrowStatus) << (from == &bare ? "derivatives taken" : "derivatives stored");
        for (int i = 0; i < count; ++i) {
            if (status[i] && narrowStatus[i]) {
                ASSERT_EQ(wide[i], narrow[i]) << points[i] << (from == &bare ? ", derivatives taken" : "");
            }
        }
    }
}

TEST(LucasKanade, FlatPicturesLoseEveryPointAndNoPointsIsFine)
{
    const cv::Mat flat(120, 160, CV_8UC1, cv::Scalar(90));
    CFlowPyramid a, b;
    a.Build(flat, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    b.Build(flat, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    std::vector<cv::Point2f> points{{20, 20}, {80, 60}, {150, 110}}, next(3);
    std::vector<uint8_t> status(3, 7);
    TrackPyramidLk(a.Levels(), b.Levels(), points.data(), next.data(), status.data(), 3, CFaceData::kFlowWindow,
                   CFaceData::kFlowLevels, kCriteria);
    EXPECT_EQ(status, (std::vector<uint8_t>{0, 0, 0}));
    TrackPyramidLk(a.Levels(), b.Levels(), points.data(), next.data(), status.data(), 0, CFaceData::kFlowWindow,
                   CFaceData::kFlowLevels, kCriteria);
}

}  // namespace
}  // namespace quell

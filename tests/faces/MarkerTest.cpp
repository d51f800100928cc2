// The marker drawn on pixels: sight geometry, ray ring phases, thumbnail and
// scan line.
#include "faces/FaceData.h"
#include "faces/MarkerCircle.h"

#include "platform/Clock.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace quell {
namespace {

class MarkerTest : public ::testing::Test {
protected:
    MarkerTest() : m_face(m_clock, 1u)
    {
        m_face.m_markerX = 320.0f;
        m_face.m_markerY = 200.0f;
        m_face.m_markerRadius = 60;
        m_face.m_pFaceImage = cv::Mat(30, 30, CV_8UC4, cv::Scalar(40, 80, 40, 0));
    }

    cv::Mat Draw(uint32_t t)
    {
        m_face.m_measureTime = t;
        cv::Mat frame(480, 640, CV_8UC4, cv::Scalar(0, 0, 0, 0));
        m_face.DrawMarker(frame);
        return frame;
    }

    static bool IsSight(const cv::Mat& f, int x, int y) { return f.at<cv::Vec4b>(y, x) == cv::Vec4b(222, 255, 222, 0); }
    static bool IsRay(const cv::Mat& f, int x, int y)
    {
        const cv::Vec4b p = f.at<cv::Vec4b>(y, x);
        return p[0] == 0 && p[2] == 255 && p[1] > 0;
    }
    // Whether any ray pixel lies on the ring between radius 105 and 120 at
    // `degrees` from the centre.
    static bool RayAt(const cv::Mat& f, double degrees)
    {
        const double phi = degrees * CV_PI / 180.0;
        for (int r = 106; r <= 119; ++r)
            if (IsRay(f, static_cast<int>(320 + r * std::cos(phi)), static_cast<int>(200 + r * std::sin(phi))))
                return true;
        return false;
    }

    ManualClock m_clock{0};
    CFaceData m_face;
};

TEST_F(MarkerTest, SightGeometryForRadius60)
{
    const cv::Mat f = Draw(9000);
    // Circles of radius 40, 43, 80 and 83 (A = 40, B = 6).
    for (const int r : {40, 43, 80, 83}) {
        EXPECT_TRUE(IsSight(f, 320 + r, 200) || IsSight(f, 320 + r, 199) || IsSight(f, 320 + r, 201)) << r;
    }
    EXPECT_FALSE(IsSight(f, 320 + 60, 180));
    // Long arms: from 80 to 12 pixels from the centre, not closer.
    EXPECT_TRUE(IsSight(f, 320, 200 - 80));
    EXPECT_TRUE(IsSight(f, 320, 200 - 12));
    EXPECT_FALSE(IsSight(f, 320, 200 - 9));
    EXPECT_TRUE(IsSight(f, 320 - 12, 200));
    EXPECT_TRUE(IsSight(f, 320 + 70, 200));
    // Central cross of half-length B and the short ticks at +-B.
    EXPECT_TRUE(IsSight(f, 320, 200));
    EXPECT_TRUE(IsSight(f, 320 + 6, 200));
    EXPECT_TRUE(IsSight(f, 320 + 9, 194));
    EXPECT_TRUE(IsSight(f, 320 - 9, 206));
    // Lines one pixel wide at 640 wide.
    EXPECT_FALSE(IsSight(f, 321, 150));
    EXPECT_FALSE(IsSight(f, 319, 150));
}

TEST_F(MarkerTest, RayRingFillsBlinksAndEnds)
{
    const cv::Mat half = Draw(2500);
    EXPECT_TRUE(RayAt(half, 0.0));
    EXPECT_TRUE(RayAt(half, 90.0)) << "downwards on the screen: angles grow clockwise";
    EXPECT_TRUE(RayAt(half, 177.0));
    EXPECT_FALSE(RayAt(half, 183.0));
    EXPECT_FALSE(RayAt(half, 270.0));
    // The first ray is yellow, later ones redder.
    EXPECT_EQ(half.at<cv::Vec4b>(200, 320 + 112), cv::Vec4b(0, 255, 255, 0));

    EXPECT_TRUE(RayAt(Draw(5100), 270.0)) << "5100 / 200 is odd: shown";
    EXPECT_FALSE(RayAt(Draw(5200), 0.0)) << "5200 / 200 is even: hidden";
    EXPECT_TRUE(RayAt(Draw(7500), 357.0)) << "steady and full after the blinking";
    EXPECT_FALSE(RayAt(Draw(8000), 0.0));
    EXPECT_TRUE(RayAt(Draw(0), 0.0) == false) << "no rays at the start";
}

TEST_F(MarkerTest, ThumbnailAndScanLine)
{
    // 640 x 480: S = 60, the square at (15, 405).
    const cv::Mat f = Draw(2500);
    EXPECT_EQ(f.at<cv::Vec4b>(405, 15), cv::Vec4b(40, 80, 40, 0));
    EXPECT_EQ(f.at<cv::Vec4b>(464, 74), cv::Vec4b(40, 80, 40, 0));
    EXPECT_EQ(f.at<cv::Vec4b>(404, 15), cv::Vec4b(0, 0, 0, 0));
    EXPECT_EQ(f.at<cv::Vec4b>(405, 75), cv::Vec4b(0, 0, 0, 0));
    // Scan line half way up at 2.5 s: y = 480 - 15 - 30.
    EXPECT_EQ(f.at<cv::Vec4b>(435, 40), cv::Vec4b(0, 0, 255, 0));
    EXPECT_EQ(f.at<cv::Vec4b>(435, 75), cv::Vec4b(0, 0, 255, 0)) << "the line ends at x = 15 + S";
    EXPECT_EQ(Draw(0).at<cv::Vec4b>(465, 40), cv::Vec4b(0, 0, 255, 0)) << "starts at the bottom edge";
    const cv::Mat done = Draw(5000);
    for (int y = 400; y < 470; ++y)
        ASSERT_NE(done.at<cv::Vec4b>(y, 40), cv::Vec4b(0, 0, 255, 0)) << "no scan line from 5 s on";
}

TEST_F(MarkerTest, MarkerOffTheFrameAndTinyFramesAreSafe)
{
    m_face.m_markerX = -5000.0f;
    m_face.m_markerY = 90000.0f;
    m_face.m_markerRadius = 3000;
    Draw(2500);
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(7, 3), cv::Size(100, 16)}) {
        cv::Mat frame(size, CV_8UC4, cv::Scalar::all(0));
        m_face.m_markerX = 0.0f;
        m_face.m_markerY = 0.0f;
        m_face.m_markerRadius = 0;
        m_face.DrawMarker(frame);
    }
    CFaceData bare(m_clock, 1u);
    cv::Mat frame(48, 64, CV_8UC4, cv::Scalar::all(0));
    bare.DrawMarker(frame);  // no thumbnail yet
}

// Every pixel the sight and the ray ring change lies in the rectangle the
// marker reports (the panel is shaded there only), whatever its size, phase
// and frame: the thumbnail and its scan line stay in their square.
TEST_F(MarkerTest, ReportedAreaHoldsEveryPixelDrawnOutsideTheThumbnail)
{
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1920, 1080)}) {
        const int S = size.height / 8;
        const cv::Rect thumbnail(15, size.height - S - 15, S + 1, S + 1);
        for (const int radius : {0, 1, 7, 60, 245}) {
            for (const uint32_t t : {0u, 2600u, 5000u, 6100u, 7500u, 9000u}) {
                for (const cv::Point2f at :
                     {cv::Point2f(size.width / 2.0f, size.height / 2.0f), cv::Point2f(3.7f, size.height - 5.2f),
                      cv::Point2f(size.width - 1.0f, 0.5f)}) {
                    m_face.m_markerX = at.x;
                    m_face.m_markerY = at.y;
                    m_face.m_markerRadius = radius;
                    m_face.m_measureTime = t;
                    cv::Mat frame(size, CV_8UC4, cv::Scalar(1, 2, 3, 255));
                    const cv::Rect area = m_face.DrawMarker(frame);
                    cv::Mat changed;
                    cv::inRange(frame, cv::Scalar(1, 2, 3, 255), cv::Scalar(1, 2, 3, 255), changed);
                    cv::bitwise_not(changed, changed);
                    changed(thumbnail & cv::Rect(0, 0, size.width, size.height)).setTo(0);
                    changed(area & cv::Rect(0, 0, size.width, size.height)).setTo(0);
                    ASSERT_EQ(cv::countNonZero(changed), 0)
                        << size << " radius " << radius << " at " << at << ", t " << t << ", area " << area;
                }
            }
        }
    }
}

// The marker's circles against cv::circle, pixel for pixel, drawn directly
// and through the stamps (one cache for all, so stamps are made, reused at
// centres of every parity and evicted): every radius the sight uses at every
// frame size up to 4K, with the thicknesses those sizes give, centres inside,
// on the border of and outside the frame, and radii of 0 and below.
TEST(MarkerCircleTest, SamePixelsAsCvCircle)
{
    std::mt19937 rng(7);
    CCircleStamps stamps;
    cv::Mat background(300, 400, CV_8UC4);
    cv::randu(background, cv::Scalar::all(0), cv::Scalar::all(256));
    const cv::Scalar colour(222, 255, 222, 0);
    int compared = 0;
    for (int thickness = 1; thickness <= 8; ++thickness) {
        for (int radius = -3; radius <= 260; radius += (radius < 40 ? 1 : 7)) {
            for (int k = 0; k < 6; ++k) {
                // Half the centres anywhere, half near the middle.
                const cv::Point centre = k < 3 ? cv::Point(static_cast<int>(rng() % 600) - 100,
                                                           static_cast<int>(rng() % 500) - 100)
                                               : cv::Point(190 + static_cast<int>(rng() % 20),
                                                           140 + static_cast<int>(rng() % 20));
                cv::Mat want = background.clone();
                cv::Mat got = background.clone();
                cv::Mat stamped = background.clone();
                cv::circle(want, centre, std::max(radius, 0), colour, thickness, cv::LINE_4);
                DrawCircleOutline(got, centre, radius, colour, thickness);
                stamps.Draw(stamped, centre, radius, colour, thickness);
                ASSERT_EQ(cv::norm(got, want, cv::NORM_INF), 0.0)
                    << "radius " << radius << " thickness " << thickness << " centre " << centre;
                ASSERT_EQ(cv::norm(stamped, want, cv::NORM_INF), 0.0)
                    << "stamped: radius " << radius << " thickness " << thickness << " centre " << centre;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 1000);
}

TEST(MarkerCircleTest, FramesOfOtherShapesAndFarCentresMatchToo)
{
    const cv::Scalar colour(0, 90, 255, 0);
    struct Case {
        cv::Size size;
        cv::Point centre;
        int radius;
        int thickness;
    };
    const Case cases[] = {
        {{1, 1}, {0, 0}, 0, 1},          {{1, 1}, {0, 0}, 5, 3},           {{2, 2}, {1, 1}, 1, 1},
        {{7, 5}, {3, 2}, 2, 2},          {{3840, 40}, {1920, 20}, 400, 6}, {{64, 48}, {-5000, 90000}, 6000, 2},
        {{64, 48}, {40000, 10}, 39990, 1}, {{64, 48}, {32760, 24}, 32730, 3}, {{64, 48}, {-32700, 24}, 32730, 1},
        {{1300, 1200}, {651, 600}, 580, 6},
    };
    CCircleStamps stamps;
    for (const Case& c : cases) {
        cv::Mat want(c.size, CV_8UC4, cv::Scalar(9, 8, 7, 6));
        cv::Mat got = want.clone();
        cv::circle(want, c.centre, c.radius, colour, c.thickness, cv::LINE_4);
        cv::Mat stamped = got.clone();
        DrawCircleOutline(got, c.centre, c.radius, colour, c.thickness);
        stamps.Draw(stamped, c.centre, c.radius, colour, c.thickness);
        EXPECT_EQ(cv::norm(got, want, cv::NORM_INF), 0.0) << c.size << " " << c.centre << " r " << c.radius;
        EXPECT_EQ(cv::norm(stamped, want, cv::NORM_INF), 0.0) << c.size << " " << c.centre << " r " << c.radius;
    }
}

// The ray ring through its stamp against cv::line ray by ray, in order and
// with a colour per ray, through one stamp: centres moving inside the frame
// (drawn from the stamp), rings that change size or thickness (made again),
// and rings cut by the frame's edge (drawn line by line).
TEST(MarkerCircleTest, RayRingSamePixelsAsCvLine)
{
    constexpr int kRays = CRayStamp::kRays;
    std::array<cv::Scalar, kRays> colours;
    for (int i = 0; i < kRays; ++i)
        colours[i] = cv::Scalar(0, 255 - 2 * i, 255, 0);
    cv::Mat background(360, 480, CV_8UC4);
    cv::randu(background, cv::Scalar::all(0), cv::Scalar::all(256));
    struct Case {
        cv::Point centre;
        int radius;
        int thickness;
        int count;
    };
    const Case cases[] = {
        {{240, 180}, 60, 6, 120}, {{241, 180}, 60, 6, 120}, {{250, 163}, 60, 6, 37}, {{251, 170}, 60, 6, 0},
        {{251, 170}, 61, 6, 120}, {{251, 170}, 61, 2, 90}, {{90, 80}, 30, 1, 120},   {{20, 180}, 60, 6, 120},
        {{240, 350}, 60, 3, 120}, {{240, 180}, 60, 6, 1},
    };
    CRayStamp stamp;
    for (const Case& c : cases) {
        std::array<cv::Point, kRays> from, to;
        for (int i = 0; i < kRays; ++i) {
            const double phi = 3.0 * i * CV_PI / 180.0;
            const double inner = 2 * c.radius - c.radius / 4, outer = 2 * c.radius;
            from[i] = cv::Point(static_cast<int>(c.centre.x + inner * std::cos(phi)),
                                static_cast<int>(c.centre.y + inner * std::sin(phi)));
            to[i] = cv::Point(static_cast<int>(c.centre.x + outer * std::cos(phi)),
                              static_cast<int>(c.centre.y + outer * std::sin(phi)));
        }
        cv::Mat want = background.clone();
        for (int i = 0; i < c.count; ++i)
            cv::line(want, from[i], to[i], colours[i], c.thickness, cv::LINE_4);
        // Every other frame lies at an odd address with an odd row stride.
        const bool odd = (&c - cases) % 2 == 1;
        std::vector<uchar> storage(static_cast<size_t>(background.rows) * (4 * background.cols + 3) + 1);
        cv::Mat got = odd ? cv::Mat(background.size(), CV_8UC4, storage.data() + 1, 4 * background.cols + 3)
                          : cv::Mat(background.size(), CV_8UC4);
        background.copyTo(got);
        stamp.Draw(got, c.centre, from, to, c.count, colours, c.thickness);
        EXPECT_EQ(cv::norm(got, want, cv::NORM_INF), 0.0)
            << c.centre << " r " << c.radius << " thickness " << c.thickness << " rays " << c.count;
    }
}

}  // namespace
}  // namespace quell

// The panel mask's pixel passes against the sequence they replace: the grey
// picture written back as grey, tinted outside the panel, drawn over, then
// shaded inside the panel.
#include "filter/PanelMask.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <random>

namespace quell {
namespace {

bool Inside(const cv::Mat& mask, int x, int y)
{
    return mask.at<cv::Vec4b>(y, x)[0] == 255;
}

// The sequence the passes replace, one pixel at a time: cvtColor to BGRA,
// blue and red halved outside the panel, `draw`, then blue and red 0 and
// green trunc(0.4 * green) inside it.
template <typename Draw>
cv::Mat OldSequence(const cv::Mat& grey, const cv::Mat& mask, Draw draw)
{
    cv::Mat frame;
    cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGRA);
    for (int y = 0; y < frame.rows; ++y)
        for (int x = 0; x < frame.cols; ++x)
            if (!Inside(mask, x, y)) {
                cv::Vec4b& p = frame.at<cv::Vec4b>(y, x);
                p[0] >>= 1;
                p[2] >>= 1;
            }
    draw(frame);
    for (int y = 0; y < frame.rows; ++y)
        for (int x = 0; x < frame.cols; ++x)
            if (Inside(mask, x, y)) {
                cv::Vec4b& p = frame.at<cv::Vec4b>(y, x);
                p = cv::Vec4b(0, static_cast<uint8_t>(0.4 * p[1]), 0, p[3]);
            }
    return frame;
}

cv::Mat RandomGrey(cv::Size size, uint32_t seed)
{
    cv::Mat grey(size, CV_8UC1);
    std::mt19937 rng(seed);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            grey.at<uint8_t>(y, x) = static_cast<uint8_t>(rng());
    return grey;
}

// Marker-like drawing over the frame, partly over the panel, with colours
// whose fourth byte is 0 as the marker's are.
void DrawOver(cv::Mat& frame)
{
    const cv::Point c(frame.cols / 3, frame.rows - frame.rows / 6);
    cv::circle(frame, c, std::max(1, frame.rows / 5), cv::Scalar(222, 255, 222, 0), 1, cv::LINE_4);
    cv::line(frame, cv::Point(0, frame.rows - 1), cv::Point(frame.cols - 1, 0), cv::Scalar(0, 180, 255, 0), 3, 4);
}

TEST(PanelMaskTest, WriteBackThenShadeEqualsTheOldSequenceOnRandomGreys)
{
    // Odd widths, tiny frames, and a row stride with padding that is not a
    // multiple of 16 bytes; the 16-byte passes and, where the processor has
    // them, the 64-byte ones.
    const cv::Size sizes[] = {{1, 1}, {2, 2}, {7, 5}, {99, 23}, {160, 120}, {641, 479}, {1920, 1080}};
    for (const cv::Size size : sizes) {
        for (const int variant : {0, 1, 2, 3}) {
            const bool padded = variant & 1, wide = variant & 2;
            CPanelMask panel;
            panel.UseWidePaths(wide);
            panel.Build(size.width, size.height, size.height / 8);
            const cv::Mat grey = RandomGrey(size, static_cast<uint32_t>(size.area() + padded));
            const cv::Mat want = OldSequence(grey, panel.Mask(), DrawOver);

            cv::Mat storage(size.height, size.width + (padded ? 3 : 0), CV_8UC4, cv::Scalar(1, 2, 3, 4));
            cv::Mat frame = storage(cv::Rect(padded ? 1 : 0, 0, size.width, size.height));
            panel.WriteBack(grey, frame);
            DrawOver(frame);
            // Shading only the left half's drawing leaves the right half's
            // as it was drawn.
            const cv::Mat drawn = frame.clone();
            const cv::Rect left(0, 0, size.width / 2, size.height), right(left.width, 0, size.width - left.width,
                                                                             size.height);
            panel.ShadeDrawn(frame, left);
            ASSERT_EQ(cv::norm(frame(right), drawn(right), cv::NORM_INF), 0.0) << size;
            panel.ShadeDrawn(frame, right);

            ASSERT_EQ(cv::norm(frame, want, cv::NORM_INF), 0.0)
                << size << (padded ? " padded" : "") << (wide ? " wide" : "");
            if (padded) {
                // Neither pass touches the bytes beside the frame.
                for (int y = 0; y < size.height; ++y) {
                    ASSERT_EQ(storage.at<cv::Vec4b>(y, 0), cv::Vec4b(1, 2, 3, 4)) << y;
                    ASSERT_EQ(storage.at<cv::Vec4b>(y, size.width + 1), cv::Vec4b(1, 2, 3, 4)) << y;
                }
            }
        }
    }
}

TEST(PanelMaskTest, EveryGreyValueInsideAndOutside)
{
    for (const bool wide : {false, true}) {
        CPanelMask panel;
        panel.UseWidePaths(wide);
        panel.Build(640, 480, 60);
        cv::Mat grey(480, 640, CV_8UC1);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                grey.at<uint8_t>(y, x) = static_cast<uint8_t>(x + y);
        cv::Mat frame(480, 640, CV_8UC4);
        panel.WriteBack(grey, frame);
        // Nothing drawn: shading leaves the written-back picture alone.
        panel.ShadeDrawn(frame, cv::Rect(0, 0, 640, 480));
        int inside = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                const int g = (x + y) % 256;
                const bool in = Inside(panel.Mask(), x, y);
                inside += in;
                const cv::Vec4b want = in ? cv::Vec4b(0, static_cast<uint8_t>(2 * g / 5), 0, 255)
                                          : cv::Vec4b(static_cast<uint8_t>(g >> 1), static_cast<uint8_t>(g),
                                                      static_cast<uint8_t>(g >> 1), 255);
                ASSERT_EQ(frame.at<cv::Vec4b>(y, x), want) << x << "," << y << (wide ? " wide" : "");
            }
        EXPECT_GT(inside, 20000) << "the panel covers the lower part of the frame";
    }
}

TEST(PanelMaskTest, GeometryAndGaugeBaseFollowTheFrameSize)
{
    struct Case {
        cv::Size size;
        int gaugeBase;
    };
    // The gauge base is trunc(H - H / 15 - 1.5 * (H / 80)).
    const Case cases[] = {{{640, 480}, 439}, {{160, 120}, 110}, {{1920, 1080}, 988}, {{7, 5}, 5}};
    for (const Case& c : cases) {
        CPanelMask panel;
        panel.Build(c.size.width, c.size.height, c.size.height / 8);
        EXPECT_EQ(panel.GaugeBase(), c.gaugeBase) << c.size;
        ASSERT_EQ(panel.Size(), c.size);
        EXPECT_EQ(panel.Mask().type(), CV_8UC4);
        EXPECT_TRUE(Inside(panel.Mask(), 0, c.size.height - 1)) << "the bottom-left corner is panel";
    }
    // The window at 640 x 480 stays outside the panel; white is (255,255,255,0).
    CPanelMask panel;
    panel.Build(640, 480, 60);
    EXPECT_FALSE(Inside(panel.Mask(), 45, 435));
    EXPECT_TRUE(Inside(panel.Mask(), 8, 435));
    EXPECT_EQ(panel.Mask().at<cv::Vec4b>(479, 0), cv::Vec4b(255, 255, 255, 0));
    EXPECT_EQ(panel.Mask().at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 0));

    // A rebuild for another size replaces everything.
    panel.Build(160, 120, 15);
    EXPECT_EQ(panel.Size(), cv::Size(160, 120));
    EXPECT_EQ(panel.GaugeBase(), 110);
    panel.Build(0, 0, 0);
    EXPECT_TRUE(panel.Mask().empty());
}

TEST(PanelMaskTest, FramesOfAnotherSizeOrTypeAreRefused)
{
    CPanelMask panel;
    panel.Build(64, 48, 6);
    cv::Mat frame(48, 64, CV_8UC4);
    const cv::Mat grey(48, 64, CV_8UC1, cv::Scalar(7));
    cv::Mat small(47, 64, CV_8UC4);
    cv::Mat bgr(48, 64, CV_8UC3);
    EXPECT_THROW(panel.WriteBack(grey, small), std::invalid_argument);
    EXPECT_THROW(panel.WriteBack(grey, bgr), std::invalid_argument);
    EXPECT_THROW(panel.WriteBack(cv::Mat(48, 63, CV_8UC1), frame), std::invalid_argument);
    EXPECT_THROW(panel.WriteBack(cv::Mat(48, 64, CV_8UC3), frame), std::invalid_argument);
    EXPECT_THROW(panel.ShadeDrawn(small, cv::Rect(0, 0, 8, 8)), std::invalid_argument);
    EXPECT_NO_THROW(panel.WriteBack(grey, frame));
    EXPECT_EQ(frame.at<cv::Vec4b>(0, 0), cv::Vec4b(3, 7, 3, 255));
}

}  // namespace
}  // namespace quell

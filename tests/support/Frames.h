// Synthetic BGRx frames for the filter and element tests.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdint>

namespace quell::test {

// A frame whose every pixel differs from its neighbours and from the same
// pixel of frames with another seed, so that a shifted or stale copy shows.
inline cv::Mat PatternFrame(int width, int height, int seed)
{
    cv::Mat frame(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y) {
        auto* row = frame.ptr<uint8_t>(y);
        for (int x = 0; x < width; ++x) {
            row[4 * x + 0] = static_cast<uint8_t>(x * 7 + y * 3 + seed * 31);
            row[4 * x + 1] = static_cast<uint8_t>(x * 5 + y * 11 + seed * 17);
            row[4 * x + 2] = static_cast<uint8_t>(x * 13 + y * 2 + seed * 5);
            row[4 * x + 3] = 0;
        }
    }
    return frame;
}

// The picture the filter shows for an input frame: its grey value in the
// three colour bytes.
inline cv::Mat GreyPicture(const cv::Mat& bgrx)
{
    cv::Mat grey, out;
    cv::cvtColor(bgrx, grey, cv::COLOR_BGRA2GRAY);
    cv::cvtColor(grey, out, cv::COLOR_GRAY2BGRA);
    return out;
}

// Largest difference of the blue, green and red bytes of two frames.
inline int MaxColourDiff(const cv::Mat& a, const cv::Mat& b)
{
    int worst = 0;
    for (int y = 0; y < a.rows; ++y) {
        const auto* pa = a.ptr<uint8_t>(y);
        const auto* pb = b.ptr<uint8_t>(y);
        for (int x = 0; x < a.cols; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(pa[4 * x + c] - pb[4 * x + c]));
    }
    return worst;
}

}  // namespace quell::test

// The picture the filter shows under its overlay, and the part of a frame
// that no text, gauge or panel of the overlay touches.
#pragma once

#include "support/Frames.h"

#include <opencv2/core.hpp>

#include <algorithm>

namespace quell::test {

// The grey picture of `bgrx` tinted green: blue and red halved.
inline cv::Mat TintedPicture(const cv::Mat& bgrx)
{
    cv::Mat out = GreyPicture(bgrx);
    for (int y = 0; y < out.rows; ++y) {
        auto* row = out.ptr<uint8_t>(y);
        for (int x = 0; x < out.cols; ++x) {
            row[4 * x + 0] >>= 1;
            row[4 * x + 2] >>= 1;
        }
    }
    return out;
}

// The rows between the score line and the panel's rim, left of the gauge,
// with a safety margin on every side. Empty for frames too small to have
// such a region.
inline cv::Rect OverlayFreeRect(int width, int height)
{
    const float s = width / 320.0f;
    const int scoreCell = std::max(height / 28, 16);
    const int top = static_cast<int>(5 * s) + 2 * scoreCell + 2;
    const int rimTop = height - height / 8 - 30 - (3 * (height / 80)) / 2 - std::max(1, width / 100) - 2;
    const int right = static_cast<int>(width - 15 * s) - std::max(1, width / 600) - 2;
    if (rimTop <= top || right <= 0)
        return {};
    return {0, top, right, rimTop - top};
}

// Largest colour difference of two frames inside `area`.
inline int MaxColourDiffIn(const cv::Mat& a, const cv::Mat& b, const cv::Rect& area)
{
    return MaxColourDiff(a(area), b(area));
}

}  // namespace quell::test

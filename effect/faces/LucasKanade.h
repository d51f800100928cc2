// Pyramidal Lucas-Kanade point tracking on prebuilt flow pyramids, without
// a heap allocation and without a thread pool.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>
#include <vector>

namespace quell {

// The largest flow window the tracker takes, per side.
constexpr int kMaxLkWindow = 32;

// Follows `count` points from the picture of `prevPyramid` into that of
// `nextPyramid`, both laid out as CFlowPyramid::Levels() gives them (image
// and Scharr derivative per level, with borders of at least the window). A
// level of `prevPyramid` whose derivative is empty has its derivatives taken
// here, under each point's window only (the same values); its image then
// needs a border of at least one pixel, as CFlowPyramid's has.
// The arithmetic is OpenCV's pyramidal Lucas-Kanade (fixed-point bilinear
// sampling, the same stopping rules and minimum eigenvalue test), so the
// positions agree with cv::calcOpticalFlowPyrLK on the same pyramids; the
// sums are exact here, so the last bits of a position may differ. `status`
// gets 1 for a point followed, 0 for one lost. At most `maxLevel` levels
// above the picture are used, fewer when the pyramids have fewer.
// Where the processor has AVX2 a window row of up to 15 samples is taken in
// one vector; `widePath` false keeps the narrower path (the same sums, so
// the same positions), for tests to hold the two against each other.
void TrackPyramidLk(const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& nextPyramid,
                    const cv::Point2f* prevPoints, cv::Point2f* nextPoints, uint8_t* status, int count,
                    cv::Size window, int maxLevel, const cv::TermCriteria& criteria, float minEigThreshold = 1e-4f,
                    bool widePath = true);

}  // namespace quell

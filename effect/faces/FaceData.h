// One followed face: its tracked points, timers, marker and rolled profile.
#pragma once

#include <opencv2/core.hpp>

#include <vector>

namespace quell {

class CFaceData {
public:
    CFaceData() = default;
    virtual ~CFaceData() = default;

    CFaceData(const CFaceData&) = delete;
    CFaceData& operator=(const CFaceData&) = delete;

    // Follows the face's points from the previous grey frame into the current
    // one, using the pyramids the frame step built for both frames.
    virtual void Track(const cv::Mat& prevGrey, const cv::Mat& curGrey,
                       const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& pyramid);
    // Consumes the animation steps that have passed since the last call.
    virtual void Advance();
    // Draws the face's marker into the top-down colour frame.
    virtual void DrawMarker(cv::Mat& frame);

    int m_pointCount = 0;
};

}  // namespace quell

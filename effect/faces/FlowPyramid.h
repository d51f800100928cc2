// The optical-flow pyramid of a grey picture, built into buffers kept from
// frame to frame: the same levels, Scharr derivatives and borders as
// OpenCV's buildOpticalFlowPyramid, in the layout calcOpticalFlowPyrLK
// takes, without a heap allocation once the buffers are big enough and
// without OpenCV's thread pool.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace quell {

class CRowTeam;

class CFlowPyramid {
public:
    static constexpr int kMaxLevels = 8;

    // Builds the pyramid of `grey` (CV_8UC1, any stride, may be a region of
    // a larger picture; only its own pixels are read) with up to `maxLevel`
    // levels above the picture itself, for a flow window of `window`. A level
    // is made only while it is larger than the window, as OpenCV does. With
    // a running `team` the largest level is made in blocks of rows on two
    // threads; the pyramid is the same either way. Without `derivatives`
    // each level's derivative entry is left empty, for TrackPyramidLk() to
    // take the derivatives only where it looks.
    void Build(const cv::Mat& grey, cv::Size window, int maxLevel, CRowTeam* team = nullptr, bool derivatives = true);

    // Image and derivative of each level, interleaved: what
    // calcOpticalFlowPyrLK takes as a prebuilt pyramid. Empty before Build().
    const std::vector<cv::Mat>& Levels() const { return m_levels; }
    bool Empty() const { return m_levels.empty(); }
    void Clear() { m_levels.clear(); }

private:
    // One level's buffers: at least the level with its border, grown only.
    struct Level {
        cv::Mat image;   // CV_8UC1, border filled by reflection
        cv::Mat deriv;   // CV_16SC2 (d/dx, d/dy), border zero
        std::vector<uint16_t> rows;  // horizontally filtered rows for the next level
    };
    static constexpr int kTeamBlockRows = 16;

    std::array<Level, kMaxLevels + 1> m_buffers;
    std::vector<cv::Mat> m_levels;
};

}  // namespace quell

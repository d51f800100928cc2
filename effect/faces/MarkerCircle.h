// The circles of the marker: the same pixels as cv::circle with 4-connected
// lines, drawn without allocating memory.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace quell {

// Draws the outline of a circle of `radius` (negative: 0) around `centre`
// into `frame`, `thickness` pixels wide (at least 1), with 4-connected
// lines: pixel for pixel what cv::circle(frame, centre, radius, colour,
// thickness, cv::LINE_4) draws. The outline polygon is built in a fixed
// array and drawn one edge at a time, where cv::circle builds two vectors
// per call; circles too far off the frame for OpenCV's fixed-point
// coordinates are handed to cv::circle itself.
void DrawCircleOutline(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness);

// The same outlines, kept as rows of pixel runs around their centre so that
// a circle drawn again costs a few hundred short fills instead of a polygon
// of thick lines. The polygon's vertices are the centre plus rounded offsets
// in 16.16 fixed point, and the filling steps in the same units, so an
// outline moves with its centre pixel for pixel: a circle entirely inside
// the frame is a copy of the stamp of its radius and thickness. One that the
// frame's edge cuts, or a frame other than 4-channel, is drawn as
// DrawCircleOutline draws it. The last few stamps are kept; their buffers
// only grow, so a steady sight allocates nothing.
class CCircleStamps {
public:
    void Draw(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness);

private:
    struct Run {
        int dy;  // row, from the centre
        int x0;  // first column, from the centre
        int x1;  // one past the last column
    };
    struct Stamp {
        int radius = -1;
        int thickness = 0;
        uint64_t used = 0;
        std::vector<Run> runs;
    };

    Stamp& Find(int radius, int thickness);

    std::array<Stamp, 8> m_stamps;
    uint64_t m_uses = 0;
    cv::Mat m_scratch;  // where a stamp is drawn once; grows only
};

}  // namespace quell

// The circles and the ray ring of the marker: the same pixels as cv::circle
// and cv::line with 4-connected lines, drawn without allocating memory.
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
// A stretch of pixels of a stamp, on one row, relative to the stamp's centre.
struct StampRun {
    int dy;  // row
    int x0;  // first column
    int x1;  // one past the last column
};

class CCircleStamps {
public:
    void Draw(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness);

private:
    using Run = StampRun;
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

// A ring of thick 4-connected rays around a centre, drawn in order (a later
// ray over an earlier one), each ray i from[i] to to[i] in colours[i]: the
// pixels of cv::line for each. A line between whole-pixel ends moves with its
// ends pixel for pixel, so the runs of every ray are kept relative to the
// centre, and a ring whose ends lie at the same places relative to the
// centre, entirely inside the frame, is drawn from them. Any other ring is
// drawn with cv::line (and kept for the next frame when it lies inside).
class CRayStamp {
public:
    static constexpr int kRays = 120;

    // Draws rays [0, count) of the kRays whose ends are `from` and `to`.
    void Draw(cv::Mat& frame, cv::Point centre, const std::array<cv::Point, kRays>& from,
              const std::array<cv::Point, kRays>& to, int count, const std::array<cv::Scalar, kRays>& colours,
              int thickness);

private:
    bool Matches(cv::Point centre, const std::array<cv::Point, kRays>& from, const std::array<cv::Point, kRays>& to,
                 int thickness) const;
    void Make(cv::Point centre, const std::array<cv::Point, kRays>& from, const std::array<cv::Point, kRays>& to,
              int thickness);

    bool m_made = false;
    int m_thickness = 0;
    std::array<cv::Point, kRays> m_from{};  // relative to the centre
    std::array<cv::Point, kRays> m_to{};
    std::array<int, kRays + 1> m_first{};  // ray i's runs: [m_first[i], m_first[i + 1])
    std::vector<StampRun> m_runs;
    cv::Mat m_scratch;  // grows only
};

}  // namespace quell

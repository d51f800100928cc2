// The circles of the marker: the same pixels as cv::circle with 4-connected
// lines, drawn without allocating memory.
#pragma once

#include <opencv2/core.hpp>

namespace quell {

// Draws the outline of a circle of `radius` (negative: 0) around `centre`
// into `frame`, `thickness` pixels wide (at least 1), with 4-connected
// lines: pixel for pixel what cv::circle(frame, centre, radius, colour,
// thickness, cv::LINE_4) draws. The outline polygon is built in a fixed
// array and drawn one edge at a time, where cv::circle builds two vectors
// per call; circles too far off the frame for OpenCV's fixed-point
// coordinates are handed to cv::circle itself.
void DrawCircleOutline(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness);

}  // namespace quell

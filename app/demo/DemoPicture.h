// A "camera" for machines without one: a still picture that glides and
// breathes over a canvas, so that detection and tracking see real motion.
#pragma once

#include <opencv2/core.hpp>

#include <string>

namespace quell {

class CDemoPicture {
public:
    // Loads the picture; Valid() tells whether that worked.
    explicit CDemoPicture(const std::string& path);

    bool Valid() const { return !m_picture.empty(); }

    // Draws the scene at `timeMs` into `canvas` (BGRx, any size): the
    // picture, scaled to about three quarters of the canvas height, moves on
    // a slow Lissajous path with a gentle zoom.
    void Render(cv::Mat& canvas, double timeMs) const;

private:
    cv::Mat m_picture;  // BGRA
};

}  // namespace quell

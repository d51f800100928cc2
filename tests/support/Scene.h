// A camera picture with a real face: the astronaut photograph placed on a
// grey canvas at a chosen scale and offset, so tests know where the face is.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <string>

#ifndef QUELL_TESTDATA_DIR
#error "QUELL_TESTDATA_DIR must name the folder of astronaut.png"
#endif

namespace quell::test {

class Scene {
public:
    // Face rectangle in the photograph itself (512 x 512), as the frontal
    // face cascades find it.
    static inline const cv::Rect2f kFaceInPicture{175.0f, 64.0f, 99.0f, 99.0f};

    Scene()
    {
        const cv::Mat bgr = cv::imread(std::string(QUELL_TESTDATA_DIR) + "/astronaut.png", cv::IMREAD_COLOR);
        if (!bgr.empty())
            cv::cvtColor(bgr, m_picture, cv::COLOR_BGR2BGRA);
    }

    bool Valid() const { return !m_picture.empty(); }

    // The canvas with the photograph scaled by `scale`, its top-left corner
    // at (x, y) (fractions allowed).
    cv::Mat Render(cv::Size canvas, double scale, double x, double y) const
    {
        cv::Mat frame(canvas, CV_8UC4, cv::Scalar(70, 70, 70, 0));
        const cv::Matx23d m(scale, 0.0, x, 0.0, scale, y);
        cv::warpAffine(m_picture, frame, m, canvas, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
        return frame;
    }

    // Where the face's centre lands for the same placement.
    static cv::Point2f FaceCentre(double scale, double x, double y)
    {
        return {static_cast<float>(x + scale * (kFaceInPicture.x + kFaceInPicture.width / 2)),
                static_cast<float>(y + scale * (kFaceInPicture.y + kFaceInPicture.height / 2))};
    }

private:
    cv::Mat m_picture;
};

}  // namespace quell::test

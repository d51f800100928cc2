// The moving demo picture.
#include "demo/DemoPicture.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <numbers>

namespace quell {

CDemoPicture::CDemoPicture(const std::string& path)
{
    const cv::Mat loaded = cv::imread(path, cv::IMREAD_COLOR);
    if (!loaded.empty())
        cv::cvtColor(loaded, m_picture, cv::COLOR_BGR2BGRA);
}

void CDemoPicture::Render(cv::Mat& canvas, double timeMs) const
{
    canvas.setTo(cv::Scalar(60, 60, 60, 255));
    if (!Valid() || canvas.empty())
        return;
    const double t = timeMs / 1000.0;
    const double tau = 2.0 * std::numbers::pi;
    const double base = 0.75 * canvas.rows / m_picture.rows;
    const double scale = base * (1.0 + 0.06 * std::sin(tau * t / 7.0));
    const double w = m_picture.cols * scale;
    const double h = m_picture.rows * scale;
    const double cx = canvas.cols / 2.0 + 0.25 * (canvas.cols - w) * std::sin(tau * t / 9.0);
    const double cy = canvas.rows / 2.0 + 0.35 * (canvas.rows - h) * std::sin(tau * t / 6.0);
    const cv::Matx23d m(scale, 0.0, cx - w / 2.0, 0.0, scale, cy - h / 2.0);
    cv::warpAffine(m_picture, canvas, m, canvas.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
}

}  // namespace quell

// The marker of a followed face: sight, ray ring, thumbnail and scan line.
#include "faces/FaceData.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quell {

namespace {

constexpr int kLineType = 4;  // 4-connected lines
const cv::Scalar kSightColour(222, 255, 222, 0);
const cv::Scalar kScanColour(0, 0, 255, 0);
constexpr int kRayCount = 120;
constexpr int kThumbMargin = 15;

// OpenCV refuses a thickness of 0; the drawing it stands for is one pixel.
int Thickness(int t) { return std::max(t, 1); }

}  // namespace

void CFaceData::DrawMarker(cv::Mat& frame) const
{
    if (frame.empty())
        return;
    const int cx = static_cast<int>(m_markerX);
    const int cy = static_cast<int>(m_markerY);
    const int D = 2 * m_markerRadius;
    const int A = D / 3;
    const int B = D / 20;
    const uint32_t t = m_measureTime;
    const int W = frame.cols;
    const int H = frame.rows;
    const int thin = Thickness(static_cast<int>(W / 640.0));
    const int thick = Thickness(static_cast<int>(W / 320.0));
    const int S = H / 8;
    const cv::Point c(cx, cy);

    for (const int r : {A, A + B / 2, 2 * A, 2 * A + B / 2})
        cv::circle(frame, c, std::max(r, 0), kSightColour, thin, kLineType);

    auto line = [&](int x0, int y0, int x1, int y1) {
        cv::line(frame, cv::Point(x0, y0), cv::Point(x1, y1), kSightColour, thin, kLineType);
    };
    line(cx, cy - 2 * A, cx, cy - 2 * B);
    line(cx, cy - B, cx, cy + B);
    line(cx, cy + 2 * B, cx, cy + 2 * A);
    line(cx - B, cy, cx + B, cy);
    line(cx - 2 * A, cy, cx - 2 * B, cy);
    line(cx + 2 * B, cy, cx + 2 * A, cy);
    line(cx - 2 * B, cy - B, cx - B, cy - B);
    line(cx - 2 * B, cy + B, cx - B, cy + B);
    line(cx + B, cy - B, cx + 2 * B, cy - B);
    line(cx + B, cy + B, cx + 2 * B, cy + B);

    // The ring fills over 5 s, blinks for 2 s, stays for 1 s, then goes.
    const bool visible = (t > 5000 && t < 7000) ? (t / 200) % 2 == 1 : true;
    if (visible && t < 8000) {
        const int n = std::min(static_cast<int>(t / 5000.0 * 120.0), kRayCount);
        const double inner = D - m_markerRadius / 4;
        const double outer = D;
        for (int i = 0; i < n; ++i) {
            const double phi = 3.0 * i * std::numbers::pi / 180.0;
            const double cosPhi = std::cos(phi), sinPhi = std::sin(phi);
            const cv::Point from(static_cast<int>(m_markerX + inner * cosPhi),
                                 static_cast<int>(m_markerY + inner * sinPhi));
            const cv::Point to(static_cast<int>(m_markerX + outer * cosPhi),
                               static_cast<int>(m_markerY + outer * sinPhi));
            const double green = 255 - 2.1f * i;
            cv::line(frame, from, to, cv::Scalar(0, green, 255, 0), thick, kLineType);
        }
    }

    // Thumbnail in the lower left corner, clipped to the frame.
    const cv::Rect square(kThumbMargin, H - S - kThumbMargin, S, S);
    const cv::Rect visibleSquare = square & cv::Rect(0, 0, W, H);
    if (!m_pFaceImage.empty() && visibleSquare == square && S > 0) {
        cv::Mat target = frame(square);
        cv::resize(m_pFaceImage, target, square.size(), 0, 0, cv::INTER_LINEAR);
    }

    if (t < 5000) {
        const int v = static_cast<int>((static_cast<float>(t) / 5000.0f) * S);
        const int y = H - kThumbMargin - v;
        cv::line(frame, cv::Point(kThumbMargin, y), cv::Point(kThumbMargin + S, y), kScanColour, 1, kLineType);
    }
}

}  // namespace quell

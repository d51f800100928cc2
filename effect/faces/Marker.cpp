// The marker of a followed face: sight, ray ring, thumbnail and scan line.
#include "faces/FaceData.h"
#include "faces/MarkerCircle.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <vector>

namespace quell {

namespace {

constexpr int kLineType = 4;  // 4-connected lines
const cv::Scalar kSightColour(222, 255, 222, 0);
const cv::Scalar kScanColour(0, 0, 255, 0);
constexpr int kRayCount = 120;
constexpr int kThumbMargin = 15;

// OpenCV refuses a thickness of 0; the drawing it stands for is one pixel.
int Thickness(int t) { return std::max(t, 1); }

// OpenCV draws circles as polygons in 16.16 fixed point.
constexpr int kShift = 16;
constexpr int64_t kOne = int64_t{1} << kShift;

// The cosine and sine of every whole degree 0..360 exactly as OpenCV's
// polygon builder uses them (its single-precision table, widened), read once
// from cv::ellipse2Poly on the unit circle: with no rotation it returns the
// table values themselves.
struct DegreeTable {
    std::array<double, 361> cos;
    std::array<double, 361> sin;
};

const DegreeTable& Degrees()
{
    static const DegreeTable table = [] {
        DegreeTable t{};
        std::vector<cv::Point2d> unit;
        cv::ellipse2Poly(cv::Point2d(0.0, 0.0), cv::Size2d(1.0, 1.0), 0, 0, 360, 1, unit);
        for (size_t i = 0; i < t.cos.size() && i < unit.size(); ++i) {
            t.cos[i] = unit[i].x;
            t.sin[i] = unit[i].y;
        }
        return t;
    }();
    return table;
}

}  // namespace

void DrawCircleOutline(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness)
{
    radius = std::max(radius, 0);
    thickness = Thickness(thickness);
    // Every vertex, rounding included, must fit the int coordinates of
    // cv::line at 16 fractional bits.
    constexpr int64_t kLimit = (int64_t{1} << (31 - kShift)) - 2;
    if (std::abs(int64_t{centre.x}) + radius > kLimit || std::abs(int64_t{centre.y}) + radius > kLimit) {
        cv::circle(frame, centre, radius, colour, thickness, kLineType);
        return;
    }

    // The polygon: a vertex every `step` degrees, fewer for small circles,
    // each rounded to whole pixels plus a rounded fraction, repeats dropped.
    const double cx = static_cast<double>(centre.x * kOne);
    const double cy = static_cast<double>(centre.y * kOne);
    const double r = static_cast<double>(radius * kOne);
    const int step = radius < 3 ? 90 : radius < 10 ? 30 : radius < 15 ? 18 : 5;
    const DegreeTable& deg = Degrees();
    std::array<cv::Point, 360 / 5 + 2> poly;
    int n = 0;
    cv::Point prev(-1, -1);
    for (int a = 0; a < 360 + step; a += step) {
        const int angle = std::min(a, 360);
        const double x = cx + r * deg.cos[angle];
        const double y = cy + r * deg.sin[angle];
        cv::Point p;
        p.x = static_cast<int>(static_cast<int64_t>(cvRound(x / static_cast<double>(kOne))) << kShift);
        p.y = static_cast<int>(static_cast<int64_t>(cvRound(y / static_cast<double>(kOne))) << kShift);
        p.x += cvRound(x - p.x);
        p.y += cvRound(y - p.y);
        if (n == 0 || p != prev)
            poly[n++] = prev = p;
    }
    if (n == 1)
        poly[n++] = poly[0];

    // One edge at a time. Every vertex is a shared end, so the round caps
    // that cv::line adds at both ends of a thick edge are the ones the
    // polyline draws once per vertex.
    for (int i = 1; i < n; ++i)
        cv::line(frame, poly[i - 1], poly[i], colour, thickness, kLineType, kShift);
}

CCircleStamps::Stamp& CCircleStamps::Find(int radius, int thickness)
{
    ++m_uses;
    Stamp* oldest = &m_stamps[0];
    for (Stamp& s : m_stamps) {
        if (s.radius == radius && s.thickness == thickness) {
            s.used = m_uses;
            return s;
        }
        if (s.used < oldest->used)
            oldest = &s;
    }

    // Drawn once on a blank picture with a margin all round, then read back
    // row by row.
    Stamp& s = *oldest;
    const int margin = radius + thickness + 4;
    const int side = 2 * margin + 2;
    if (m_scratch.rows < side || m_scratch.cols < side)
        m_scratch.create(std::max(side, m_scratch.rows), std::max(side, m_scratch.cols), CV_8UC1);
    cv::Mat canvas = m_scratch(cv::Rect(0, 0, side, side));
    canvas.setTo(cv::Scalar::all(0));
    const cv::Point at(margin, margin);
    DrawCircleOutline(canvas, at, radius, cv::Scalar::all(255), thickness);
    s.runs.clear();
    for (int y = 0; y < side; ++y) {
        const uchar* row = canvas.ptr<uchar>(y);
        for (int x = 0; x < side;) {
            if (!row[x]) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < side && row[x])
                ++x;
            s.runs.push_back({y - at.y, begin - at.x, x - at.x});
        }
    }
    s.radius = radius;
    s.thickness = thickness;
    s.used = m_uses;
    return s;
}

void CCircleStamps::Draw(cv::Mat& frame, cv::Point centre, int radius, const cv::Scalar& colour, int thickness)
{
    radius = std::max(radius, 0);
    thickness = Thickness(thickness);
    // Only circles well inside the frame are stamped: near an edge OpenCV
    // clips the lines it draws, which need not keep the same pixels. No
    // pixel lies farther than radius + thickness / 2 + 1 from the centre.
    const int64_t reach = int64_t{radius} + thickness + 4;
    const bool inside = frame.type() == CV_8UC4 && centre.x - reach >= 0 && centre.y - reach >= 0 &&
                        centre.x + reach < frame.cols && centre.y + reach < frame.rows;
    if (!inside) {
        DrawCircleOutline(frame, centre, radius, colour, thickness);
        return;
    }
    const Stamp& s = Find(radius, thickness);
    uint32_t pixel;
    const uchar bytes[4] = {cv::saturate_cast<uchar>(colour[0]), cv::saturate_cast<uchar>(colour[1]),
                            cv::saturate_cast<uchar>(colour[2]), cv::saturate_cast<uchar>(colour[3])};
    std::memcpy(&pixel, bytes, sizeof pixel);
    for (const Run& run : s.runs) {
        uint32_t* row = frame.ptr<uint32_t>(centre.y + run.dy) + centre.x;
        std::fill(row + run.x0, row + run.x1, pixel);
    }
}

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
        m_circles.Draw(frame, c, r, kSightColour, thin);

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
        // Made at this size when the face was placed; a frame of another
        // height resizes from the full thumbnail.
        if (m_thumbnail.size() == square.size())
            m_thumbnail.copyTo(target);
        else
            cv::resize(m_pFaceImage, target, square.size(), 0, 0, cv::INTER_LINEAR);
    }

    if (t < 5000) {
        const int v = static_cast<int>((static_cast<float>(t) / 5000.0f) * S);
        const int y = H - kThumbMargin - v;
        cv::line(frame, cv::Point(kThumbMargin, y), cv::Point(kThumbMargin + S, y), kScanColour, 1, kLineType);
    }
}

}  // namespace quell

// The marker of a followed face: sight, ray ring, thumbnail and scan line.
#include "faces/FaceData.h"
#include "faces/MarkerCircle.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
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
constexpr int kRayCount = CRayStamp::kRays;
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

// Appends the runs of non-zero pixels of `area` (CV_8UC1) to `runs`,
// relative to `origin` (in `area`'s coordinates).
void AppendRuns(const cv::Mat& area, cv::Point origin, std::vector<StampRun>& runs)
{
    for (int y = 0; y < area.rows; ++y) {
        const uchar* row = area.ptr<uchar>(y);
        for (int x = 0; x < area.cols;) {
            if (!row[x]) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < area.cols && row[x])
                ++x;
            runs.push_back({y - origin.y, begin - origin.x, x - origin.x});
        }
    }
}

// Fills `count` runs relative to `centre` in the BGRx `frame` with `colour`.
void FillRuns(cv::Mat& frame, cv::Point centre, const StampRun* runs, size_t count, const cv::Scalar& colour)
{
    const uchar bytes[4] = {cv::saturate_cast<uchar>(colour[0]), cv::saturate_cast<uchar>(colour[1]),
                            cv::saturate_cast<uchar>(colour[2]), cv::saturate_cast<uchar>(colour[3])};
    uint32_t pixel;
    std::memcpy(&pixel, bytes, sizeof pixel);
    // Whole words where the rows allow it; a frame of odd address or stride
    // is filled pixel by pixel.
    const bool aligned = reinterpret_cast<uintptr_t>(frame.data) % alignof(uint32_t) == 0 &&
                         frame.step[0] % alignof(uint32_t) == 0;
    for (const StampRun* run = runs; run != runs + count; ++run) {
        uchar* row = frame.ptr<uchar>(centre.y + run->dy) + 4 * static_cast<ptrdiff_t>(centre.x);
        if (aligned) {
            uint32_t* words = reinterpret_cast<uint32_t*>(row);
            std::fill(words + run->x0, words + run->x1, pixel);
        } else {
            for (int x = run->x0; x < run->x1; ++x)
                std::memcpy(row + 4 * static_cast<ptrdiff_t>(x), &pixel, sizeof pixel);
        }
    }
}

// A scratch picture of at least `size`, cleared; `buffer` only grows.
cv::Mat ClearedScratch(cv::Mat& buffer, cv::Size size)
{
    if (buffer.rows < size.height || buffer.cols < size.width)
        buffer.create(std::max(size.height, buffer.rows), std::max(size.width, buffer.cols), CV_8UC1);
    cv::Mat area = buffer(cv::Rect(cv::Point(0, 0), size));
    area.setTo(cv::Scalar::all(0));
    return area;
}

// Ray i points at 3 * i degrees, in green falling with i.
struct RayTable {
    std::array<double, kRayCount> cos;
    std::array<double, kRayCount> sin;
    std::array<cv::Scalar, kRayCount> colour;
};

const RayTable& Rays()
{
    static const RayTable table = [] {
        RayTable t{};
        for (int i = 0; i < kRayCount; ++i) {
            const double phi = 3.0 * i * std::numbers::pi / 180.0;
            t.cos[i] = std::cos(phi);
            t.sin[i] = std::sin(phi);
            const double green = 255 - 2.1f * i;
            t.colour[i] = cv::Scalar(0, green, 255, 0);
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
    cv::Mat canvas = ClearedScratch(m_scratch, cv::Size(side, side));
    const cv::Point at(margin, margin);
    DrawCircleOutline(canvas, at, radius, cv::Scalar::all(255), thickness);
    s.runs.clear();
    AppendRuns(canvas, at, s.runs);
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
    FillRuns(frame, centre, s.runs.data(), s.runs.size(), colour);
}

bool CRayStamp::Matches(cv::Point centre, const std::array<cv::Point, kRays>& from,
                        const std::array<cv::Point, kRays>& to, int thickness) const
{
    if (!m_made || thickness != m_thickness)
        return false;
    for (int i = 0; i < kRays; ++i)
        if (from[i] - centre != m_from[i] || to[i] - centre != m_to[i])
            return false;
    return true;
}

void CRayStamp::Make(cv::Point centre, const std::array<cv::Point, kRays>& from, const std::array<cv::Point, kRays>& to,
                     int thickness)
{
    // Every ray is drawn alone on a blank picture around the ring and read
    // back over its own box, which is then cleared for the next.
    const int reach = thickness + 4;
    // The box of `a` and `b` widened by `reach` on every side.
    const auto around = [reach](cv::Point a, cv::Point b) {
        const cv::Point low(std::min(a.x, b.x) - reach, std::min(a.y, b.y) - reach);
        const cv::Point high(std::max(a.x, b.x) + reach + 1, std::max(a.y, b.y) + reach + 1);
        return cv::Rect(low, high);
    };
    cv::Rect ring = around(from[0], to[0]);
    for (int i = 1; i < kRays; ++i)
        ring |= around(from[i], to[i]);
    const cv::Point corner = ring.tl();
    cv::Mat canvas = ClearedScratch(m_scratch, ring.size());
    const cv::Point origin = centre - corner;  // the centre on the canvas
    m_runs.clear();
    for (int i = 0; i < kRays; ++i) {
        m_first[i] = static_cast<int>(m_runs.size());
        const cv::Point a = from[i] - corner, b = to[i] - corner;
        cv::line(canvas, a, b, cv::Scalar::all(255), thickness, kLineType);
        const cv::Rect area = around(a, b);
        cv::Mat drawn = canvas(area);
        AppendRuns(drawn, origin - area.tl(), m_runs);
        drawn.setTo(cv::Scalar::all(0));
        m_from[i] = from[i] - centre;
        m_to[i] = to[i] - centre;
    }
    m_first[kRays] = static_cast<int>(m_runs.size());
    m_thickness = thickness;
    m_made = true;
}

void CRayStamp::Draw(cv::Mat& frame, cv::Point centre, const std::array<cv::Point, kRays>& from,
                     const std::array<cv::Point, kRays>& to, int count, const std::array<cv::Scalar, kRays>& colours,
                     int thickness)
{
    count = std::clamp(count, 0, kRays);
    thickness = Thickness(thickness);
    // The whole ring, with room for the lines' caps, must lie inside the
    // frame: near an edge OpenCV clips the lines it draws.
    const int reach = thickness + 4;
    bool inside = frame.type() == CV_8UC4;
    for (int i = 0; i < kRays && inside; ++i)
        for (const cv::Point p : {from[i], to[i]})
            inside = inside && p.x - reach >= 0 && p.y - reach >= 0 && p.x + reach < frame.cols &&
                     p.y + reach < frame.rows;
    if (!inside) {
        for (int i = 0; i < count; ++i)
            cv::line(frame, from[i], to[i], colours[i], thickness, kLineType);
        return;
    }
    if (!Matches(centre, from, to, thickness))
        Make(centre, from, to, thickness);
    for (int i = 0; i < count; ++i)
        FillRuns(frame, centre, m_runs.data() + m_first[i], static_cast<size_t>(m_first[i + 1] - m_first[i]),
                 colours[i]);
}

cv::Rect CFaceData::DrawMarker(cv::Mat& frame) const
{
    if (frame.empty())
        return {};
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
        const RayTable& table = Rays();
        std::array<cv::Point, kRayCount> from, to;
        for (int i = 0; i < kRayCount; ++i) {
            from[i] = cv::Point(static_cast<int>(m_markerX + inner * table.cos[i]),
                                static_cast<int>(m_markerY + inner * table.sin[i]));
            to[i] = cv::Point(static_cast<int>(m_markerX + outer * table.cos[i]),
                              static_cast<int>(m_markerY + outer * table.sin[i]));
        }
        m_rays.Draw(frame, c, from, to, n, table.colour, thick);
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
    // The rays reach D from the centre, the circles and lines less; a line
    // of thickness t reaches t / 2 + 1 beyond its ends.
    const int reach = D + std::max(thin, thick) + 2;
    return {cx - reach, cy - reach, 2 * reach + 1, 2 * reach + 1};
}

}  // namespace quell

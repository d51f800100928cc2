// Pyramid levels by the 5-tap Gaussian of pyrDown, Scharr derivatives as the
// Lucas-Kanade tracker computes them, borders as buildOpticalFlowPyramid
// leaves them.
#include "faces/FlowPyramid.h"

#include "faces/Scharr.h"

#include "platform/RowTeam.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace quell {

namespace {

// Index `i` reflected into [0, n) without repeating the edge (OpenCV's
// BORDER_REFLECT_101), clamped for pictures too small to reflect in.
inline int Reflect(int i, int n)
{
    if (n == 1)
        return 0;
    while (i < 0 || i >= n) {
        if (i < 0)
            i = -i;
        if (i >= n)
            i = 2 * n - 2 - i;
    }
    return i;
}

// A region of `buffer` with room for a `size` picture and a border of
// `border` pixels all round; the buffer grows when it is too small, to the
// next multiple of 64 pixels each way, so that a region that creeps larger
// over a few frames (a face coming closer) does not reallocate each time.
cv::Mat Place(cv::Mat& buffer, cv::Size size, int border, int type)
{
    const cv::Size whole(size.width + 2 * border, size.height + 2 * border);
    if (buffer.cols < whole.width || buffer.rows < whole.height || buffer.type() != type) {
        const auto roomy = [](int n) { return (n + 63) / 64 * 64; };
        buffer.create(std::max(roomy(whole.height), buffer.rows), std::max(roomy(whole.width), buffer.cols), type);
    }
    return buffer(cv::Rect(0, 0, whole.width, whole.height));
}

// Fills the left and right border of one row of a bordered picture whose
// interior row starts at `row` and is `w` pixels long, by reflection.
inline void ReflectRowEnds(uchar* row, int w, int border)
{
    if (w > border) {
        // Each border mirrors the pixels next to the row's end pixel.
        for (int x = 1; x <= border; ++x) {
            row[-x] = row[x];
            row[w - 1 + x] = row[w - 1 - x];
        }
        return;
    }
    for (int x = 1; x <= border; ++x) {
        row[-x] = row[Reflect(-x, w)];
        row[w - 1 + x] = row[Reflect(w - 1 + x, w)];
    }
}

// Fills the rows above and below the interior of `bordered` (CV_8UC1,
// interior rows already bordered left and right) by reflection.
void ReflectTopAndBottom(cv::Mat& bordered, int border)
{
    const int h = bordered.rows - 2 * border;
    for (int y = 1; y <= border; ++y) {
        std::copy_n(bordered.ptr<uchar>(border + Reflect(-y, h)), bordered.cols, bordered.ptr<uchar>(border - y));
        std::copy_n(bordered.ptr<uchar>(border + Reflect(h - 1 + y, h)), bordered.cols,
                    bordered.ptr<uchar>(border + h - 1 + y));
    }
}

// Scharr derivatives of one row (d/dx, d/dy interleaved into `out`) from the
// rows above and below it, with reflected ends, as the tracker computes
// them.
void ScharrRow(const uchar* above, const uchar* centre, const uchar* below, int w, short* out)
{
    if (w <= 0)
        return;
    const auto at = [&](int x) { ScharrAt(above, centre, below, Reflect(x - 1, w), x, Reflect(x + 1, w), out + 2 * x); };
    at(0);
    // The columns whose neighbours both lie inside, then the last.
    if (w > 2)
        ScharrSpan(above, centre, below, 1, w - 2, out + 2);
    if (w > 1)
        at(w - 1);
}

// Sixteen-bit lanes for the reduction: a horizontal sum is at most
// 16 * 255 and a vertical one, rounded, 16 * 16 * 255 + 128, both below 2^16.
using Lanes16 = uint16_t __attribute__((vector_size(16)));
using Bytes8 = uint8_t __attribute__((vector_size(8)));

// pyrDown's horizontal pass over one source row of `sw` pixels: the 5-tap
// Gaussian (1 4 6 4 1) with reflected ends, on the `dw` output columns.
void ReduceRow(const uchar* s, int sw, uint16_t* r, int dw)
{
    auto edge = [&](int x) {
        const int c = 2 * x;
        r[x] = static_cast<uint16_t>(s[Reflect(c - 2, sw)] + 4 * (s[Reflect(c - 1, sw)] + s[Reflect(c + 1, sw)]) +
                                     6 * s[c] + s[Reflect(c + 2, sw)]);
    };
    // Columns whose taps all lie inside the row: eight at a time from three
    // overlapping loads whose byte pairs are (even, odd) source pixels, as
    // long as the last load stays inside the row; then one at a time.
    const int first = std::min(1, dw);
    const int last = std::max(first, std::min(dw, (sw - 1) / 2));
    for (int x = 0; x < first; ++x)
        edge(x);
    int x = first;
    const Lanes16 low = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (; x + 8 <= last && 2 * x + 18 <= sw; x += 8) {
        Lanes16 before, at, after;
        std::memcpy(&before, s + 2 * x - 2, sizeof before);
        std::memcpy(&at, s + 2 * x, sizeof at);
        std::memcpy(&after, s + 2 * x + 2, sizeof after);
        const Lanes16 sum = (before & low) + (((before >> 8) + (at >> 8)) << 2) + (at & low) * 6 + (after & low);
        std::memcpy(r + x, &sum, sizeof sum);
    }
    for (; x < last; ++x) {
        const uchar* p = s + 2 * x;
        r[x] = static_cast<uint16_t>(p[-2] + 4 * (p[-1] + p[1]) + 6 * p[0] + p[2]);
    }
    for (x = last; x < dw; ++x)
        edge(x);
}

// pyrDown's vertical pass: every other row of the `sh` horizontally filtered
// rows, rounded, into `dst` of ((w + 1) / 2, (h + 1) / 2).
void ReduceColumns(const std::vector<uint16_t>& rows, int sh, cv::Mat& dst)
{
    const int dw = dst.cols;
    for (int y = 0; y < dst.rows; ++y) {
        const int c = 2 * y;
        const uint16_t* r0 = rows.data() + static_cast<size_t>(Reflect(c - 2, sh)) * dw;
        const uint16_t* r1 = rows.data() + static_cast<size_t>(Reflect(c - 1, sh)) * dw;
        const uint16_t* r2 = rows.data() + static_cast<size_t>(c) * dw;
        const uint16_t* r3 = rows.data() + static_cast<size_t>(Reflect(c + 1, sh)) * dw;
        const uint16_t* r4 = rows.data() + static_cast<size_t>(Reflect(c + 2, sh)) * dw;
        uchar* d = dst.ptr<uchar>(y);
        int x = 0;
        for (; x + 8 <= dw; x += 8) {
            Lanes16 v0, v1, v2, v3, v4;
            std::memcpy(&v0, r0 + x, sizeof v0);
            std::memcpy(&v1, r1 + x, sizeof v1);
            std::memcpy(&v2, r2 + x, sizeof v2);
            std::memcpy(&v3, r3 + x, sizeof v3);
            std::memcpy(&v4, r4 + x, sizeof v4);
            const Bytes8 out = __builtin_convertvector((v0 + ((v1 + v3) << 2) + v2 * 6 + v4 + 128) >> 8, Bytes8);
            std::memcpy(d + x, &out, sizeof out);
        }
        for (; x < dw; ++x)
            d[x] = static_cast<uchar>((r0[x] + 4 * (r1[x] + r3[x]) + 6 * r2[x] + r4[x] + 128) >> 8);
    }
}

// The derivative's border rows and columns are zero; its inside is written
// by ScharrRow.
void ZeroDerivBorder(cv::Mat& deriv, int border, cv::Size size, int rowBegin, int rowEnd)
{
    for (int y = rowBegin; y < rowEnd; ++y) {
        short* row = deriv.ptr<short>(y);
        if (y < border || y >= border + size.height) {
            std::fill_n(row, 2 * deriv.cols, short{0});
        } else {
            std::fill_n(row, 2 * border, short{0});
            std::fill_n(row + 2 * (border + size.width), 2 * border, short{0});
        }
    }
}

}  // namespace

void CFlowPyramid::Build(const cv::Mat& grey, cv::Size window, int maxLevel, CRowTeam* team, bool derivatives)
{
    CV_Assert(grey.type() == CV_8UC1 && !grey.empty());
    maxLevel = std::clamp(maxLevel, 0, kMaxLevels);
    const int border = std::max(window.width, window.height) + 1;
    const auto makes = [&](int level, cv::Size at) {
        return level == 0 || (level <= maxLevel && at.width > window.width && at.height > window.height);
    };
    size_t count = 0;
    cv::Size size = grey.size();
    for (int level = 0; level <= maxLevel && makes(level, size); ++level) {
        Level& buffers = m_buffers[level];
        cv::Mat image = Place(buffers.image, size, border, CV_8UC1);
        cv::Mat deriv = derivatives ? Place(buffers.deriv, size, border, CV_16SC2) : cv::Mat();
        const cv::Rect inner(border, border, size.width, size.height);
        cv::Mat imageInner = image(inner);
        cv::Mat derivInner = derivatives ? deriv(inner) : cv::Mat();
        const int w = size.width, h = size.height;
        const cv::Size half((w + 1) / 2, (h + 1) / 2);
        const bool reduce = makes(level + 1, half);
        if (reduce)
            buffers.rows.resize(static_cast<size_t>(h) * half.width);
        // Each row, from `source`: copied in (the largest level only; the
        // others are reduced into place first), bordered left and right, its
        // derivatives taken and its horizontal reduction for the next level
        // made. The largest level takes its rows straight from the picture,
        // in blocks that may run on two threads.
        cv::Mat source = imageInner;
        if (level == 0)
            source = grey;
        else
            ReduceColumns(m_buffers[level - 1].rows, m_levels[2 * (level - 1)].rows, imageInner);
        auto rows = [&](int begin, int end) {
            for (int y = begin; y < end; ++y) {
                const uchar* from = source.ptr<uchar>(y);
                uchar* row = imageInner.ptr<uchar>(y);
                if (from != row)
                    std::copy_n(from, w, row);
                ReflectRowEnds(row, w, border);
                if (derivatives) {
                    ScharrRow(source.ptr<uchar>(Reflect(y - 1, h)), from, source.ptr<uchar>(Reflect(y + 1, h)), w,
                              derivInner.ptr<short>(y));
                    ZeroDerivBorder(deriv, border, size, border + y, border + y + 1);
                }
                if (reduce)
                    ReduceRow(from, w, buffers.rows.data() + static_cast<size_t>(y) * half.width, half.width);
            }
        };
        if (team && level == 0)
            team->Run(h, kTeamBlockRows, rows);
        else
            rows(0, h);
        ReflectTopAndBottom(image, border);
        if (derivatives) {
            ZeroDerivBorder(deriv, border, size, 0, border);
            ZeroDerivBorder(deriv, border, size, border + h, deriv.rows);
        }
        if (m_levels.size() < count + 2)
            m_levels.resize(count + 2);
        m_levels[count++] = imageInner;
        m_levels[count++] = derivInner;
        size = half;
    }
    m_levels.resize(count);
}

}  // namespace quell

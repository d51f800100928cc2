// Pyramid levels by the 5-tap Gaussian of pyrDown, Scharr derivatives as the
// Lucas-Kanade tracker computes them, borders as buildOpticalFlowPyramid
// leaves them.
#include "faces/FlowPyramid.h"

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// `border` pixels all round; the buffer grows when it is too small.
cv::Mat Place(cv::Mat& buffer, cv::Size size, int border, int type)
{
    const cv::Size whole(size.width + 2 * border, size.height + 2 * border);
    if (buffer.cols < whole.width || buffer.rows < whole.height || buffer.type() != type)
        buffer.create(std::max(whole.height, buffer.rows), std::max(whole.width, buffer.cols), type);
    return buffer(cv::Rect(0, 0, whole.width, whole.height));
}

// Fills the border of `bordered` (CV_8UC1) around its interior by
// reflection.
void ReflectBorder(cv::Mat& bordered, int border)
{
    const int w = bordered.cols - 2 * border;
    const int h = bordered.rows - 2 * border;
    for (int y = 0; y < h; ++y) {
        uchar* row = bordered.ptr<uchar>(y + border) + border;
        for (int x = 1; x <= border; ++x) {
            row[-x] = row[Reflect(-x, w)];
            row[w - 1 + x] = row[Reflect(w - 1 + x, w)];
        }
    }
    for (int y = 1; y <= border; ++y) {
        std::copy_n(bordered.ptr<uchar>(border + Reflect(-y, h)), bordered.cols, bordered.ptr<uchar>(border - y));
        std::copy_n(bordered.ptr<uchar>(border + Reflect(h - 1 + y, h)), bordered.cols,
                    bordered.ptr<uchar>(border + h - 1 + y));
    }
}

// Scharr derivatives of `src` into `dst` (CV_16SC2, same size), with
// reflected edges, as the tracker computes them. Every intermediate fits 16
// bits (at most 16 * 255), so the vector path sums in 16-bit lanes and gives
// the plain loop's values.
void Scharr(const cv::Mat& src, cv::Mat& dst, std::vector<short>& rows)
{
    const int w = src.cols;
    const int h = src.rows;
    rows.resize(2 * static_cast<size_t>(w + 2));
    short* t0 = rows.data() + 1;          // 3 * (above + below) + 10 * centre
    short* t1 = rows.data() + w + 3;      // below - above
    for (int y = 0; y < h; ++y) {
        const uchar* above = src.ptr<uchar>(Reflect(y - 1, h));
        const uchar* centre = src.ptr<uchar>(y);
        const uchar* below = src.ptr<uchar>(Reflect(y + 1, h));
        int x = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i three = _mm_set1_epi16(3);
        const __m128i ten = _mm_set1_epi16(10);
        for (; x + 8 <= w; x += 8) {
            const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(above + x)), zero);
            const __m128i c = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(centre + x)), zero);
            const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(below + x)), zero);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t0 + x),
                             _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(a, b), three), _mm_mullo_epi16(c, ten)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t1 + x), _mm_sub_epi16(b, a));
        }
#endif
        for (; x < w; ++x) {
            t0[x] = static_cast<short>((above[x] + below[x]) * 3 + centre[x] * 10);
            t1[x] = static_cast<short>(below[x] - above[x]);
        }
        t0[-1] = t0[Reflect(-1, w)];
        t1[-1] = t1[Reflect(-1, w)];
        t0[w] = t0[Reflect(w, w)];
        t1[w] = t1[Reflect(w, w)];
        short* out = dst.ptr<short>(y);
        x = 0;
#if defined(__SSE2__)
        for (; x + 8 <= w; x += 8) {
            const __m128i dx = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t0 + x + 1)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(t0 + x - 1)));
            const __m128i side = _mm_add_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t1 + x + 1)),
                                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(t1 + x - 1)));
            const __m128i dy = _mm_add_epi16(_mm_mullo_epi16(side, three),
                                             _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t1 + x)), ten));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), _mm_unpacklo_epi16(dx, dy));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 8), _mm_unpackhi_epi16(dx, dy));
        }
#endif
        for (; x < w; ++x) {
            out[2 * x] = static_cast<short>(t0[x + 1] - t0[x - 1]);
            out[2 * x + 1] = static_cast<short>((t1[x + 1] + t1[x - 1]) * 3 + t1[x] * 10);
        }
    }
}

// pyrDown: the 5 x 5 Gaussian (1 4 6 4 1)^2 / 256, rounded, on every other
// pixel of `src`, with reflected edges, into `dst` of ((w + 1) / 2, (h + 1) / 2).
void Reduce(const cv::Mat& src, cv::Mat& dst, std::vector<int>& rows)
{
    const int sw = src.cols, sh = src.rows;
    const int dw = dst.cols, dh = dst.rows;
    // Every source row filtered horizontally once, on the output columns.
    rows.resize(static_cast<size_t>(sh) * dw);
    for (int y = 0; y < sh; ++y) {
        const uchar* s = src.ptr<uchar>(y);
        int* r = rows.data() + static_cast<size_t>(y) * dw;
        auto edge = [&](int x) {
            const int c = 2 * x;
            r[x] = s[Reflect(c - 2, sw)] + 4 * (s[Reflect(c - 1, sw)] + s[Reflect(c + 1, sw)]) + 6 * s[c] +
                   s[Reflect(c + 2, sw)];
        };
        // Columns whose taps all lie inside the row, in one plain loop.
        const int first = std::min(1, dw);
        const int last = std::max(first, std::min(dw, (sw - 1) / 2));
        for (int x = 0; x < first; ++x)
            edge(x);
        for (int x = first; x < last; ++x) {
            const uchar* p = s + 2 * x;
            r[x] = p[-2] + 4 * (p[-1] + p[1]) + 6 * p[0] + p[2];
        }
        for (int x = last; x < dw; ++x)
            edge(x);
    }
    for (int y = 0; y < dh; ++y) {
        const int c = 2 * y;
        const int* r0 = rows.data() + static_cast<size_t>(Reflect(c - 2, sh)) * dw;
        const int* r1 = rows.data() + static_cast<size_t>(Reflect(c - 1, sh)) * dw;
        const int* r2 = rows.data() + static_cast<size_t>(c) * dw;
        const int* r3 = rows.data() + static_cast<size_t>(Reflect(c + 1, sh)) * dw;
        const int* r4 = rows.data() + static_cast<size_t>(Reflect(c + 2, sh)) * dw;
        uchar* d = dst.ptr<uchar>(y);
        for (int x = 0; x < dw; ++x)
            d[x] = static_cast<uchar>((r0[x] + 4 * (r1[x] + r3[x]) + 6 * r2[x] + r4[x] + 128) >> 8);
    }
}

}  // namespace

void CFlowPyramid::Build(const cv::Mat& grey, cv::Size window, int maxLevel)
{
    CV_Assert(grey.type() == CV_8UC1 && !grey.empty());
    maxLevel = std::clamp(maxLevel, 0, kMaxLevels);
    const int border = std::max(window.width, window.height) + 1;
    size_t count = 0;
    cv::Size size = grey.size();
    for (int level = 0; level <= maxLevel; ++level) {
        if (level > 0 && (size.width <= window.width || size.height <= window.height))
            break;
        Level& buffers = m_buffers[level];
        cv::Mat image = Place(buffers.image, size, border, CV_8UC1);
        cv::Mat deriv = Place(buffers.deriv, size, border, CV_16SC2);
        const cv::Rect inner(border, border, size.width, size.height);
        cv::Mat imageInner = image(inner);
        if (level == 0)
            grey.copyTo(imageInner);
        else
            Reduce(m_levels[2 * (level - 1)], imageInner, m_buffers[level - 1].rows);
        ReflectBorder(image, border);
        // The derivative's border is zero; its inside is written below.
        for (int y = 0; y < deriv.rows; ++y) {
            short* row = deriv.ptr<short>(y);
            if (y < border || y >= border + size.height) {
                std::fill_n(row, 2 * deriv.cols, short{0});
            } else {
                std::fill_n(row, 2 * border, short{0});
                std::fill_n(row + 2 * (border + size.width), 2 * border, short{0});
            }
        }
        cv::Mat derivInner = deriv(inner);
        Scharr(imageInner, derivInner, buffers.scharrRows);
        if (m_levels.size() < count + 2)
            m_levels.resize(count + 2);
        m_levels[count++] = imageInner;
        m_levels[count++] = derivInner;
        size = cv::Size((size.width + 1) / 2, (size.height + 1) / 2);
    }
    m_levels.resize(count);
}

}  // namespace quell

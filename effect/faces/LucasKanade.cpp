// Pyramidal Lucas-Kanade on the frame step's own pyramids: each point is
// followed from the coarsest level down, with window samples taken by
// fixed-point bilinear interpolation and the 2 x 2 normal equations solved
// per iteration.
#include "faces/LucasKanade.h"

#include "faces/Scharr.h"

#include "platform/VectorUnits.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quell {

namespace {

// Bilinear weights in 14-bit fixed point; samples of the picture keep 5
// fractional bits, derivative samples none, and the sums are scaled back by
// 2^-20 (as OpenCV's tracker does, so that its thresholds mean the same).
constexpr int kWeightBits = 14;
constexpr float kSumScale = 1.0f / (1 << 20);

inline int Descale(int v, int bits)
{
    return (v + (1 << (bits - 1))) >> bits;
}

struct Weights {
    int w00, w01, w10, w11;
};

inline Weights BilinearWeights(float a, float b)
{
    Weights w{};
    w.w00 = static_cast<int>(std::lrint((1.f - a) * (1.f - b) * (1 << kWeightBits)));
    w.w01 = static_cast<int>(std::lrint(a * (1.f - b) * (1 << kWeightBits)));
    w.w10 = static_cast<int>(std::lrint((1.f - a) * b * (1 << kWeightBits)));
    w.w11 = (1 << kWeightBits) - w.w00 - w.w01 - w.w10;
    return w;
}

#if defined(__SSE2__)
// Eight picture samples at src[0..7] with 5 fractional bits; `w0` holds
// the weight pair (w00, w01), `w1` (w10, w11), in every 32-bit lane.
inline __m128i SamplePicture8(const uchar* src, ptrdiff_t step, __m128i w0, __m128i w1)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kWeightBits - 5 - 1));
    const __m128i p00 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)), zero);
    const __m128i p01 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + 1)), zero);
    const __m128i p10 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + step)), zero);
    const __m128i p11 = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + step + 1)), zero);
    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(p00, p01), w0),
                               _mm_madd_epi16(_mm_unpacklo_epi16(p10, p11), w1));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(p00, p01), w0),
                               _mm_madd_epi16(_mm_unpackhi_epi16(p10, p11), w1));
    lo = _mm_srai_epi32(_mm_add_epi32(lo, half), kWeightBits - 5);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, half), kWeightBits - 5);
    return _mm_packs_epi32(lo, hi);
}

// Four derivative samples at d[0..7] (pairs d/dx, d/dy): the d/dx values in
// `gx`, the d/dy values in `gy`, as 32-bit lanes.
inline void SampleDerivative4(const short* d, ptrdiff_t dstep, __m128i w0, __m128i w1, __m128i& gx, __m128i& gy)
{
    const __m128i half = _mm_set1_epi32(1 << (kWeightBits - 1));
    const __m128i q00 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
    const __m128i q01 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 2));
    const __m128i q10 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + dstep));
    const __m128i q11 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + dstep + 2));
    // Lanes (dx0, dy0, dx1, dy1) and (dx2, dy2, dx3, dy3).
    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(q00, q01), w0),
                               _mm_madd_epi16(_mm_unpacklo_epi16(q10, q11), w1));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(q00, q01), w0),
                               _mm_madd_epi16(_mm_unpackhi_epi16(q10, q11), w1));
    lo = _mm_shuffle_epi32(_mm_srai_epi32(_mm_add_epi32(lo, half), kWeightBits), _MM_SHUFFLE(3, 1, 2, 0));
    hi = _mm_shuffle_epi32(_mm_srai_epi32(_mm_add_epi32(hi, half), kWeightBits), _MM_SHUFFLE(3, 1, 2, 0));
    gx = _mm_unpacklo_epi64(lo, hi);
    gy = _mm_unpackhi_epi64(lo, hi);
}

// The weight pairs of SamplePicture8 and SampleDerivative4.
inline void WeightPairs(const Weights& w, __m128i& w0, __m128i& w1)
{
    w0 = _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(w.w00) & 0xffffu) | (static_cast<unsigned>(w.w01) << 16)));
    w1 = _mm_set1_epi32(static_cast<int>((static_cast<unsigned>(w.w10) & 0xffffu) | (static_cast<unsigned>(w.w11) << 16)));
}

inline int64_t HorizontalSum(__m128i v)
{
    alignas(16) int32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
    return int64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
}
#endif

#if defined(QUELL_X86_VECTORS)
// The byte order that WindowRow() gathers a row of `n` bytes (8 to 16) in,
// from two 8-byte loads at its start and its end; the lanes from n on are 0.
__m128i WindowRowOrder(int n)
{
    alignas(16) int8_t order[16];
    for (int j = 0; j < 16; ++j)
        order[j] = static_cast<int8_t>(j < 8 ? j : j < n ? j + 16 - n : -128);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(order));
}

// The `n` bytes at `src` (8 <= n <= 16), nothing read past them.
QUELL_TARGET_AVX2 inline __m128i WindowRow(const uchar* src, int n, __m128i order)
{
    const __m128i ends = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + n - 8)));
    return _mm_shuffle_epi8(ends, order);
}

// Sixteen picture samples of the window row whose bytes (and the next row's)
// are `row` and `below`, with 5 fractional bits, in order: what
// SamplePicture8() gives, sixteen at a time.
QUELL_TARGET_AVX2 inline __m256i SamplePicture16(__m128i row, __m128i below, __m256i w0, __m256i w1)
{
    const __m256i half = _mm256_set1_epi32(1 << (kWeightBits - 5 - 1));
    const __m256i p00 = _mm256_cvtepu8_epi16(row);
    const __m256i p01 = _mm256_cvtepu8_epi16(_mm_srli_si128(row, 1));
    const __m256i p10 = _mm256_cvtepu8_epi16(below);
    const __m256i p11 = _mm256_cvtepu8_epi16(_mm_srli_si128(below, 1));
    __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(p00, p01), w0),
                                  _mm256_madd_epi16(_mm256_unpacklo_epi16(p10, p11), w1));
    __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(p00, p01), w0),
                                  _mm256_madd_epi16(_mm256_unpackhi_epi16(p10, p11), w1));
    lo = _mm256_srai_epi32(_mm256_add_epi32(lo, half), kWeightBits - 5);
    hi = _mm256_srai_epi32(_mm256_add_epi32(hi, half), kWeightBits - 5);
    // The unpacks and the pack both work per 128-bit half: the order is kept.
    return _mm256_packs_epi32(lo, hi);
}

// The weight pairs of SamplePicture16() and SampleDerivative16().
QUELL_TARGET_AVX2 inline void WeightPairs(const Weights& w, __m256i& w0, __m256i& w1)
{
    const auto pair = [](int a, int b) {
        return static_cast<int>((static_cast<unsigned>(a) & 0xffffu) | (static_cast<unsigned>(b) << 16));
    };
    w0 = _mm256_set1_epi32(pair(w.w00, w.w01));
    w1 = _mm256_set1_epi32(pair(w.w10, w.w11));
}

QUELL_TARGET_AVX2 inline int64_t HorizontalSum(__m256i v)
{
    alignas(32) int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    int64_t sum = 0;
    for (const int32_t lane : lanes)
        sum += lane;
    return sum;
}
#endif

// One level's pictures and the window around one point on it.
class CLevelTracker {
public:
    CLevelTracker(const cv::Mat& prev, const cv::Mat& deriv, const cv::Mat& next, cv::Size window, bool wide)
        : m_prev(prev), m_deriv(deriv), m_next(next), m_window(window)
    {
#if defined(QUELL_X86_VECTORS)
        // A window row of 7 to 15 samples reads 8 to 16 bytes: one vector.
        m_wide = wide && window.width >= 7 && window.width <= 15 && HasAvx2();
        if (m_wide)
            m_rowOrder = WindowRowOrder(window.width + 1);
        // Taking the derivatives in vectors reads a row of width + 3 bytes
        // (at most 16) around the window, from a level with a border of at
        // least window + 1 pixels, as CFlowPyramid's has.
        if (m_wide && deriv.empty() && window.width <= 13) {
            cv::Size whole;
            cv::Point at;
            prev.locateROI(whole, at);
            const int bx = window.width + 1, by = window.height + 1;
            m_wideTemplate = at.x >= bx && at.y >= by && whole.width - at.x - prev.cols >= bx &&
                             whole.height - at.y - prev.rows >= by;
            if (m_wideTemplate)
                m_aroundOrder = WindowRowOrder(window.width + 3);
        }
#else
        (void)wide;
#endif
    }

    // Samples the previous picture and its derivatives in the window whose
    // top-left corner is `corner`, and sums the derivative products.
    // False when the window lies off the level.
    bool SampleTemplate(cv::Point2f corner, float& a11, float& a12, float& a22)
    {
        const int ix = cvFloor(corner.x), iy = cvFloor(corner.y);
        if (ix < -m_window.width || ix >= m_prev.cols || iy < -m_window.height || iy >= m_prev.rows)
            return false;
        const Weights w = BilinearWeights(corner.x - static_cast<float>(ix), corner.y - static_cast<float>(iy));
#if defined(QUELL_X86_VECTORS)
        if (m_wideTemplate) {
            SampleTemplateWide(ix, iy, w, a11, a12, a22);
            return true;
        }
#endif
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_prev.step[0]);
        // The derivatives under the window: the level's own, or taken here
        // for just the window.
        ptrdiff_t dstep = kPatchStride;
        const short* dbase = m_patch.data();
        if (m_deriv.empty()) {
            DerivativePatch(ix, iy);
        } else {
            dstep = static_cast<ptrdiff_t>(m_deriv.step[0] / sizeof(short));
            dbase = reinterpret_cast<const short*>(m_deriv.data) + iy * dstep + 2 * ix;
        }
        int64_t s11 = 0, s12 = 0, s22 = 0;
        int x0 = 0;  // the columns before this one are done by the vector loop
#if defined(__SSE2__)
        x0 = m_window.width / 8 * 8;
        if (x0 > 0) {
            __m128i w0, w1;
            WeightPairs(w, w0, w1);
            const __m128i zero = _mm_setzero_si128();
            __m128i v11 = zero, v12 = zero, v22 = zero;
            for (int y = 0; y < m_window.height; ++y) {
                const uchar* src = m_prev.data + (y + iy) * step + ix;
                const short* dsrc = dbase + y * dstep;
                short* t = m_template.data() + y * kMaxLkWindow;
                short* tx = m_templateX.data() + y * kMaxLkWindow;
                short* ty = m_templateY.data() + y * kMaxLkWindow;
                for (int x = 0; x < x0; x += 8) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(t + x), SamplePicture8(src + x, step, w0, w1));
                    __m128i gx0, gy0, gx1, gy1;
                    SampleDerivative4(dsrc + 2 * x, dstep, w0, w1, gx0, gy0);
                    SampleDerivative4(dsrc + 2 * x + 8, dstep, w0, w1, gx1, gy1);
                    const __m128i gx = _mm_packs_epi32(gx0, gx1);
                    const __m128i gy = _mm_packs_epi32(gy0, gy1);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(tx + x), gx);
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(ty + x), gy);
                    v11 = _mm_add_epi32(v11, _mm_madd_epi16(gx, gx));
                    v12 = _mm_add_epi32(v12, _mm_madd_epi16(gx, gy));
                    v22 = _mm_add_epi32(v22, _mm_madd_epi16(gy, gy));
                }
                // A lane gains at most 2 * 32 / 8 products below 2^24 per
                // row: four rows stay within 32 bits.
                if ((y & 3) == 3 || y + 1 == m_window.height) {
                    s11 += HorizontalSum(v11);
                    s12 += HorizontalSum(v12);
                    s22 += HorizontalSum(v22);
                    v11 = v12 = v22 = zero;
                }
            }
        }
#endif
        for (int y = 0; x0 < m_window.width && y < m_window.height; ++y) {
            const uchar* src = m_prev.data + (y + iy) * step + ix;
            const short* dsrc = dbase + y * dstep;
            short* t = m_template.data() + y * kMaxLkWindow;
            short* tx = m_templateX.data() + y * kMaxLkWindow;
            short* ty = m_templateY.data() + y * kMaxLkWindow;
            int64_t r11 = 0, r12 = 0, r22 = 0;
            for (int x = x0; x < m_window.width; ++x) {
                t[x] = static_cast<short>(Descale(src[x] * w.w00 + src[x + 1] * w.w01 + src[x + step] * w.w10 +
                                                      src[x + step + 1] * w.w11,
                                                  kWeightBits - 5));
                const short* d = dsrc + 2 * x;
                const int gx = Descale(d[0] * w.w00 + d[2] * w.w01 + d[dstep] * w.w10 + d[dstep + 2] * w.w11,
                                       kWeightBits);
                const int gy = Descale(d[1] * w.w00 + d[3] * w.w01 + d[dstep + 1] * w.w10 + d[dstep + 3] * w.w11,
                                       kWeightBits);
                tx[x] = static_cast<short>(gx);
                ty[x] = static_cast<short>(gy);
                r11 += gx * gx;
                r12 += gx * gy;
                r22 += gy * gy;
            }
            s11 += r11;
            s12 += r12;
            s22 += r22;
        }
        if (m_wide) {
            // The wide Mismatch() reads 16 lanes a row: past the window they
            // are 0, so that they add nothing.
            for (auto* plane : {&m_template, &m_templateX, &m_templateY})
                for (int y = 0; y < m_window.height; ++y)
                    std::fill_n(plane->begin() + y * kMaxLkWindow + m_window.width, 16 - m_window.width, short{0});
        }
        a11 = static_cast<float>(s11) * kSumScale;
        a12 = static_cast<float>(s12) * kSumScale;
        a22 = static_cast<float>(s22) * kSumScale;
        return true;
    }

    // The mismatch of the next picture's window at `corner` against the
    // template, weighted by the template's derivatives. False when the
    // window lies off the level.
    bool Mismatch(cv::Point2f corner, float& b1, float& b2) const
    {
        const int ix = cvFloor(corner.x), iy = cvFloor(corner.y);
        if (ix < -m_window.width || ix >= m_next.cols || iy < -m_window.height || iy >= m_next.rows)
            return false;
        const Weights w = BilinearWeights(corner.x - static_cast<float>(ix), corner.y - static_cast<float>(iy));
#if defined(QUELL_X86_VECTORS)
        if (m_wide) {
            MismatchWide(ix, iy, w, b1, b2);
            return true;
        }
#endif
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_next.step[0]);
        int64_t s1 = 0, s2 = 0;
        int x0 = 0;  // the columns before this one are summed by the vector loop
#if defined(__SSE2__)
        x0 = m_window.width / 8 * 8;
        if (x0 > 0) {
            __m128i w0, w1;
            WeightPairs(w, w0, w1);
            const __m128i zero = _mm_setzero_si128();
            __m128i v1 = zero, v2 = zero;
            for (int y = 0; y < m_window.height; ++y) {
                const uchar* src = m_next.data + (y + iy) * step + ix;
                const short* t = m_template.data() + y * kMaxLkWindow;
                const short* tx = m_templateX.data() + y * kMaxLkWindow;
                const short* ty = m_templateY.data() + y * kMaxLkWindow;
                for (int x = 0; x < x0; x += 8) {
                    const __m128i diff = _mm_sub_epi16(SamplePicture8(src + x, step, w0, w1),
                                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x)));
                    v1 = _mm_add_epi32(v1, _mm_madd_epi16(diff, _mm_loadu_si128(reinterpret_cast<const __m128i*>(tx + x))));
                    v2 = _mm_add_epi32(v2, _mm_madd_epi16(diff, _mm_loadu_si128(reinterpret_cast<const __m128i*>(ty + x))));
                }
                // A lane gains at most 2 * 32 / 8 products of |diff| < 2^13
                // and |gradient| < 2^12 per row: four rows stay within 32 bits.
                if ((y & 3) == 3 || y + 1 == m_window.height) {
                    s1 += HorizontalSum(v1);
                    s2 += HorizontalSum(v2);
                    v1 = v2 = zero;
                }
            }
        }
#endif
        for (int y = 0; x0 < m_window.width && y < m_window.height; ++y) {
            const uchar* src = m_next.data + (y + iy) * step + ix;
            const short* t = m_template.data() + y * kMaxLkWindow;
            const short* tx = m_templateX.data() + y * kMaxLkWindow;
            const short* ty = m_templateY.data() + y * kMaxLkWindow;
            int64_t r1 = 0, r2 = 0;
            for (int x = x0; x < m_window.width; ++x) {
                const int diff = Descale(src[x] * w.w00 + src[x + 1] * w.w01 + src[x + step] * w.w10 +
                                             src[x + step + 1] * w.w11,
                                         kWeightBits - 5) -
                                 t[x];
                r1 += diff * tx[x];
                r2 += diff * ty[x];
            }
            s1 += r1;
            s2 += r2;
        }
        b1 = static_cast<float>(s1) * kSumScale;
        b2 = static_cast<float>(s2) * kSumScale;
        return true;
    }

private:
#if defined(QUELL_X86_VECTORS)
    // Sixteen bilinear derivative samples from the derivative rows `row`
    // and `below` and the same rows one column on: SampleDerivative4()'s
    // values.
    QUELL_TARGET_AVX2 static __m256i SampleDerivative16(__m256i row, __m256i rowNext, __m256i below,
                                                        __m256i belowNext, __m256i w0, __m256i w1)
    {
        const __m256i half = _mm256_set1_epi32(1 << (kWeightBits - 1));
        __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(row, rowNext), w0),
                                      _mm256_madd_epi16(_mm256_unpacklo_epi16(below, belowNext), w1));
        __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(row, rowNext), w0),
                                      _mm256_madd_epi16(_mm256_unpackhi_epi16(below, belowNext), w1));
        lo = _mm256_srai_epi32(_mm256_add_epi32(lo, half), kWeightBits);
        hi = _mm256_srai_epi32(_mm256_add_epi32(hi, half), kWeightBits);
        return _mm256_packs_epi32(lo, hi);
    }

    // SampleTemplate() on a level without stored derivatives, a window row
    // at a time: each picture row around the window is read once, the
    // derivatives are taken in vectors (0 outside the level, as
    // DerivativePatch() leaves them) and the integer sums are the same.
    QUELL_TARGET_AVX2 void SampleTemplateWide(int ix, int iy, const Weights& w, float& a11, float& a12, float& a22)
    {
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_prev.step[0]);
        const int around = m_window.width + 3;
        __m256i w0, w1;
        WeightPairs(w, w0, w1);
        const __m256i zero = _mm256_setzero_si256();
        const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
        // Lanes whose column (ix + lane, or one on) lies inside the level,
        // and lanes inside the window.
        const __m256i here = ColumnsInside(lanes, ix, m_prev.cols);
        const __m256i next = ColumnsInside(lanes, ix + 1, m_prev.cols);
        const __m256i inWindow = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(m_window.width)), lanes);

        // The picture rows from iy - 1, columns from ix - 1, rolled down:
        // derivative row r of the window (picture row iy + r) is taken from
        // `above`, `centre` and `below`, at each column and one column on.
        const uchar* origin = m_prev.data + (iy - 1) * step + (ix - 1);
        __m128i above = WindowRow(origin, around, m_aroundOrder);
        __m128i centre = WindowRow(origin + step, around, m_aroundOrder);
        __m128i below = WindowRow(origin + 2 * step, around, m_aroundOrder);
        __m256i dx, dy, dxNext, dyNext;
        DerivativeRow(above, centre, below, iy >= 0 && iy < m_prev.rows, here, next, dx, dy, dxNext, dyNext);
        __m256i v11 = zero, v12 = zero, v22 = zero;
        int64_t s11 = 0, s12 = 0, s22 = 0;
        for (int y = 0; y < m_window.height; ++y) {
            // The window's picture rows start one byte into the rows read.
            const __m128i picture = _mm_srli_si128(centre, 1), pictureBelow = _mm_srli_si128(below, 1);
            const __m256i rowDx = dx, rowDy = dy, rowDxNext = dxNext, rowDyNext = dyNext;
            above = centre;
            centre = below;
            below = WindowRow(origin + (y + 3) * step, around, m_aroundOrder);
            const int r = iy + y + 1;
            DerivativeRow(above, centre, below, r >= 0 && r < m_prev.rows, here, next, dx, dy, dxNext, dyNext);
            const __m256i t = _mm256_and_si256(SamplePicture16(picture, pictureBelow, w0, w1), inWindow);
            const __m256i gx = _mm256_and_si256(SampleDerivative16(rowDx, rowDxNext, dx, dxNext, w0, w1), inWindow);
            const __m256i gy = _mm256_and_si256(SampleDerivative16(rowDy, rowDyNext, dy, dyNext, w0, w1), inWindow);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(m_template.data() + y * kMaxLkWindow), t);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(m_templateX.data() + y * kMaxLkWindow), gx);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(m_templateY.data() + y * kMaxLkWindow), gy);
            v11 = _mm256_add_epi32(v11, _mm256_madd_epi16(gx, gx));
            v12 = _mm256_add_epi32(v12, _mm256_madd_epi16(gx, gy));
            v22 = _mm256_add_epi32(v22, _mm256_madd_epi16(gy, gy));
            // As in SampleTemplate(): four rows stay within 32 bits a lane.
            if ((y & 3) == 3 || y + 1 == m_window.height) {
                s11 += HorizontalSum(v11);
                s12 += HorizontalSum(v12);
                s22 += HorizontalSum(v22);
                v11 = v12 = v22 = zero;
            }
        }
        a11 = static_cast<float>(s11) * kSumScale;
        a12 = static_cast<float>(s12) * kSumScale;
        a22 = static_cast<float>(s22) * kSumScale;
    }

    // Lanes whose column from + lane lies in [0, cols).
    QUELL_TARGET_AVX2 static __m256i ColumnsInside(__m256i lanes, int from, int cols)
    {
        const __m256i column = _mm256_add_epi16(lanes, _mm256_set1_epi16(static_cast<short>(from)));
        return _mm256_andnot_si256(_mm256_cmpgt_epi16(_mm256_setzero_si256(), column),
                                   _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(cols)), column));
    }

    // One derivative row of the window, at each column (`here` inside the
    // level) and one column on (`next`); 0 on a row outside the level.
    QUELL_TARGET_AVX2 static void DerivativeRow(__m128i above, __m128i centre, __m128i below, bool rowInside,
                                                __m256i here, __m256i next, __m256i& dx, __m256i& dy, __m256i& dxNext,
                                                __m256i& dyNext)
    {
        if (!rowInside) {
            dx = dy = dxNext = dyNext = _mm256_setzero_si256();
            return;
        }
        ScharrLanes16(above, centre, below, dx, dy);
        ScharrLanes16(_mm_srli_si128(above, 1), _mm_srli_si128(centre, 1), _mm_srli_si128(below, 1), dxNext, dyNext);
        dx = _mm256_and_si256(dx, here);
        dy = _mm256_and_si256(dy, here);
        dxNext = _mm256_and_si256(dxNext, next);
        dyNext = _mm256_and_si256(dyNext, next);
    }

    // Mismatch() with a whole window row in one 16-lane vector: the lanes
    // from the window's width on meet template derivatives of 0, so the
    // integer sums are Mismatch()'s.
    QUELL_TARGET_AVX2 void MismatchWide(int ix, int iy, const Weights& w, float& b1, float& b2) const
    {
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_next.step[0]);
        const int n = m_window.width + 1;
        __m256i w0, w1;
        WeightPairs(w, w0, w1);
        const __m256i zero = _mm256_setzero_si256();
        __m256i v1 = zero, v2 = zero;
        int64_t s1 = 0, s2 = 0;
        const uchar* src = m_next.data + iy * step + ix;
        __m128i row = WindowRow(src, n, m_rowOrder);
        for (int y = 0; y < m_window.height; ++y) {
            const __m128i below = WindowRow(src + (y + 1) * step, n, m_rowOrder);
            const auto row16 = [y](const auto& plane) {
                return reinterpret_cast<const __m256i*>(plane.data() + y * kMaxLkWindow);
            };
            const __m256i t = _mm256_loadu_si256(row16(m_template));
            const __m256i diff = _mm256_sub_epi16(SamplePicture16(row, below, w0, w1), t);
            const __m256i tx = _mm256_loadu_si256(row16(m_templateX));
            const __m256i ty = _mm256_loadu_si256(row16(m_templateY));
            v1 = _mm256_add_epi32(v1, _mm256_madd_epi16(diff, tx));
            v2 = _mm256_add_epi32(v2, _mm256_madd_epi16(diff, ty));
            // As in Mismatch(): four rows stay within 32 bits a lane.
            if ((y & 3) == 3 || y + 1 == m_window.height) {
                s1 += HorizontalSum(v1);
                s2 += HorizontalSum(v2);
                v1 = v2 = zero;
            }
            row = below;
        }
        b1 = static_cast<float>(s1) * kSumScale;
        b2 = static_cast<float>(s2) * kSumScale;
    }
#endif

    // The level's derivatives at the window's (width + 1) x (height + 1)
    // samples from (ix, iy), into m_patch: Scharr inside the level, zero
    // outside it, as the pyramid's derivative border is.
    void DerivativePatch(int ix, int iy)
    {
        const int cols = m_window.width + 1;
        const int cBegin = std::max(0, -ix), cEnd = std::min(cols, m_prev.cols - ix);
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_prev.step[0]);
        for (int r = 0; r <= m_window.height; ++r) {
            short* out = m_patch.data() + r * kPatchStride;
            const int y = iy + r;
            if (y < 0 || y >= m_prev.rows || cBegin >= cEnd) {
                std::fill_n(out, 2 * cols, short{0});
                continue;
            }
            std::fill_n(out, 2 * cBegin, short{0});
            std::fill_n(out + 2 * cEnd, 2 * (cols - cEnd), short{0});
            // The level's border gives every neighbour.
            const uchar* centre = m_prev.ptr<uchar>(y);
            ScharrSpan(centre - step, centre, centre + step, ix + cBegin, cEnd - cBegin, out + 2 * cBegin);
        }
    }

    static constexpr int kPatchStride = 2 * (kMaxLkWindow + 4);

    const cv::Mat& m_prev;
    const cv::Mat& m_deriv;
    const cv::Mat& m_next;
    cv::Size m_window;
    bool m_wide = false;
    bool m_wideTemplate = false;
#if defined(QUELL_X86_VECTORS)
    __m128i m_rowOrder;
    __m128i m_aroundOrder;
#endif
    // The template and its derivatives, one row per kMaxLkWindow entries.
    // Not cleared (a tracker is made per level and block of points): the
    // template is written before it is read, on the wide path up to lane 16
    // of a row.
    std::array<short, kMaxLkWindow * kMaxLkWindow> m_template;
    std::array<short, kMaxLkWindow * kMaxLkWindow> m_templateX;
    std::array<short, kMaxLkWindow * kMaxLkWindow> m_templateY;
    // Not cleared: a tracker is made per level and block of points, and
    // DerivativePatch() writes every sample the window reads.
    std::array<short, (kMaxLkWindow + 1) * kPatchStride> m_patch;
};

}  // namespace

void TrackPyramidLk(const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& nextPyramid,
                    const cv::Point2f* prevPoints, cv::Point2f* nextPoints, uint8_t* status, int count,
                    cv::Size window, int maxLevel, const cv::TermCriteria& criteria, float minEigThreshold,
                    bool widePath)
{
    CV_Assert(window.width > 2 && window.height > 2 && window.width <= kMaxLkWindow &&
              window.height <= kMaxLkWindow);
    CV_Assert(prevPyramid.size() % 2 == 0 && nextPyramid.size() % 2 == 0 && !prevPyramid.empty() &&
              !nextPyramid.empty());
    if (count <= 0)
        return;
    maxLevel = std::min({maxLevel, static_cast<int>(prevPyramid.size()) / 2 - 1,
                         static_cast<int>(nextPyramid.size()) / 2 - 1});
    maxLevel = std::max(maxLevel, 0);
    for (int level = 0; level <= maxLevel; ++level) {
        const cv::Mat& prev = prevPyramid[2 * level];
        const cv::Mat& deriv = prevPyramid[2 * level + 1];
        const cv::Mat& next = nextPyramid[2 * level];
        CV_Assert(prev.type() == CV_8UC1 && next.type() == CV_8UC1 && (deriv.empty() || deriv.type() == CV_16SC2));
        CV_Assert(prev.size() == next.size() && (deriv.empty() || deriv.size() == prev.size()));
    }

    const int maxCount = (criteria.type & cv::TermCriteria::COUNT) ? std::clamp(criteria.maxCount, 0, 100) : 30;
    double epsilon = (criteria.type & cv::TermCriteria::EPS) ? std::clamp(criteria.epsilon, 0.0, 10.0) : 0.01;
    epsilon *= epsilon;
    const cv::Point2f halfWin((static_cast<float>(window.width) - 1) * 0.5f,
                              (static_cast<float>(window.height) - 1) * 0.5f);
    const float area2 = 2.0f * static_cast<float>(window.area());

    std::fill_n(status, count, uint8_t{1});
    for (int level = maxLevel; level >= 0; --level) {
        CLevelTracker tracker(prevPyramid[2 * level], prevPyramid[2 * level + 1], nextPyramid[2 * level], window,
                              widePath);
        const float scale = static_cast<float>(1.0 / (1 << level));
        for (int i = 0; i < count; ++i) {
            const cv::Point2f prevPt = prevPoints[i] * scale;
            cv::Point2f nextPt = level == maxLevel ? prevPt : nextPoints[i] * 2.0f;
            nextPoints[i] = nextPt;

            float a11 = 0, a12 = 0, a22 = 0;
            if (!tracker.SampleTemplate(prevPt - halfWin, a11, a12, a22)) {
                if (level == 0)
                    status[i] = 0;
                continue;
            }
            float det = a11 * a22 - a12 * a12;
            const float minEig = (a22 + a11 - std::sqrt((a11 - a22) * (a11 - a22) + 4.f * a12 * a12)) / area2;
            // Too little texture in the window for the flow to be defined.
            if (minEig < minEigThreshold || det < FLT_EPSILON) {
                if (level == 0)
                    status[i] = 0;
                continue;
            }
            det = 1.f / det;

            nextPt -= halfWin;
            cv::Point2f prevDelta;
            for (int j = 0; j < maxCount; ++j) {
                float b1 = 0, b2 = 0;
                if (!tracker.Mismatch(nextPt, b1, b2)) {
                    if (level == 0)
                        status[i] = 0;
                    break;
                }
                const cv::Point2f delta((a12 * b2 - a22 * b1) * det, (a12 * b1 - a11 * b2) * det);
                nextPt += delta;
                nextPoints[i] = nextPt + halfWin;
                if (delta.ddot(delta) <= epsilon)
                    break;
                // Swinging back and forth: settle halfway.
                if (j > 0 && std::abs(delta.x + prevDelta.x) < 0.01 && std::abs(delta.y + prevDelta.y) < 0.01) {
                    nextPoints[i] -= delta * 0.5f;
                    break;
                }
                prevDelta = delta;
            }
        }
    }
}

}  // namespace quell

// The Scharr derivatives the Lucas-Kanade tracker takes, shared by the
// pyramid (whole rows) and the tracker (the window around a point, also
// sixteen columns at a time in AVX2 lanes).
#pragma once

#include <opencv2/core.hpp>

#include "platform/VectorUnits.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quell {

// The derivatives d/dx and d/dy at one pixel, from its neighbours in the
// rows above and below and at columns l and r.
inline void ScharrAt(const uchar* above, const uchar* centre, const uchar* below, int l, int x, int r, short* out)
{
    out[0] = static_cast<short>((above[r] + below[r]) * 3 + centre[r] * 10 - ((above[l] + below[l]) * 3 + centre[l] * 10));
    out[1] = static_cast<short>((below[l] - above[l] + below[r] - above[r]) * 3 + (below[x] - above[x]) * 10);
}

// The derivatives of the `n` pixels from column x of a row whose
// neighbours (columns x - 1 to x + n, the rows above and below) can all be
// read, interleaved (d/dx, d/dy) into `out`. Every intermediate fits 16 bits
// (at most 16 * 255), so the vector path sums in 16-bit lanes and gives the
// plain loop's values.
inline void ScharrSpan(const uchar* above, const uchar* centre, const uchar* below, int x, int n, short* out)
{
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i three = _mm_set1_epi16(3);
    const __m128i ten = _mm_set1_epi16(10);
    const auto load = [&](const uchar* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
    };
    for (; i + 8 <= n; i += 8) {
        const int c = x + i;
        const __m128i aL = load(above + c - 1), aC = load(above + c), aR = load(above + c + 1);
        const __m128i bL = load(below + c - 1), bC = load(below + c), bR = load(below + c + 1);
        const __m128i cL = load(centre + c - 1), cR = load(centre + c + 1);
        const __m128i dx = _mm_sub_epi16(
            _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(aR, bR), three), _mm_mullo_epi16(cR, ten)),
            _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(aL, bL), three), _mm_mullo_epi16(cL, ten)));
        const __m128i side = _mm_add_epi16(_mm_sub_epi16(bL, aL), _mm_sub_epi16(bR, aR));
        const __m128i dy = _mm_add_epi16(_mm_mullo_epi16(side, three), _mm_mullo_epi16(_mm_sub_epi16(bC, aC), ten));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(dx, dy));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(dx, dy));
    }
#endif
    for (; i < n; ++i)
        ScharrAt(above, centre, below, x + i - 1, x + i, x + i + 1, out + 2 * i);
}

#if defined(QUELL_X86_VECTORS)
// The derivatives of sixteen columns in 16-bit lanes, d/dx in `dx` and d/dy
// in `dy`, from the bytes of the rows above, at and below them: column j's
// neighbours are bytes j and j + 2, the column itself byte j + 1.
QUELL_TARGET_AVX2 inline void ScharrLanes16(__m128i above, __m128i centre, __m128i below, __m256i& dx, __m256i& dy)
{
    const __m256i three = _mm256_set1_epi16(3), ten = _mm256_set1_epi16(10);
    const __m256i aL = _mm256_cvtepu8_epi16(above), aC = _mm256_cvtepu8_epi16(_mm_srli_si128(above, 1)),
                  aR = _mm256_cvtepu8_epi16(_mm_srli_si128(above, 2));
    const __m256i bL = _mm256_cvtepu8_epi16(below), bC = _mm256_cvtepu8_epi16(_mm_srli_si128(below, 1)),
                  bR = _mm256_cvtepu8_epi16(_mm_srli_si128(below, 2));
    const __m256i cL = _mm256_cvtepu8_epi16(centre), cR = _mm256_cvtepu8_epi16(_mm_srli_si128(centre, 2));
    dx = _mm256_sub_epi16(
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_add_epi16(aR, bR), three), _mm256_mullo_epi16(cR, ten)),
        _mm256_add_epi16(_mm256_mullo_epi16(_mm256_add_epi16(aL, bL), three), _mm256_mullo_epi16(cL, ten)));
    const __m256i side = _mm256_add_epi16(_mm256_sub_epi16(bL, aL), _mm256_sub_epi16(bR, aR));
    dy = _mm256_add_epi16(_mm256_mullo_epi16(side, three), _mm256_mullo_epi16(_mm256_sub_epi16(bC, aC), ten));
}
#endif

}  // namespace quell

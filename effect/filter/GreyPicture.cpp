// BGRx to grey with OpenCV's fixed-point weights: AVX-512 or AVX2 when the
// processor has it (checked at run time), SSE2 where the target has it
// (every x86-64), plain loops elsewhere.
#include "filter/GreyPicture.h"

#include "platform/VectorUnits.h"

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quell {

namespace {
// ITU-R BT.601 weights in 15-bit fixed point, summing to exactly 1.0, as
// OpenCV's 8-bit conversion uses them.
constexpr int kBlue = 3735;
constexpr int kGreen = 19235;
constexpr int kRed = 9798;
constexpr int kShift = 15;

inline uint8_t Grey(const uint8_t* p)
{
    return static_cast<uint8_t>((p[0] * kBlue + p[1] * kGreen + p[2] * kRed + (1 << (kShift - 1))) >> kShift);
}

#if defined(__SSE2__)
// The grey values of four pixels as 32-bit lanes.
inline __m128i Grey4(__m128i pixels, __m128i weights, __m128i half)
{
    const __m128i zero = _mm_setzero_si128();
    // Per pixel: blue * wb + green * wg in one lane, red * wr in the next.
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    const __m128i loSum = _mm_add_epi32(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128i hiSum = _mm_add_epi32(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    const __m128i sums = _mm_unpacklo_epi64(_mm_shuffle_epi32(loSum, _MM_SHUFFLE(3, 1, 2, 0)),
                                            _mm_shuffle_epi32(hiSum, _MM_SHUFFLE(3, 1, 2, 0)));
    return _mm_srli_epi32(_mm_add_epi32(sums, half), kShift);
}
#endif

#if defined(QUELL_X86_VECTORS)
// The grey values of eight pixels as 32-bit lanes, in order. Every sum is
// exact in 32 bits, so the result equals the scalar one to the bit.
QUELL_TARGET_AVX2 inline __m256i Grey8(__m256i pixels, __m256i weights, __m256i half)
{
    const __m256i zero = _mm256_setzero_si256();
    // Per 128-bit half: pixels 0, 1 in `lo`, 2, 3 in `hi`, each as
    // (blue * wb + green * wg, red * wr); the pairwise sums are in order.
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi8(pixels, zero), weights);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi8(pixels, zero), weights);
    return _mm256_srli_epi32(_mm256_add_epi32(_mm256_hadd_epi32(lo, hi), half), kShift);
}
#endif

#if defined(QUELL_X86_VECTORS)
// The grey values of sixteen pixels as 32-bit lanes, in order. Blue and red
// are the even bytes of a pixel, green and the fourth the odd ones: one
// multiply-add per pair gives blue * wb + red * wr and green * wg without
// moving a byte across lanes, and the sum is the scalar one to the bit.
QUELL_TARGET_AVX512 inline __m512i Grey16(__m512i pixels)
{
    const __m512i blueRed = _mm512_and_si512(pixels, _mm512_set1_epi16(0x00FF));
    const __m512i green = _mm512_srli_epi16(pixels, 8);
    const __m512i sums = _mm512_add_epi32(_mm512_madd_epi16(blueRed, _mm512_set1_epi32(kBlue | (kRed << 16))),
                                          _mm512_madd_epi16(green, _mm512_set1_epi32(kGreen)));
    return _mm512_srli_epi32(_mm512_add_epi32(sums, _mm512_set1_epi32(1 << (kShift - 1))), kShift);
}
#endif

}  // namespace

namespace grey_paths {

#if defined(QUELL_X86_VECTORS)
QUELL_TARGET_AVX512 void Avx512(const uint8_t* src, uint8_t* dst, int width)
{
    int x = 0;
    for (; x + 16 <= width; x += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                         _mm512_cvtepi32_epi8(Grey16(_mm512_loadu_si512(src + 4 * x))));
    if (x < width) {
        // The last pixels through masks: nothing is read or written past
        // the row.
        const __mmask16 tail = static_cast<__mmask16>((1u << (width - x)) - 1);
        const __m512i pixels = _mm512_maskz_loadu_epi32(tail, src + 4 * x);
        _mm512_mask_cvtepi32_storeu_epi8(dst + x, tail, Grey16(pixels));
    }
}
#else
void Avx512(const uint8_t* src, uint8_t* dst, int width)
{
    Portable(src, dst, width);
}
#endif

#if defined(QUELL_X86_VECTORS)
QUELL_TARGET_AVX2 void Avx2(const uint8_t* src, uint8_t* dst, int width)
{
    const __m256i weights = _mm256_setr_epi16(kBlue, kGreen, kRed, 0, kBlue, kGreen, kRed, 0, kBlue, kGreen, kRed, 0,
                                              kBlue, kGreen, kRed, 0);
    const __m256i half = _mm256_set1_epi32(1 << (kShift - 1));
    // The packs work per 128-bit half: this puts the groups of four back
    // in order.
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = src + 4 * x;
        const __m256i a = Grey8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)), weights, half);
        const __m256i b = Grey8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)), weights, half);
        const __m256i c = Grey8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)), weights, half);
        const __m256i d = Grey8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96)), weights, half);
        const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + x), _mm256_permutevar8x32_epi32(bytes, order));
    }
    if (x < width)
        Portable(src + 4 * x, dst + x, width - x);
}
#else
void Avx2(const uint8_t* src, uint8_t* dst, int width)
{
    Portable(src, dst, width);
}
#endif

void Portable(const uint8_t* src, uint8_t* dst, int width)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i weights = _mm_setr_epi16(kBlue, kGreen, kRed, 0, kBlue, kGreen, kRed, 0);
    const __m128i half = _mm_set1_epi32(1 << (kShift - 1));
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = src + 4 * x;
        const __m128i a = Grey4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), weights, half);
        const __m128i b = Grey4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)), weights, half);
        const __m128i c = Grey4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)), weights, half);
        const __m128i d = Grey4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)), weights, half);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), bytes);
    }
#endif
    for (; x < width; ++x)
        dst[x] = Grey(src + 4 * x);
}

}  // namespace grey_paths

void ToGreyRow(const uint8_t* src, uint8_t* dst, int width)
{
    if (HasAvx512())
        grey_paths::Avx512(src, dst, width);
    else if (HasAvx2())
        grey_paths::Avx2(src, dst, width);
    else
        grey_paths::Portable(src, dst, width);
}

void ToGrey(const cv::Mat& bgrx, cv::Mat& grey)
{
    CV_Assert(bgrx.type() == CV_8UC4);
    grey.create(bgrx.size(), CV_8UC1);
    for (int y = 0; y < bgrx.rows; ++y)
        ToGreyRow(bgrx.ptr<uint8_t>(y), grey.ptr<uint8_t>(y), bgrx.cols);
}

}  // namespace quell

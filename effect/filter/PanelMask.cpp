// The overlay's panel: its mask, its runs per row, the tinted write-back of
// the grey picture and the shade pass.
#include "filter/PanelMask.h"

#include "filter/GreyPicture.h"
#include "platform/RowTeam.h"
#include "platform/VectorUnits.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>


namespace quell {

namespace {

// Sixteen pixels at a time in 16-byte vectors: byte interleaves and 16-bit
// arithmetic, which every x86-64 (SSE2) and ARM target has as single
// instructions, whatever the optimisation level.
using Bytes16 = uint8_t __attribute__((vector_size(16)));
using Halves8 = uint16_t __attribute__((vector_size(16)));

constexpr uint32_t kOpaque = 0xFF000000u;

// Grey value g as a pixel outside the panel: (g >> 1, g, g >> 1, 255), the
// grey picture with blue and red halved.
inline uint32_t Tinted(uint32_t g)
{
    const uint32_t half = g >> 1;
    return half | (g << 8) | (half << 16) | kOpaque;
}

// Blue and red 0, green trunc(0.4 * green), the fourth byte kept.
// g * 205 >> 9 equals trunc(0.4 * g) for every byte value.
constexpr bool ShadeIsExact()
{
    for (uint32_t g = 0; g < 256; ++g)
        if ((g * 205) >> 9 != static_cast<uint32_t>(0.4 * g))
            return false;
    return true;
}
static_assert(ShadeIsExact());

inline uint32_t Shaded(uint32_t bgrx)
{
    return (bgrx & 0xFF000000u) | ((((bgrx >> 8) & 0xFFu) * 205u >> 9) << 8);
}
// Grey value g as a pixel inside the panel: (g, g, g, 255) shaded, that is
// (0, trunc(0.4 * g), 0, 255).
inline uint32_t Panel(uint32_t g)
{
    return ((g * 205u >> 9) << 8) | kOpaque;
}
// The same on eight 16-bit halves of four pixels: the low half of a pixel is
// blue | green << 8, the high half red | fourth << 8. 16-bit multiplies are
// SSE2 instructions; g * 205 fits 16 bits.
inline Halves8 Shaded(Halves8 v)
{
    const Halves8 low = {0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0, 0xFFFF, 0};
    const Halves8 fourth = {0, 0xFF00, 0, 0xFF00, 0, 0xFF00, 0, 0xFF00};
    const Halves8 green = ((v >> 8) * 205) >> 9;
    return ((green << 8) & low) | (v & fourth);
}

// Writes the pixels [begin, end) of one frame row from the same stretch of
// the grey row, tinted (outside the panel) or shaded (inside). Rows need not
// be aligned: pixels move through memcpy, which compiles to plain loads and
// stores.
template <bool kTint>
inline void WriteSpan(const uint8_t* grey, uint8_t* row, int begin, int end)
{
    const uint8_t* g = grey + begin;
    uint8_t* p = row + 4 * static_cast<size_t>(begin);
    int n = end - begin;
    const Bytes16 opaque = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    for (; n >= 16; n -= 16, g += 16, p += 64) {
        Bytes16 grey16;
        std::memcpy(&grey16, g, sizeof grey16);
        // Outside the panel: blue and red the grey value halved, green the
        // grey value. Inside: blue and red 0, green g * 205 >> 9.
        Bytes16 side = grey16 >> 1;
        if (!kTint) {
            const Bytes16 zero = {};
            const auto lowBytes = __builtin_shufflevector(grey16, zero, 0, 1, 2, 3, 4, 5, 6, 7);
            const auto highBytes = __builtin_shufflevector(grey16, zero, 8, 9, 10, 11, 12, 13, 14, 15);
            const Halves8 low = __builtin_convertvector(lowBytes, Halves8);
            const Halves8 high = __builtin_convertvector(highBytes, Halves8);
            const Halves8 lowGreen = (low * 205) >> 9, highGreen = (high * 205) >> 9;
            grey16 = __builtin_shufflevector(reinterpret_cast<const Bytes16&>(lowGreen),
                                             reinterpret_cast<const Bytes16&>(highGreen), 0, 2, 4, 6, 8, 10, 12, 14, 16,
                                             18, 20, 22, 24, 26, 28, 30);
            side = zero;
        }
        // (side, grey) and (side, 255) byte pairs, then the pairs of pairs:
        // side, grey, side, 255 for each pixel.
        const Bytes16 lowBG =
            __builtin_shufflevector(side, grey16, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const Bytes16 highBG =
            __builtin_shufflevector(side, grey16, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const Bytes16 lowRX =
            __builtin_shufflevector(side, opaque, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
        const Bytes16 highRX =
            __builtin_shufflevector(side, opaque, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
        const Halves8 lowGrey = reinterpret_cast<const Halves8&>(lowBG);
        const Halves8 highGrey = reinterpret_cast<const Halves8&>(highBG);
        const Halves8 lowSide = reinterpret_cast<const Halves8&>(lowRX);
        const Halves8 highSide = reinterpret_cast<const Halves8&>(highRX);
        const Halves8 p0 = __builtin_shufflevector(lowGrey, lowSide, 0, 8, 1, 9, 2, 10, 3, 11);
        const Halves8 p1 = __builtin_shufflevector(lowGrey, lowSide, 4, 12, 5, 13, 6, 14, 7, 15);
        const Halves8 p2 = __builtin_shufflevector(highGrey, highSide, 0, 8, 1, 9, 2, 10, 3, 11);
        const Halves8 p3 = __builtin_shufflevector(highGrey, highSide, 4, 12, 5, 13, 6, 14, 7, 15);
        std::memcpy(p, &p0, 16);
        std::memcpy(p + 16, &p1, 16);
        std::memcpy(p + 32, &p2, 16);
        std::memcpy(p + 48, &p3, 16);
    }
    for (; n > 0; --n, ++g, p += 4) {
        const uint32_t v = *g;
        const uint32_t out = kTint ? Tinted(v) : Panel(v);
        std::memcpy(p, &out, sizeof out);
    }
}

// Shades the pixels of [begin, end) drawn over since the write-back: those
// whose fourth byte is not 255.
inline void ShadeDrawnSpan(uint8_t* row, int begin, int end)
{
    uint8_t* p = row + 4 * static_cast<size_t>(begin);
    int n = end - begin;
    using Words4 = uint32_t __attribute__((vector_size(16)));
    const Words4 fourth = {kOpaque, kOpaque, kOpaque, kOpaque};
    for (; n >= 4; n -= 4, p += 16) {
        Words4 v;
        std::memcpy(&v, p, sizeof v);
        const Words4 keep = std::bit_cast<Words4>((v & fourth) == fourth);
        const Words4 shaded = std::bit_cast<Words4>(Shaded(std::bit_cast<Halves8>(v)));
        v = (shaded & ~keep) | (v & keep);
        std::memcpy(p, &v, sizeof v);
    }
    for (; n > 0; --n, p += 4) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        if ((v & kOpaque) != kOpaque)
            v = Shaded(v);
        std::memcpy(p, &v, sizeof v);
    }
}

#if defined(QUELL_X86_VECTORS)
// The same passes sixteen pixels to a 64-byte vector, the last pixels of a
// span through masks; every byte equals the narrow passes' one.
template <bool kTint>
QUELL_TARGET_AVX512 inline __m512i Written16(__m128i greys)
{
    const __m512i g = _mm512_cvtepu8_epi32(greys);
    const __m512i opaque = _mm512_set1_epi32(static_cast<int>(kOpaque));
    if (!kTint) {
        // Green g * 205 >> 9 (one multiply-add: g * 205 fits 16 bits), the
        // rest 0, the fourth byte 255.
        const __m512i green = _mm512_srli_epi32(_mm512_madd_epi16(g, _mm512_set1_epi32(205)), 9);
        return _mm512_or_si512(_mm512_slli_epi32(green, 8), opaque);
    }
    const __m512i side = _mm512_srli_epi32(g, 1);
    // side | g << 8 | side << 16, then the fourth byte 255.
    const __m512i bgr = _mm512_ternarylogic_epi32(side, _mm512_slli_epi32(g, 8), _mm512_slli_epi32(side, 16), 0xFE);
    return _mm512_or_si512(bgr, opaque);
}

template <bool kTint>
QUELL_TARGET_AVX512 void WriteSpanWide(const uint8_t* grey, uint8_t* row, int begin, int end)
{
    const uint8_t* g = grey + begin;
    uint8_t* p = row + 4 * static_cast<size_t>(begin);
    int n = end - begin;
    for (; n >= 16; n -= 16, g += 16, p += 64)
        _mm512_storeu_si512(p, Written16<kTint>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(g))));
    if (n > 0) {
        const __mmask16 tail = static_cast<__mmask16>((1u << n) - 1);
        _mm512_mask_storeu_epi32(p, tail, Written16<kTint>(_mm_maskz_loadu_epi8(tail, g)));
    }
}

QUELL_TARGET_AVX512 inline __m512i Shaded16(__m512i v)
{
    const __m512i green = _mm512_and_si512(_mm512_srli_epi32(v, 8), _mm512_set1_epi32(0xFF));
    // (g * 205 >> 9) << 8 is g * 205 >> 1 with its low byte cleared; the
    // product fits the low 16 bits of the lane, as one multiply-add gives it.
    const __m512i scaled = _mm512_srli_epi32(_mm512_madd_epi16(green, _mm512_set1_epi32(205)), 1);
    return _mm512_or_si512(_mm512_and_si512(scaled, _mm512_set1_epi32(0xFF00)),
                           _mm512_and_si512(v, _mm512_set1_epi32(static_cast<int>(0xFF000000u))));
}

QUELL_TARGET_AVX512 void ShadeDrawnSpanWide(uint8_t* row, int begin, int end)
{
    uint8_t* p = row + 4 * static_cast<size_t>(begin);
    int n = end - begin;
    const __m512i fourth = _mm512_set1_epi32(static_cast<int>(kOpaque));
    for (; n > 0; n -= 16, p += 64) {
        const __mmask16 span = n >= 16 ? __mmask16{0xFFFF} : static_cast<__mmask16>((1u << n) - 1);
        const __m512i v = _mm512_maskz_loadu_epi32(span, p);
        const __mmask16 drawn = _mm512_mask_cmpneq_epi32_mask(span, _mm512_and_si512(v, fourth), fourth);
        _mm512_mask_storeu_epi32(p, drawn, Shaded16(v));
    }
}
#endif

}  // namespace

CPanelMask::CPanelMask()
{
    UseWidePaths(true);
}

void CPanelMask::UseWidePaths(bool wide)
{
    m_tintSpan = &WriteSpan<true>;
    m_panelSpan = &WriteSpan<false>;
    m_shadeSpan = &ShadeDrawnSpan;
#if defined(QUELL_X86_VECTORS)
    if (wide && HasAvx512()) {
        m_tintSpan = &WriteSpanWide<true>;
        m_panelSpan = &WriteSpanWide<false>;
        m_shadeSpan = &ShadeDrawnSpanWide;
    }
#endif
}

void CPanelMask::Build(int width, int height, int panelHeight)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    m_mask = cv::Mat::zeros(height, width, CV_8UC4);
    m_runs.clear();
    m_rowFirst.assign(static_cast<size_t>(height) + 1, 0);
    m_gaugeBase = 0;
    if (width == 0 || height == 0)
        return;

    const int W = width;
    const int H = height;
    const int P = panelHeight;
    const int u = W / 100;  // rim thickness and offset
    const cv::Scalar white(255, 255, 255, 0);

    const int x1 = static_cast<int>(static_cast<float>(W) / 3.3f);
    const int x2 = static_cast<int>(static_cast<float>(W) / 2.8f);
    const int panelTop = H - P - 30;
    const int stepY = H - H / 15;
    const std::vector<cv::Point> panel = {{0, panelTop}, {x1, panelTop}, {x2, stepY}, {W, stepY}, {W, H}, {0, H}};
    const std::vector<cv::Point> window = {{10, H - P - 20}, {P + 20, H - P - 20}, {P + 20, H - 10}, {10, H - 10}};

    // The rim: three lines a little above and to the right of the panel's
    // upper edge. Frames under 100 pixels wide would get a rim of no
    // thickness; it is drawn one pixel thick there.
    const double dx = 1.5 * u;
    const double dy = 1.5 * (H / 80);
    const cv::Point r0(-10, static_cast<int>(panelTop - dy));
    const cv::Point r1(static_cast<int>(x1 + dx), static_cast<int>(panelTop - dy));
    const cv::Point r2(static_cast<int>(x2 + dx), static_cast<int>(stepY - dy));
    const cv::Point r3(static_cast<int>(W + dx), static_cast<int>(stepY - dy));
    const int rim = std::max(1, u);
    cv::line(m_mask, r0, r1, white, rim, cv::LINE_8, 0);
    cv::line(m_mask, r1, r2, white, rim, cv::LINE_8, 0);
    cv::line(m_mask, r2, r3, white, rim, cv::LINE_8, 0);

    // Both outlines in one fill: the scan-line fill alternates inside and
    // outside at every edge it crosses, so the square inside the panel stays
    // a black window.
    cv::fillPoly(m_mask, std::vector<std::vector<cv::Point>>{panel, window}, white, cv::LINE_8, 0);

    m_gaugeBase = static_cast<int>(stepY - dy);

    for (int y = 0; y < H; ++y) {
        m_rowFirst[y] = static_cast<int>(m_runs.size());
        const uint8_t* row = m_mask.ptr<uint8_t>(y);
        for (int x = 0; x < W;) {
            if (row[4 * x] != 255) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < W && row[4 * x] == 255)
                ++x;
            m_runs.push_back({begin, x});
        }
    }
    m_rowFirst[H] = static_cast<int>(m_runs.size());
}

void CPanelMask::RequireFrame(const cv::Mat& frame) const
{
    if (frame.type() != CV_8UC4 || frame.size() != m_mask.size())
        throw std::invalid_argument("the frame is not a BGRx image of the panel mask's size");
}

void CPanelMask::WriteBack(const cv::Mat& grey, cv::Mat& frame) const
{
    RequireFrame(frame);
    if (grey.type() != CV_8UC1 || grey.size() != m_mask.size())
        throw std::invalid_argument("the grey picture is not a one-byte image of the panel mask's size");
    for (int y = 0; y < frame.rows; ++y)
        WriteRow(grey.ptr<uint8_t>(y), frame.ptr<uint8_t>(y), y);
}

void CPanelMask::WriteRow(const uint8_t* g, uint8_t* row, int y) const
{
    int x = 0;
    for (int i = m_rowFirst[y]; i < m_rowFirst[y + 1]; ++i) {
        m_tintSpan(g, row, x, m_runs[i].begin);
        m_panelSpan(g, row, m_runs[i].begin, m_runs[i].end);
        x = m_runs[i].end;
    }
    m_tintSpan(g, row, x, m_mask.cols);
}

void CPanelMask::GreyAndWriteBack(cv::Mat& frame, cv::Mat& curGrey, const cv::Mat& prevGrey, CRowTeam* team) const
{
    RequireFrame(frame);
    if (prevGrey.type() != CV_8UC1 || prevGrey.size() != m_mask.size())
        throw std::invalid_argument("the grey picture is not a one-byte image of the panel mask's size");
    curGrey.create(frame.size(), CV_8UC1);
    auto rows = [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            uint8_t* row = frame.ptr<uint8_t>(y);
            ToGreyRow(row, curGrey.ptr<uint8_t>(y), frame.cols);
            WriteRow(prevGrey.ptr<uint8_t>(y), row, y);
        }
    };
    // Blocks of 16 rows: at 1080p a block is about 10 microseconds of work,
    // short enough that the caller rarely waits for the helper's last one.
    // Below about a megapixel the pass is shorter than waking the helper.
    constexpr int64_t kShareFromPixels = 1'000'000;
    if (team && int64_t{frame.cols} * frame.rows >= kShareFromPixels)
        team->Run(frame.rows, 16, rows);
    else
        rows(0, frame.rows);
}

void CPanelMask::ShadeDrawn(cv::Mat& frame, const cv::Rect& area) const
{
    RequireFrame(frame);
    const cv::Rect inside = area & cv::Rect(0, 0, frame.cols, frame.rows);
    for (int y = inside.y; y < inside.y + inside.height; ++y) {
        uint8_t* row = frame.ptr<uint8_t>(y);
        for (int i = m_rowFirst[y]; i < m_rowFirst[y + 1]; ++i) {
            const int begin = std::max(m_runs[i].begin, inside.x);
            const int end = std::min(m_runs[i].end, inside.x + inside.width);
            if (begin < end)
                m_shadeSpan(row, begin, end);
        }
    }
}

}  // namespace quell

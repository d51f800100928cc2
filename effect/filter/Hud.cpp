// The overlay: panel mask, tint and shade passes, texts and gauge.
#include "filter/HudText.h"
#include "filter/TransEffectFilter.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace quell {

namespace {

// Frame sizes in the overlay's own units, all by integer division.
struct HudUnits {
    int u;  // W / 100: rim thickness, gauge offset
    int t;  // W / 300: gauge pen
    int m;  // W / 60: margins
    float s;  // W / 320: display scale
};

HudUnits Units(int width)
{
    return {width / 100, width / 300, width / 60, static_cast<float>(width) / 320.0f};
}

// Four pixels at a time: plain vector arithmetic that every x86-64 and ARM
// target turns into SIMD registers, whatever the optimisation level.
using Pixels4 = uint32_t __attribute__((vector_size(16)));

// Outside the panel: blue and red halved, green and the fourth byte kept.
inline uint32_t Tint(uint32_t bgrx)
{
    return (bgrx & 0xFF00FF00u) | ((bgrx >> 1) & 0x007F007Fu);
}
inline Pixels4 Tint(Pixels4 bgrx)
{
    return (bgrx & 0xFF00FF00u) | ((bgrx >> 1) & 0x007F007Fu);
}

// Inside the panel: blue and red 0, green trunc(0.4 * green), the fourth
// byte kept. g * 205 >> 9 equals trunc(0.4 * g) for every byte value.
constexpr bool ShadeIsExact()
{
    for (uint32_t g = 0; g < 256; ++g)
        if ((g * 205) >> 9 != static_cast<uint32_t>(0.4 * g))
            return false;
    return true;
}
static_assert(ShadeIsExact());

inline uint32_t Shade(uint32_t bgrx)
{
    return (bgrx & 0xFF000000u) | ((((bgrx >> 8) & 0xFFu) * 205u >> 9) << 8);
}
inline Pixels4 Shade(Pixels4 bgrx)
{
    return (bgrx & 0xFF000000u) | ((((bgrx >> 8) & 0xFFu) * 205u >> 9) << 8);
}

// Applies `op` to the pixels [begin, end) of one row in place. Rows need not
// be aligned: pixels are moved through memcpy, which compiles to plain loads.
template <typename Op>
inline void ApplySpan(uint8_t* row, int begin, int end, Op op)
{
    uint8_t* p = row + 4 * static_cast<size_t>(begin);
    int n = end - begin;
    for (; n >= 4; n -= 4, p += 16) {
        Pixels4 v;
        std::memcpy(&v, p, sizeof v);
        v = op(v);
        std::memcpy(p, &v, sizeof v);
    }
    for (; n > 0; --n, p += 4) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        v = op(v);
        std::memcpy(p, &v, sizeof v);
    }
}

struct TintOp {
    template <typename T>
    T operator()(T v) const { return Tint(v); }
};
struct ShadeOp {
    template <typename T>
    T operator()(T v) const { return Shade(v); }
};

}  // namespace

void CTransEffectFilter::HudTextDeleter::operator()(CHudText* hud) const
{
    delete hud;
}

CHudText& CTransEffectFilter::Hud()
{
    if (!m_hud)
        m_hud.reset(new CHudText());
    return *m_hud;
}

void CTransEffectFilter::BuildHudMask()
{
    cv::Mat& mask = m_pHudMask;
    const int W = mask.cols;
    const int H = mask.rows;
    const int P = m_panelHeight;
    const HudUnits k = Units(W);
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
    const double dx = 1.5 * k.u;
    const double dy = 1.5 * (H / 80);
    const cv::Point r0(-10, static_cast<int>(panelTop - dy));
    const cv::Point r1(static_cast<int>(x1 + dx), static_cast<int>(panelTop - dy));
    const cv::Point r2(static_cast<int>(x2 + dx), static_cast<int>(stepY - dy));
    const cv::Point r3(static_cast<int>(W + dx), static_cast<int>(stepY - dy));
    const int rim = std::max(1, k.u);
    cv::line(mask, r0, r1, white, rim, cv::LINE_8, 0);
    cv::line(mask, r1, r2, white, rim, cv::LINE_8, 0);
    cv::line(mask, r2, r3, white, rim, cv::LINE_8, 0);

    // Both outlines in one fill: the scan-line fill alternates inside and
    // outside at every edge it crosses, so the square inside the panel stays
    // a black window.
    cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{panel, window}, white, cv::LINE_8, 0);

    m_gaugeBase = static_cast<int>(stepY - dy);

    m_panelRuns.clear();
    m_panelRowFirst.assign(static_cast<size_t>(H) + 1, 0);
    for (int y = 0; y < H; ++y) {
        m_panelRowFirst[y] = static_cast<int>(m_panelRuns.size());
        const uint8_t* row = mask.ptr<uint8_t>(y);
        for (int x = 0; x < W;) {
            if (row[4 * x] != 255) {
                ++x;
                continue;
            }
            const int begin = x;
            while (x < W && row[4 * x] == 255)
                ++x;
            m_panelRuns.push_back({begin, x});
        }
    }
    m_panelRowFirst[H] = static_cast<int>(m_panelRuns.size());
}

void CTransEffectFilter::TintPass()
{
    const int W = m_pFrame.cols;
    for (int y = 0; y < m_pFrame.rows; ++y) {
        uint8_t* row = m_pFrame.ptr<uint8_t>(y);
        int x = 0;
        for (int i = m_panelRowFirst[y]; i < m_panelRowFirst[y + 1]; ++i) {
            ApplySpan(row, x, m_panelRuns[i].begin, TintOp{});
            x = m_panelRuns[i].end;
        }
        ApplySpan(row, x, W, TintOp{});
    }
}

void CTransEffectFilter::ShadePass()
{
    for (int y = 0; y < m_pFrame.rows; ++y) {
        uint8_t* row = m_pFrame.ptr<uint8_t>(y);
        for (int i = m_panelRowFirst[y]; i < m_panelRowFirst[y + 1]; ++i)
            ApplySpan(row, m_panelRuns[i].begin, m_panelRuns[i].end, ShadeOp{});
    }
}

void CTransEffectFilter::DrawOverlay(CFaceData* current)
{
    const int W = m_pFrame.cols;
    const int H = m_pFrame.rows;
    const int P = m_panelHeight;
    const HudUnits k = Units(W);
    const float s = k.s;

    CHudText& hud = Hud();
    hud.SetFrameHeight(H);
    // A frame Cairo cannot wrap gets no text and no gauge; the measurement
    // still moves on below as if they had been drawn.
    CFrameCanvas canvas(m_pFrame.data, W, H, m_pFrame.step);

    uint64_t shown = 0;
    const bool visible = PowerStage(current, shown);
    hud.DrawPower(canvas, shown, visible, W, H, k.m);

    const int scoreAt = static_cast<int>(5.0f * s);
    hud.DrawScore(canvas, GetScore(), GetHighScore(), scoreAt, scoreAt);

    if (current) {
        // A face after a frame without faces is typed from its beginning.
        if (m_prevFaceCount == 0)
            m_textClock = 0;
        const int left = k.m + P + 20;
        const int top = H - P - 20;
        hud.DrawProfile(canvas, *current, m_textClock / 100, {left, top, W / 2 - left, H - top});
    }

    // The gauge along the right edge: a vertical line down to a little above
    // the panel's step, with a long tick at both ends and in the middle.
    const int fh = hud.GaugeFontHeight();
    const int x0 = static_cast<int>(static_cast<float>(W) - 5.0f * s);
    const int top = static_cast<int>(10.0f * s);
    const int bottom = m_gaugeBase - 7 * k.u - fh;
    const int pen = std::max(1, k.t / 2);
    canvas.PenLine(x0, top, x0, bottom + 1, pen, kGaugeColour);
    const float step = static_cast<float>(bottom - top) / 30.0f;
    const int longFrom = static_cast<int>(static_cast<float>(W) - 15.0f * s);
    const int shortFrom = static_cast<int>(static_cast<float>(W) - 10.0f * s);
    for (int i = 0; i <= 30; ++i) {
        const int y = static_cast<int>(static_cast<float>(i) * step + 10.0f * s);
        const bool isLong = i == 0 || i == 15 || i == 30;
        canvas.PenLine(isLong ? longFrom : shortFrom, y, x0, y, pen, kGaugeColour);
    }
}

}  // namespace quell

// The overlay: texts and gauge.
#include "filter/HudText.h"
#include "filter/TransEffectFilter.h"

#include <algorithm>

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
    if (m_streamRun) {
        const LocalTime at = StreamLocalTime(m_streamClock.NowNs());
        hud.DrawScore(canvas, GetScore(), GetHighScore(), scoreAt, scoreAt, &at);
    } else {
        hud.DrawScore(canvas, GetScore(), GetHighScore(), scoreAt, scoreAt);
    }

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
    const int bottom = m_panel.GaugeBase() - 7 * k.u - fh;
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

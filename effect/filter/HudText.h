// The texts of the overlay: the four fonts sized from the frame height, the
// power text, the score line with the local date and time, and the typed
// profile of the current face.
#pragma once

#include "platform/TextPainter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quell {

class CFaceData;

// Every text of the overlay, and the gauge pen.
inline constexpr Rgb kHudTextColour{222, 255, 222};
inline constexpr Rgb kGaugeColour{180, 230, 180};

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};
using LocalTimeSource = LocalTime (*)();
// The wall-clock date and time in the local time zone.
LocalTime ReadLocalTime();
// The date and time the score line shows when the effect follows the
// stream's clock: its time counted from 1970-01-01 00:00:00, so that every
// render, on any machine and in any time zone, shows the same.
LocalTime StreamLocalTime(uint64_t streamNs);

class CHudText {
public:
    CHudText();
    ~CHudText();
    CHudText(const CHudText&) = delete;
    CHudText& operator=(const CHudText&) = delete;

    // Sizes the fonts for frames `height` rows high; does nothing when the
    // height is the one already set.
    void SetFrameHeight(int height);
    // Replaces the clock of the score line (tests pin the time with it).
    void SetLocalTimeSource(LocalTimeSource source) { m_localTime = source; }

    // "POWER" and the value with twelve digits at least, placed so that its
    // box ends `margin` pixels before the right edge and its bottom lies
    // margin / 2 above the bottom edge of a `width` x `height` frame. A hidden
    // text is laid out (its box is still known) but not drawn.
    void DrawPower(CFrameCanvas& canvas, uint64_t value, bool visible, int width, int height, int margin);
    // The score line with the time `at`, or the time read now, its box's
    // top-left at (x, y).
    void DrawScore(CFrameCanvas& canvas, uint64_t score, uint64_t highScore, int x, int y,
                   const LocalTime* at = nullptr);
    // The first `chars` characters of the face's profile, wrapped within
    // `box` and clipped to it. Nothing is drawn for 0 characters.
    void DrawProfile(CFrameCanvas& canvas, const CFaceData& face, uint32_t chars, const PixelRect& box);
    // Height of one line of the gauge font.
    int GaugeFontHeight() const;
    // The painter whose glyph images and pen shapes a frame's canvas reuses:
    // CFrameCanvas canvas(hud.Painter(), pixels, width, height, stride).
    CTextPainter& Painter() { return m_painter; }

    // What the last frame laid out and where; for tests.
    const CTextLayout& PowerLayout() const { return m_power; }
    const CTextLayout& ScoreLayout() const { return m_score; }
    const CTextLayout& ProfileLayout() const { return m_profile; }
    PixelRect PowerBox() const { return m_powerBox; }
    // The whole profile text of the last face drawn.
    const std::string& ProfileText() const { return m_profileText; }
    // Number of characters in it.
    size_t ProfileLength() const { return m_charEnds.size(); }

private:
    // Rebuilds the profile text from the face; keeps the character index
    // when the text is the one already held.
    void BuildProfile(const CFaceData& face);

    CTextPainter m_painter;
    CTextLayout m_power;
    CTextLayout m_score;
    CTextLayout m_profile;
    CTextLayout m_gauge;
    int m_frameHeight = -1;
    LocalTimeSource m_localTime;
    PixelRect m_powerBox;

    std::string m_profileText;   // UTF-8, with "\r\n" line ends
    std::string m_scratch;       // the next profile text, built in place
    std::vector<uint32_t> m_charEnds;  // byte offset after each character
};

}  // namespace quell

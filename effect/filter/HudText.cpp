// Fonts, formats and placement of the overlay's texts.
#include "filter/HudText.h"

#include "faces/FaceData.h"

#include <glib.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <string_view>

namespace quell {

namespace {
// "Arial" resolves to its metric twin through fontconfig; the gauge font is
// a Japanese gothic.
constexpr const char* kLatinFamily = "Arial";
constexpr const char* kGothicFamily = "Noto Sans CJK JP,MS UI Gothic";
// A font height of 0 (frames too low for H / 24 and its siblings) asks for
// the default size; this many pixels stand in for it.
constexpr int kDefaultCellHeight = 16;

int CellHeight(int height)
{
    return height > 0 ? height : kDefaultCellHeight;
}

// Appends `text`, with any byte sequence that is not UTF-8 replaced, so
// that Pango is only ever given valid text.
void AppendUtf8(std::string& out, const std::string& text)
{
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) {
        out += text;
        return;
    }
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    out += valid;
    g_free(valid);
}

template <typename... Args>
std::string_view Format(char (&buffer)[192], const char* format, Args... args)
{
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return {buffer, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1))};
}
}  // namespace

LocalTime ReadLocalTime()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
            static_cast<int>(now.tv_nsec / 1000000)};
}

LocalTime StreamLocalTime(uint64_t streamNs)
{
    const time_t seconds = static_cast<time_t>(streamNs / 1000000000u);
    tm utc{};
    gmtime_r(&seconds, &utc);
    return {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
            static_cast<int>(streamNs / 1000000u % 1000u)};
}

CHudText::CHudText()
    : m_power(m_painter), m_score(m_painter), m_profile(m_painter), m_gauge(m_painter), m_localTime(&ReadLocalTime)
{
    m_gauge.SetText("0");
    m_profileText.reserve(256);
    m_scratch.reserve(256);
    m_charEnds.reserve(256);
}

CHudText::~CHudText() = default;

void CHudText::SetFrameHeight(int height)
{
    if (height == m_frameHeight)
        return;
    m_frameHeight = height;
    m_power.SetFont({kLatinFamily, CellHeight(height / 24), 700});
    m_profile.SetFont({kLatinFamily, CellHeight(height / 34), 700});
    m_score.SetFont({kLatinFamily, CellHeight(height / 28), 400});
    m_gauge.SetFont({kGothicFamily, CellHeight(height / 30), 700});
}

void CHudText::DrawPower(CFrameCanvas& canvas, uint64_t value, bool visible, int width, int height, int margin)
{
    char buffer[192];
    m_power.SetText(Format(buffer, "POWER %012" PRIu64, value));
    const PixelRect box = m_power.LogicalRect();
    const int x = width - box.width - margin;
    const int y = height - margin / 2 - box.height;
    m_powerBox = {x, y, box.width, box.height};
    if (visible)
        canvas.DrawText(m_power, x, y, kHudTextColour);
}

void CHudText::DrawScore(CFrameCanvas& canvas, uint64_t score, uint64_t highScore, int x, int y, const LocalTime* at)
{
    const LocalTime t = at ? *at : m_localTime();
    char buffer[192];
    m_score.SetText(Format(buffer, "SCORE %012" PRIu64 "  HIGH-SCORE %012" PRIu64 "    %04d.%02d.%02d %02d:%02d:%02d %03d",
                           score, highScore, t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond));
    canvas.DrawText(m_score, x, y, kHudTextColour);
}

void CHudText::BuildProfile(const CFaceData& face)
{
    char number[192];
    std::string& text = m_scratch;
    text.clear();
    text += "NAME : ";
    AppendUtf8(text, face.m_name);
    text += "\r\nAGE : ";
    text += Format(number, "%" PRId64, face.m_age);
    text += "\r\nFROM : ";
    AppendUtf8(text, face.m_origin);
    text += "\r\nHEIGHT : ";
    text += Format(number, "%d", face.m_height);
    text += "cm\r\nWEIGHT : ";
    text += Format(number, "%d", face.m_weight);
    text += "kg\r\n";
    if (text == m_profileText)
        return;
    m_profileText.swap(text);
    m_charEnds.clear();
    const char* const end = m_profileText.data() + m_profileText.size();
    for (const char* p = m_profileText.data(); p < end;) {
        p = std::min<const char*>(g_utf8_next_char(p), end);
        m_charEnds.push_back(static_cast<uint32_t>(p - m_profileText.data()));
    }
}

void CHudText::DrawProfile(CFrameCanvas& canvas, const CFaceData& face, uint32_t chars, const PixelRect& box)
{
    BuildProfile(face);
    const size_t shown = std::min<size_t>(chars, m_charEnds.size());
    if (shown == 0 || box.width <= 0 || box.height <= 0)
        return;
    // Whole characters only: the cut never falls inside a UTF-8 sequence.
    // "\r\n" is one paragraph break to Pango, and a lone "\r" at the cut an
    // empty one, so neither shows as a glyph.
    m_profile.SetWrapWidth(box.width);
    m_profile.SetText(std::string_view(m_profileText).substr(0, m_charEnds[shown - 1]));
    canvas.DrawText(m_profile, box.x, box.y, kHudTextColour, box);
}

int CHudText::GaugeFontHeight() const
{
    return m_gauge.LogicalRect().height;
}

}  // namespace quell

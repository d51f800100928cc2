// The overlay on pixels: panel mask, tint and shade, power text, score line,
// typed profile and gauge, on frames of the filter's frame step.
#include "filter/HudTestAccess.h"

#include "support/HudPicture.h"

#include <glib.h>
#include <pango/pango.h>

#include <cstring>

namespace quell {
namespace {

using test::HudFixture;
using test::PatternFrame;

constexpr int kW = 640;
constexpr int kH = 480;

bool IsWhite(const cv::Mat& mask, int x, int y)
{
    return mask.at<cv::Vec4b>(y, x)[0] == 255;
}

bool IsBlack(const cv::Mat& frame, int x, int y)
{
    const cv::Vec4b p = frame.at<cv::Vec4b>(y, x);
    return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

bool IsGauge(const cv::Mat& frame, int x, int y)
{
    const cv::Vec4b p = frame.at<cv::Vec4b>(y, x);
    return p[0] == kGaugeColour.b && p[1] == kGaugeColour.g && p[2] == kGaugeColour.r;
}

// Bounding box of the pixels inside `area` that are not black.
cv::Rect InkBox(const cv::Mat& frame, const cv::Rect& area)
{
    int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            if (!IsBlack(frame, x, y)) {
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    return x1 < 0 ? cv::Rect() : cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
}

// The first frame of a filter is black, so that everything in it that is not
// black was drawn by the overlay.
class HudTest : public HudFixture {
protected:
    cv::Mat OverlayOnBlack(CTransEffectFilter& filter, int w = kW, int h = kH)
    {
        return Step(filter, cv::Mat::zeros(h, w, CV_8UC4));
    }
};

TEST_F(HudTest, PanelMaskOutlineWindowAndRimAt640x480)
{
    auto filter = Make();
    OverlayOnBlack(*filter);
    const cv::Mat mask = HudTestAccess::Mask(*filter);
    EXPECT_EQ(HudTestAccess::GaugeBase(*filter), 439);

    // The outline: (0,390) (193,390) (228,448) (640,448) (640,480) (0,480).
    EXPECT_TRUE(IsWhite(mask, 0, 390));
    EXPECT_FALSE(IsWhite(mask, 0, 389));
    EXPECT_TRUE(IsWhite(mask, 193, 390));
    EXPECT_FALSE(IsWhite(mask, 194, 390)) << "the slanted edge leaves the top edge at x = 193";
    EXPECT_TRUE(IsWhite(mask, 228, 448));
    EXPECT_TRUE(IsWhite(mask, 639, 448));
    EXPECT_FALSE(IsWhite(mask, 639, 447));
    EXPECT_FALSE(IsWhite(mask, 400, 447));
    EXPECT_TRUE(IsWhite(mask, 639, 479));
    EXPECT_TRUE(IsWhite(mask, 0, 479));
    EXPECT_TRUE(IsWhite(mask, 150, 420)) << "inside the panel, left of the window's right edge is panel";
    EXPECT_FALSE(IsWhite(mask, 300, 420)) << "above the low right part of the panel";
    // The slanted edge, halfway: from (193,390) to (228,448).
    EXPECT_TRUE(IsWhite(mask, 205, 420));
    EXPECT_FALSE(IsWhite(mask, 215, 415));

    // The square window (10,400)-(80,470) stays black, its surroundings white.
    for (int y = 402; y <= 468; ++y)
        for (int x = 12; x <= 78; ++x)
            ASSERT_FALSE(IsWhite(mask, x, y)) << x << "," << y;
    EXPECT_TRUE(IsWhite(mask, 8, 435));
    EXPECT_TRUE(IsWhite(mask, 82, 435));
    EXPECT_TRUE(IsWhite(mask, 45, 398));
    EXPECT_TRUE(IsWhite(mask, 45, 472));

    // The rim, 6 pixels thick, along y = 381 up to x = 202, then slanting to
    // (237,439) and along y = 439 to the right edge; a black gap separates it
    // from the panel.
    for (int x = 0; x <= 200; x += 20) {
        EXPECT_TRUE(IsWhite(mask, x, 381)) << x;
        EXPECT_TRUE(IsWhite(mask, x, 379)) << x;
        EXPECT_TRUE(IsWhite(mask, x, 383)) << x;
        EXPECT_FALSE(IsWhite(mask, x, 376)) << x;
        EXPECT_FALSE(IsWhite(mask, x, 386)) << x;
        EXPECT_FALSE(IsWhite(mask, x, 388)) << x;
    }
    for (int x = 260; x < kW; x += 40) {
        EXPECT_TRUE(IsWhite(mask, x, 439)) << x;
        EXPECT_FALSE(IsWhite(mask, x, 434)) << x;
        EXPECT_FALSE(IsWhite(mask, x, 444)) << x;
    }
    EXPECT_TRUE(IsWhite(mask, 220, 410)) << "the slanted part of the rim";
    // White is (255,255,255) in the colour bytes and 0 in the fourth.
    EXPECT_EQ(mask.at<cv::Vec4b>(479, 0), cv::Vec4b(255, 255, 255, 0));
    EXPECT_EQ(mask.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 0, 0));
}

TEST_F(HudTest, TintOutsideAndShadeInsideThePanelForEveryGreyValue)
{
    auto filter = Make();
    // Every grey value 0..255 in every row; the grey conversion keeps equal
    // channels exactly.
    cv::Mat in(kH, kW, CV_8UC4);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const uint8_t v = static_cast<uint8_t>((x + y) % 256);
            in.at<cv::Vec4b>(y, x) = cv::Vec4b(v, v, v, 0);
        }
    Step(*filter, in);
    const cv::Mat out = Step(*filter, in);
    const cv::Mat mask = HudTestAccess::Mask(*filter);
    const cv::Rect free = test::OverlayFreeRect(kW, kH);
    // Away from the texts and the gauge, and in the whole panel left of the
    // profile box (the window and the panel below it).
    const cv::Rect panelLeft(0, 385, 89, kH - 385);
    int checked = 0;
    for (const cv::Rect& area : {free, panelLeft})
        for (int y = area.y; y < area.y + area.height; ++y)
            for (int x = area.x; x < area.x + area.width; ++x) {
                const int v = (x + y) % 256;
                const cv::Vec4b p = out.at<cv::Vec4b>(y, x);
                const cv::Vec4b want = IsWhite(mask, x, y) ? cv::Vec4b(0, uint8_t(2 * v / 5), 0, 255)
                                                           : cv::Vec4b(uint8_t(v >> 1), uint8_t(v), uint8_t(v >> 1), 255);
                ASSERT_EQ(p, want) << x << "," << y << " grey " << v;
                ++checked;
            }
    EXPECT_GT(checked, 150000);
}

TEST_F(HudTest, NoFaceShowsZeroPowerScoreLineAndGaugeAndNoProfile)
{
    auto filter = Make();
    const cv::Mat out = OverlayOnBlack(*filter);
    CHudText& hud = HudTestAccess::Hud(*filter);

    EXPECT_EQ(hud.PowerLayout().Text(), "POWER 000000000000");
    EXPECT_EQ(hud.ScoreLayout().Text(),
              "SCORE 000000000000  HIGH-SCORE 000000000000    2024.02.29 07:05:09 042");

    // Power text: its box ends at x = 630 and its bottom at y = 475 (a cell
    // of 480 / 24 = 20 pixels); its ink lies inside the box.
    const PixelRect box = hud.PowerBox();
    EXPECT_EQ(box.x + box.width, 630);
    EXPECT_EQ(box.y + box.height, 475);
    EXPECT_EQ(box.height, 20);
    const cv::Rect powerInk = InkBox(out, cv::Rect(330, 440, 299, 40));
    ASSERT_FALSE(powerInk.empty());
    EXPECT_LE(powerInk.x + powerInk.width, 630);
    EXPECT_GE(powerInk.x + powerInk.width, 626);
    EXPECT_LE(powerInk.y + powerInk.height, 475);
    EXPECT_GE(powerInk.y + powerInk.height, 468) << "capitals and digits stand on the baseline";
    EXPECT_GE(powerInk.x, box.x);
    EXPECT_EQ(InkBox(out, cv::Rect(630, 440, 10, 40)), cv::Rect()) << "nothing right of the power text";

    // Score line: its box's top-left at (10,10), a cell of 480 / 28 = 17.
    EXPECT_EQ(hud.ScoreLayout().LogicalRect().height, 17);
    const cv::Rect scoreInk = InkBox(out, cv::Rect(0, 0, 600, 40));
    ASSERT_FALSE(scoreInk.empty());
    EXPECT_GE(scoreInk.x, 10);
    EXPECT_LE(scoreInk.x, 12);
    EXPECT_GE(scoreInk.y, 10);
    EXPECT_LE(scoreInk.y, 14);
    EXPECT_LE(scoreInk.y + scoreInk.height, 27);
    EXPECT_GT(scoreInk.width, 400) << "the whole line, date and time included";

    // No profile: the profile box (90,400)-(320,480) stays black.
    EXPECT_EQ(InkBox(out, cv::Rect(90, 400, 230, 80)), cv::Rect());
    EXPECT_TRUE(hud.ProfileLayout().Text().empty()) << "no profile was ever laid out";
}

TEST_F(HudTest, GaugeLineAndTicksAt640x480)
{
    auto filter = Make();
    const cv::Mat out = OverlayOnBlack(*filter);
    const int fh = HudTestAccess::Hud(*filter).GaugeFontHeight();
    EXPECT_EQ(fh, 16) << "a cell of 480 / 30";
    const int bottom = 439 - 7 * 6 - fh;  // 381

    for (int y = 20; y <= bottom; ++y) {
        ASSERT_TRUE(IsGauge(out, 630, y)) << y;
        ASSERT_TRUE(IsBlack(out, 631, y)) << "one pixel wide, at " << y;
    }
    EXPECT_TRUE(IsBlack(out, 630, 19));
    EXPECT_TRUE(IsBlack(out, 630, bottom + 1)) << "the end point of the line is not drawn";

    const float step = static_cast<float>(bottom - 20) / 30.0f;
    int ticks = 0;
    for (int i = 0; i <= 30; ++i) {
        const int y = static_cast<int>(i * step + 20.0f);
        const int from = (i == 0 || i == 15 || i == 30) ? 610 : 620;
        for (int x = from; x <= 630; ++x)
            ASSERT_TRUE(IsGauge(out, x, y)) << "tick " << i << " at " << x;
        EXPECT_TRUE(IsBlack(out, from - 1, y)) << "tick " << i;
        ++ticks;
    }
    EXPECT_EQ(ticks, 31);
    // Between two ticks only the line itself.
    const int between = static_cast<int>(0.5f * step + 20.0f);
    EXPECT_TRUE(IsBlack(out, 625, between));
    // Nothing else of the gauge's colour left of x = 610.
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < 610; ++x)
            ASSERT_FALSE(IsGauge(out, x, y)) << x << "," << y;
}

TEST_F(HudTest, FontsScaleWithTheFrameHeight)
{
    auto filter = Make();
    OverlayOnBlack(*filter, 1920, 1080);
    CHudText& hud = HudTestAccess::Hud(*filter);
    EXPECT_EQ(hud.PowerLayout().LogicalRect().height, 1080 / 24);
    EXPECT_EQ(hud.ScoreLayout().LogicalRect().height, 1080 / 28);
    EXPECT_EQ(hud.GaugeFontHeight(), 1080 / 30);
    const PixelRect box = hud.PowerBox();
    EXPECT_EQ(box.x + box.width, 1920 - 32);
    EXPECT_EQ(box.y + box.height, 1080 - 16);
}

TEST_F(HudTest, WideGaugePenCoversItsWidth)
{
    auto filter = Make();
    const cv::Mat out = OverlayOnBlack(*filter, 1920, 1080);
    // t = 6: a pen 3 pixels wide centred on x = 1890, from y = 60 down to
    // 988 - 7 * 19 - 36 = 819, ticks every 25.3 rows.
    for (int i = 0; i < 30; ++i) {
        const int y = static_cast<int>(i * (759.0f / 30.0f) + 60.0f) + 12;  // between two ticks
        EXPECT_TRUE(IsGauge(out, 1889, y) && IsGauge(out, 1890, y) && IsGauge(out, 1891, y)) << y;
        EXPECT_TRUE(IsBlack(out, 1888, y)) << y;
        EXPECT_TRUE(IsBlack(out, 1892, y)) << y;
    }
    // A long tick from x = 1860, 3 rows thick.
    EXPECT_TRUE(IsGauge(out, 1862, 59) && IsGauge(out, 1862, 60) && IsGauge(out, 1862, 61));
    EXPECT_TRUE(IsBlack(out, 1862, 57) && IsBlack(out, 1862, 63));
}

TEST_F(HudTest, ProfileIsTypedOneCharacterPer100Ms)
{
    auto filter = MakePrimed();
    AddFace(*filter);
    CHudText& hud = HudTestAccess::Hud(*filter);

    m_clock.Advance(990);
    cv::Mat out = StepScene(*filter);
    EXPECT_EQ(HudTestAccess::TextClock(*filter), 0u) << "a face after a frame without faces starts the typewriter";
    EXPECT_EQ(InkBox(out, cv::Rect(90, 400, 230, 80)), cv::Rect()) << "no character yet";

    m_clock.Advance(1023);  // 31 steps: 1023 ms, 10 characters
    out = StepScene(*filter);
    EXPECT_EQ(hud.ProfileLayout().Text(), "NAME : Ada");
    const cv::Rect ink = InkBox(out, cv::Rect(90, 400, 230, 80));
    ASSERT_FALSE(ink.empty());
    EXPECT_GE(ink.x, 90);
    EXPECT_LE(ink.y, 404) << "the first line starts at the top of the box";

    m_clock.Advance(33 * 4);  // 1155 ms: 11 characters
    StepScene(*filter);
    EXPECT_EQ(hud.ProfileLayout().Text(), "NAME : Ada ");

    m_clock.Advance(20000);
    out = StepScene(*filter);
    EXPECT_EQ(hud.ProfileLayout().Text(), "NAME : Ada Lovelace\r\nAGE : 36\r\nFROM : London\r\nHEIGHT : 165cm\r\nWEIGHT : 52kg\r\n");
    EXPECT_EQ(hud.ProfileLength(), hud.ProfileText().size()) << "all ASCII";
    // Five lines and the empty one after the last line break; the line
    // breaks show no glyph.
    EXPECT_EQ(hud.ProfileLayout().LineCount(), 6);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(hud.ProfileLayout().Layout()), 0);
    const cv::Rect all = InkBox(out, cv::Rect(90, 400, 230, 80));
    EXPECT_GE(all.height, 5 * 14 - 14) << "five lines of a 14-pixel cell";
    EXPECT_LE(all.y + all.height, 480);
}

TEST_F(HudTest, TypewriterRestartsAfterAFrameWithoutFacesAndContinuesForAReplacement)
{
    auto filter = MakePrimed();
    AddFace(*filter);
    StepScene(*filter);
    m_clock.Advance(33 * 20);
    StepScene(*filter);
    EXPECT_EQ(HudTestAccess::TextClock(*filter), 660u);

    // One face replaces the other within a frame step: the text goes on.
    filter->Faces().WithFaces([](auto& faces) { faces.clear(); });
    CFaceData& second = AddFace(*filter);
    second.m_name = "Grace Hopper";
    m_clock.Advance(33 * 10);
    StepScene(*filter);
    EXPECT_EQ(HudTestAccess::TextClock(*filter), 990u);
    EXPECT_EQ(HudTestAccess::Hud(*filter).ProfileLayout().Text(), "NAME : Gr");

    // A frame without faces, then a face: typed from the beginning.
    filter->Faces().WithFaces([](auto& faces) { faces.clear(); });
    m_clock.Advance(33 * 10);
    StepScene(*filter);
    EXPECT_EQ(HudTestAccess::TextClock(*filter), 1320u) << "the clock runs on while no face is shown";
    AddFace(*filter);
    m_clock.Advance(33 * 10);
    StepScene(*filter);
    EXPECT_EQ(HudTestAccess::TextClock(*filter), 0u);
    m_clock.Advance(33 * 10);
    StepScene(*filter);
    EXPECT_EQ(HudTestAccess::Hud(*filter).ProfileLayout().Text(), "NAM");
}

TEST_F(HudTest, JapaneseProfileRendersWholeCharacters)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_name = "山田 太郎";  // 5 characters, 13 bytes
    face.m_origin = "北海道";   // 3 characters, 9 bytes
    StepScene(*filter);
    CHudText& hud = HudTestAccess::Hud(*filter);

    // "NAME : " is 7 characters; 9 characters end inside the name's third
    // character's bytes if counted as bytes.
    m_clock.Advance(33 * 28);  // 924 ms: 9 characters
    StepScene(*filter);
    EXPECT_EQ(hud.ProfileLayout().Text(), "NAME : 山田");
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(hud.ProfileLayout().Layout()), 0) << "a Japanese font is used";

    m_clock.Advance(20000);
    const cv::Mat out = StepScene(*filter);
    EXPECT_EQ(hud.ProfileLength(), hud.ProfileText().size() - 2 * 4 - 2 * 3);
    EXPECT_NE(hud.ProfileLayout().Text().find("FROM : 北海道\r\n"), std::string::npos);
    EXPECT_EQ(pango_layout_get_unknown_glyphs_count(hud.ProfileLayout().Layout()), 0);
    EXPECT_FALSE(InkBox(out, cv::Rect(90, 400, 230, 80)).empty());
}

TEST_F(HudTest, LongProfileWrapsInsideItsBoxAndIsClipped)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_name = "Bartholomew Maximilian Fitzgerald-Worthington the Third of Northumberland";
    face.m_origin = "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch";  // one word wider than the box
    face.m_age = -9223372036854775807LL - 1;
    StepScene(*filter);
    m_clock.Advance(100000);
    const cv::Mat out = StepScene(*filter);
    CHudText& hud = HudTestAccess::Hud(*filter);
    EXPECT_NE(hud.ProfileLayout().Text().find("AGE : -9223372036854775808\r\n"), std::string::npos);

    EXPECT_GT(hud.ProfileLayout().LineCount(), 8) << "long lines wrap";
    EXPECT_LE(hud.ProfileLayout().LogicalRect().width, 230) << "every line fits the box";
    // Nothing of the profile outside its box: between the box and the power
    // text, and the window left of it, stay black.
    const cv::Mat mask = HudTestAccess::Mask(*filter);
    const PixelRect power = hud.PowerBox();
    for (int y = 449; y < kH; ++y)
        for (int x = 320; x < power.x; ++x)
            ASSERT_TRUE(IsBlack(out, x, y)) << x << "," << y;
    for (int y = 390; y < kH; ++y)
        for (int x = 0; x < 90; ++x)
            ASSERT_TRUE(IsBlack(out, x, y)) << x << "," << y;
    EXPECT_FALSE(InkBox(out, cv::Rect(300, 400, 20, 80)).empty()) << "the text reaches the box's right part";
    (void)mask;
}

TEST_F(HudTest, PaddedRowsGetTheSamePictureAndPaddingIsKept)
{
    auto packedFilter = MakePrimed();
    AddFace(*packedFilter);
    cv::Mat packed;
    for (int i = 0; i < 3; ++i) {
        m_clock.Advance(400);
        packed = StepScene(*packedFilter);
    }

    m_clock.Set(1000);
    m_frameCount = 0;
    auto paddedFilter = MakePrimed();
    AddFace(*paddedFilter);
    const size_t stride = kW * 4 + 64;
    std::vector<uint8_t> buffer(stride * kH);
    for (int i = 0; i < 3; ++i) {
        m_clock.Advance(400);
        const cv::Mat frame = NextFrame();
        std::fill(buffer.begin(), buffer.end(), 0xCD);
        for (int y = 0; y < kH; ++y)
            std::memcpy(&buffer[y * stride], frame.ptr(y), kW * 4);
        paddedFilter->Transform(buffer.data(), kW, kH, stride);
    }
    const cv::Mat padded(kH, kW, CV_8UC4, buffer.data(), stride);
    EXPECT_FALSE(HudTestAccess::Hud(*paddedFilter).ProfileLayout().Text().empty()) << "the face is shown";
    EXPECT_EQ(test::MaxColourDiff(padded, packed), 0);
    for (int y = 0; y < kH; ++y)
        for (size_t i = kW * 4; i < stride; ++i)
            ASSERT_EQ(buffer[y * stride + i], 0xCD) << "padding of row " << y;
}

TEST_F(HudTest, LayoutsAreLaidOutOnlyWhenTheirTextChanges)
{
    auto filter = MakePrimed();
    AddFace(*filter);
    m_clock.Advance(33 * 40);
    StepScene(*filter);
    m_clock.Advance(33 * 40);
    StepScene(*filter);
    CHudText& hud = HudTestAccess::Hud(*filter);
    const uint64_t power = hud.PowerLayout().Changes();
    const uint64_t score = hud.ScoreLayout().Changes();
    const uint64_t profile = hud.ProfileLayout().Changes();
    for (int i = 0; i < 10; ++i)
        StepScene(*filter);  // same time, same texts
    EXPECT_EQ(hud.PowerLayout().Changes(), power);
    EXPECT_EQ(hud.ScoreLayout().Changes(), score);
    EXPECT_EQ(hud.ProfileLayout().Changes(), profile);
    m_clock.Advance(100);
    StepScene(*filter);
    EXPECT_EQ(hud.ProfileLayout().Changes(), profile + 1) << "one more character";
}

TEST_F(HudTest, SmallAndOddFramesGetAnOverlayWithoutFailing)
{
    auto filter = Make();
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 3), cv::Size(7, 5), cv::Size(99, 23), cv::Size(160, 120),
                                cv::Size(641, 479), cv::Size(3000, 40)}) {
        AddFace(*filter);
        m_clock.Advance(5000);
        const cv::Mat in = PatternFrame(size.width, size.height, 2);
        Step(*filter, in);
        const cv::Mat out = Step(*filter, in);
        ASSERT_EQ(out.size(), size);
        filter->Faces().WithFaces([](auto& faces) { faces.clear(); });
    }
    // 160 x 120: P = 15, u = 1 (a rim one pixel thick), pen 1.
    const cv::Mat out = OverlayOnBlack(*filter, 160, 120);
    const cv::Mat mask = HudTestAccess::Mask(*filter);
    EXPECT_TRUE(IsWhite(mask, 0, 119));
    EXPECT_EQ(HudTestAccess::GaugeBase(*filter), 110) << "trunc(112 - 1.5)";
    EXPECT_TRUE(IsGauge(out, 157, 10));
}

TEST_F(HudTest, ProfileFieldsThatAreNotUtf8AreShownWithReplacementCharacters)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_name = std::string("Ab\xff\xfe") + "\xe5\xb1";  // stray bytes and a cut-off character
    StepScene(*filter);
    m_clock.Advance(20000);
    StepScene(*filter);
    const std::string& text = HudTestAccess::Hud(*filter).ProfileLayout().Text();
    EXPECT_TRUE(g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr));
    EXPECT_EQ(text.rfind("NAME : Ab", 0), 0u);
    EXPECT_NE(text.find("\r\nAGE : 36\r\n"), std::string::npos) << "the rest of the profile follows";
}

TEST_F(HudTest, RowsCairoCannotWrapGetNoTextButTheMeasurementGoesOn)
{
    auto filter = MakePrimed();
    AddFace(*filter);
    // A row stride that is not a multiple of 4 bytes.
    const size_t stride = kW * 4 + 2;
    std::vector<uint8_t> buffer(stride * kH + 2);
    const cv::Mat frame = NextFrame();
    for (int y = 0; y < kH; ++y)
        std::memcpy(&buffer[y * stride], frame.ptr(y), kW * 4);
    filter->Transform(buffer.data(), kW, kH, stride);
    EXPECT_EQ(SoundNames(), std::vector<std::string>{"count.wav loop"});
    const cv::Mat out(kH, kW, CV_8UC4, buffer.data(), stride);
    EXPECT_FALSE(IsGauge(out, 630, 100)) << "no gauge without a canvas";
    EXPECT_EQ(out.at<cv::Vec4b>(479, 639), cv::Vec4b(0, 0, 0, 255)) << "the panel is still shaded";
}

}  // namespace
}  // namespace quell

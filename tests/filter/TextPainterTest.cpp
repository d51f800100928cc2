// The canvas's text and pen drawing against Cairo's own, pixel for pixel:
// glyph runs composited from cached glyph images, digits swapped into a laid
// out line, and pen lines stamped from cached shapes.
#include "filter/HudText.h"
#include "platform/TextPainter.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <pango/pangocairo.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quell {
namespace {

// A frame of random pixels with padded rows; the fourth byte is 255, or 0
// where `zeroFourth` says, as under the marker's drawing.
cv::Mat RandomFrame(int width, int height, uint32_t seed, bool zeroFourth = false)
{
    cv::Mat storage(height, width + 3, CV_8UC4);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width + 3; ++x) {
            const uint32_t v = rng();
            cv::Vec4b& p = storage.at<cv::Vec4b>(y, x);
            p = cv::Vec4b(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF, zeroFourth && (v >> 24) % 2 ? 0 : 255);
        }
    return storage(cv::Rect(0, 0, width, height));
}

// What Cairo itself draws for the layout, on a copy of `frame`.
cv::Mat CairoText(const cv::Mat& frame, const CTextLayout& layout, int x, int y, Rgb colour,
                  const PixelRect* clip = nullptr)
{
    cv::Mat out = frame.clone();
    cairo_surface_t* surface = cairo_image_surface_create_for_data(out.data, CAIRO_FORMAT_RGB24, out.cols, out.rows,
                                                                   static_cast<int>(out.step));
    cairo_t* cr = cairo_create(surface);
    if (clip) {
        cairo_rectangle(cr, clip->x, clip->y, clip->width, clip->height);
        cairo_clip(cr);
    }
    cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.Layout());
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return out;
}

cv::Mat CanvasText(const cv::Mat& frame, const CTextLayout& layout, int x, int y, Rgb colour,
                   const PixelRect* clip = nullptr)
{
    cv::Mat out = frame.clone();
    CFrameCanvas canvas(out.data, out.cols, out.rows, out.step);
    if (clip)
        canvas.DrawText(layout, x, y, colour, *clip);
    else
        canvas.DrawText(layout, x, y, colour);
    return out;
}

// Number of bytes that differ, all four of each pixel.
int Differences(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat diff;
    cv::compare(a, b, diff, cv::CMP_NE);
    return cv::countNonZero(diff.reshape(1));
}

// Where two frames first differ, for failure messages.
std::string FirstDifference(const cv::Mat& a, const cv::Mat& b)
{
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.cols; ++x)
            if (a.at<cv::Vec4b>(y, x) != b.at<cv::Vec4b>(y, x)) {
                std::ostringstream out;
                out << "first difference at (" << x << "," << y << "): " << a.at<cv::Vec4b>(y, x) << " vs "
                    << b.at<cv::Vec4b>(y, x);
                return out.str();
            }
    return "no difference";
}

struct TextCase {
    const char* family;
    int cell;
    int weight;
    const char* text;
    int wrap;
};

// The overlay's fonts and texts at the cell heights of 480 to 2160 rows.
const TextCase kTexts[] = {
    {"Arial", 17, 400, "SCORE 000000000000  HIGH-SCORE 000000000000    2024.02.29 07:05:09 042", 0},
    {"Arial", 38, 400, "SCORE 000000004711  HIGH-SCORE 000011111111    2031.12.31 23:59:59 999", 0},
    {"Arial", 20, 700, "POWER 000000123456", 0},
    {"Arial", 90, 700, "POWER 000001111111", 0},
    {"Arial", 14, 700, "NAME : Ada Lovelace\r\nAGE : 36\r\nFROM : London\r\nHEIGHT : 165cm\r\nWEIGHT : 52kg\r\n", 230},
    {"Arial", 31, 700, "NAME : Bartholomew Maximilian Fitzgerald-Worthington\r\nFROM : AVAWAV Tyo", 500},
    {"Noto Sans CJK JP,MS UI Gothic", 16, 700, "0", 0},
    {"Arial", 14, 700, "NAME : 山田 太郎\r\nFROM : 北海道\r\n", 230},
};

TEST(TextPainterTest, CompositedTextIsCairosTextPixelForPixel)
{
    CTextPainter painter;
    const Rgb colour = kHudTextColour;
    int drawn = 0;
    for (const TextCase& c : kTexts) {
        CTextLayout layout(painter);
        layout.SetFont({c.family, c.cell, c.weight});
        layout.SetWrapWidth(c.wrap);
        layout.SetText(c.text);
        ASSERT_TRUE(layout.Composited()) << c.text;
        // Inside the frame, across its left, top and right edges, and on a
        // background whose fourth byte is partly 0.
        const cv::Point places[] = {{10, 10}, {-7, 3}, {3, -9}, {380, 40}, {0, 0}};
        int visible = 0;
        for (const cv::Point at : places) {
            for (const bool zeroFourth : {false, true}) {
                const cv::Mat frame = RandomFrame(640, 160, static_cast<uint32_t>(drawn), zeroFourth);
                const cv::Mat want = CairoText(frame, layout, at.x, at.y, colour);
                const cv::Mat got = CanvasText(frame, layout, at.x, at.y, colour);
                visible += Differences(want, frame) > 0;
                ASSERT_EQ(Differences(got, want), 0) << c.text << " at " << at << ", " << FirstDifference(got, want);
                ++drawn;
            }
        }
        EXPECT_GE(visible, 8) << c.text << ": the text shows in most places";
    }
    EXPECT_GT(painter.GlyphsRendered(), 60u);
}

TEST(TextPainterTest, ClippedTextIsCairosToo)
{
    CTextPainter painter;
    const char* texts[] = {
        "NAME : Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch\r\nAGE : -9223372036854775808\r\n",
        "NAME : 山田 太郎\r\nFROM : 北海道 ﾊﾝｶｸ\r\n"};
    const PixelRect clips[] = {
        {90, 20, 230, 30}, {0, 25, 640, 9}, {100, 0, 40, 160}, {95, 18, 1, 1}, {90, 24, 230, 80}};
    for (const char* text : texts)
        for (const int cell : {14, 17, 36}) {
            CTextLayout layout(painter);
            layout.SetFont({"Arial", cell, 700});
            layout.SetWrapWidth(230);
            layout.SetText(text);
            for (const PixelRect& clip : clips) {
                const cv::Mat frame = RandomFrame(640, 160, 5);
                const cv::Mat want = CairoText(frame, layout, 90, 20, kHudTextColour, &clip);
                const cv::Mat got = CanvasText(frame, layout, 90, 20, kHudTextColour, &clip);
                EXPECT_EQ(Differences(got, want), 0) << text << " cell " << cell << " clip " << clip.x << "," << clip.y
                                                     << " " << clip.width << "x" << clip.height << ", "
                                                     << FirstDifference(got, want);
            }
        }
}

TEST(TextPainterTest, DigitSwapsDrawAndMeasureLikeAFreshLayout)
{
    CTextPainter painter;
    struct Family {
        int cell;
        int weight;
        std::vector<std::string> texts;
    };
    // "11" is kerned in the overlay's font: the swapped line must move its
    // glyphs as a new layout would, and change its width with them.
    const std::vector<std::string> power = {"POWER 000000000000", "POWER 000000000001", "POWER 000000000011",
                                            "POWER 111111111111", "POWER 710000000017", "POWER 999999999999",
                                            "POWER 000000000000"};
    const std::vector<std::string> score = {
        "SCORE 000000000000  HIGH-SCORE 000000000000    2024.02.29 07:05:09 042",
        "SCORE 000000000000  HIGH-SCORE 000000000000    2024.02.29 07:05:09 043",
        "SCORE 000000000111  HIGH-SCORE 000000001111    2031.11.11 11:11:11 111",
        "SCORE 747474747474  HIGH-SCORE 999999999999    1999.12.31 23:59:59 999"};
    const Family families[] = {
        {20, 700, power}, {45, 700, power}, {90, 700, power}, {17, 400, score}, {38, 400, score}};
    for (const Family& family : families) {
        CTextLayout swapped(painter);
        swapped.SetFont({"Arial", family.cell, family.weight});
        for (const std::string& text : family.texts) {
            swapped.SetText(text);
            CTextLayout fresh(painter);
            fresh.SetFont({"Arial", family.cell, family.weight});
            fresh.SetText(text);
            const cv::Mat frame = RandomFrame(1700, 120, family.cell);
            const cv::Mat got = CanvasText(frame, swapped, 7, 5, kHudTextColour);
            const cv::Mat want = CairoText(frame, fresh, 7, 5, kHudTextColour);
            ASSERT_EQ(Differences(got, want), 0)
                << text << " at cell " << family.cell << ", " << FirstDifference(got, want);
            const PixelRect a = swapped.LogicalRect();
            const PixelRect b = fresh.LogicalRect();
            EXPECT_EQ(a.width, b.width) << text;
            EXPECT_EQ(a.height, b.height) << text;
            EXPECT_EQ(swapped.Text(), text);
            EXPECT_EQ(pango_layout_get_text(swapped.Layout()), text) << "the Pango layout follows on demand";
        }
        EXPECT_EQ(swapped.DigitSwaps(), family.texts.size() - 1) << "laid out once, then digits only";
    }
}

TEST(TextPainterTest, OtherChangesAreLaidOutAgain)
{
    CTextPainter painter;
    CTextLayout layout(painter);
    layout.SetFont({"Arial", 20, 700});
    layout.SetText("POWER 000000000000");
    layout.SetText("POWER 0000000000000");  // one digit more
    layout.SetText("POWER 0000000000O00");  // a letter for a digit
    layout.SetText("POWER 0000000000000");
    EXPECT_EQ(layout.DigitSwaps(), 0u);
    EXPECT_EQ(layout.Changes(), 5u) << "the font and four texts";

    // Wrapped text is never swapped: a digit could move a line break.
    CTextLayout wrapped(painter);
    wrapped.SetFont({"Arial", 14, 700});
    wrapped.SetWrapWidth(100);
    wrapped.SetText("AGE : 36");
    wrapped.SetText("AGE : 37");
    EXPECT_EQ(wrapped.DigitSwaps(), 0u);
}

TEST(TextPainterTest, GlyphsWithoutAFontAreLeftToCairo)
{
    CTextPainter painter;
    CTextLayout layout(painter);
    layout.SetFont({"Arial", 20, 700});
    layout.SetText("A\xF3\xBF\xBF\xBD Z");  // a private-use character no font has
    EXPECT_FALSE(layout.Composited());
    const cv::Mat frame = RandomFrame(200, 40, 3);
    const cv::Mat want = CairoText(frame, layout, 4, 4, kHudTextColour);
    EXPECT_EQ(Differences(CanvasText(frame, layout, 4, 4, kHudTextColour), want), 0);
}

cv::Mat CairoPen(const cv::Mat& frame, cv::Point from, cv::Point to, int width, Rgb colour)
{
    cv::Mat out = frame.clone();
    cairo_surface_t* surface = cairo_image_surface_create_for_data(out.data, CAIRO_FORMAT_RGB24, out.cols, out.rows,
                                                                   static_cast<int>(out.step));
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
    if (width == 1 && (from.x == to.x || from.y == to.y)) {
        const int x0 = std::min(from.x, to.x + (to.x < from.x ? 1 : 0));
        const int y0 = std::min(from.y, to.y + (to.y < from.y ? 1 : 0));
        const int w = from.x == to.x ? 1 : std::abs(to.x - from.x);
        const int h = from.y == to.y ? 1 : std::abs(to.y - from.y);
        if (from != to) {
            cairo_rectangle(cr, x0, y0, w, h);
            cairo_fill(cr);
        }
    } else {
        const double centre = width % 2 ? 0.5 : 0.0;
        cairo_set_line_width(cr, width);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        cairo_move_to(cr, from.x + centre, from.y + centre);
        cairo_line_to(cr, to.x + centre, to.y + centre);
        cairo_stroke(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    return out;
}

TEST(TextPainterTest, PenLinesAreCairosStrokes)
{
    CTextPainter painter;
    std::mt19937 rng(11);
    int lines = 0;
    for (int width = 1; width <= 7; ++width) {
        for (int k = 0; k < 40; ++k) {
            // Gauge-like lines and ticks, a few slanted, some across an edge.
            const cv::Point from(static_cast<int>(rng() % 140) - 10, static_cast<int>(rng() % 110) - 10);
            const int length = static_cast<int>(rng() % 60) - 30;
            const int kind = k % 4;
            const cv::Point to = kind == 0 ? cv::Point(from.x + length, from.y)
                                 : kind == 1 ? cv::Point(from.x, from.y + length)
                                 : kind == 2 ? from
                                             : cv::Point(from.x + length, from.y + length / 3);
            const cv::Mat frame = RandomFrame(120, 90, static_cast<uint32_t>(lines), k % 2 == 0);
            const cv::Mat want = CairoPen(frame, from, to, width, kGaugeColour);
            for (const bool withPainter : {true, false}) {
                cv::Mat got = frame.clone();
                {
                    std::unique_ptr<CFrameCanvas> canvas =
                        withPainter ? std::make_unique<CFrameCanvas>(painter, got.data, got.cols, got.rows, got.step)
                                    : std::make_unique<CFrameCanvas>(got.data, got.cols, got.rows, got.step);
                    canvas->PenLine(from.x, from.y, to.x, to.y, width, kGaugeColour);
                }
                ASSERT_EQ(Differences(got, want), 0)
                    << "width " << width << " from " << from << " to " << to << (withPainter ? "" : " by Cairo");
            }
            ++lines;
        }
    }
    EXPECT_GT(painter.PenShapesTraced(), 100u);
}

TEST(TextPainterTest, FramesCairoCannotWrapGetNothing)
{
    CTextPainter painter;
    CTextLayout layout(painter);
    layout.SetFont({"Arial", 20, 700});
    layout.SetText("POWER 1");
    std::vector<uint8_t> buffer(64 * 4 * 16 + 8, 7);
    struct Case {
        uint8_t* pixels;
        int width;
        size_t stride;
    };
    const Case cases[] = {{buffer.data() + 1, 64, 256}, {buffer.data(), 64, 258}, {buffer.data(), 64, 252},
                          {nullptr, 64, 256}, {buffer.data(), 0, 256}};
    for (const Case& c : cases) {
        CFrameCanvas canvas(painter, c.pixels, c.width, 15, c.stride);
        EXPECT_FALSE(canvas.Ok());
        canvas.DrawText(layout, 0, 0, kHudTextColour);
        canvas.PenLine(0, 5, 60, 5, 3, kGaugeColour);
    }
    for (const uint8_t v : buffer)
        ASSERT_EQ(v, 7);
}

}  // namespace
}  // namespace quell

// Text and pen lines drawn in place into BGRx frames: fonts sized by their
// cell height and laid out by Pango, glyph images and pen shapes rendered once
// by Cairo, and a canvas that composites them over the frame's own pixels the
// way Cairo's image backend does, without allocating memory per frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;
typedef struct _cairo_scaled_font cairo_scaled_font_t;
typedef struct _PangoContext PangoContext;
typedef struct _PangoFontMap PangoFontMap;
typedef struct _PangoFontDescription PangoFontDescription;
typedef struct _PangoLayout PangoLayout;

namespace quell {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
};

// A font chosen the way the effect names it: family, cell height in pixels
// (ascent plus descent, the height one line of text occupies) and weight
// (400 normal, 700 bold).
struct FontSpec {
    std::string family;
    int cellHeight = 0;
    int weight = 400;
    bool operator==(const FontSpec&) const = default;
};

// The coverage image of one glyph as Cairo renders it (antialiased, 8 bits),
// placed relative to the glyph's origin pixel, and the glyph's ink box from
// its metrics in 24.8 fixed point relative to its origin.
struct GlyphImage {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    size_t offset = 0;  // first byte in the painter's image store
    int32_t box[4] = {0, 0, 0, 0};  // x1, y1, x2, y2
};

// The pixels a pen line covers, as row spans relative to its start point.
struct PenSpan {
    int dy;
    int x0;
    int x1;  // exclusive
};

// One font map and one context: each effect instance owns its own, so that
// no Pango object is shared between streaming threads. The painter also
// keeps what drawing reuses from frame to frame: glyph images, pen shapes
// and a scratch mask.
class CTextPainter {
public:
    CTextPainter();
    ~CTextPainter();
    CTextPainter(const CTextPainter&) = delete;
    CTextPainter& operator=(const CTextPainter&) = delete;

    PangoContext* Context() const { return m_context; }
    // A font description whose lines are `spec.cellHeight` pixels high.
    // The caller owns it (pango_font_description_free).
    PangoFontDescription* MakeFont(const FontSpec& spec);

    // The image of `glyph` in `font`, rendered on first use; null when Cairo
    // cannot render it.
    const GlyphImage* Glyph(cairo_scaled_font_t* font, uint32_t glyph);
    const uint8_t* GlyphPixels(const GlyphImage& image) const { return m_glyphPixels.data() + image.offset; }
    // The spans of a pen line from (0, 0) to (dx, dy), `width` pixels wide,
    // traced by Cairo on first use.
    const std::vector<PenSpan>& PenShape(int dx, int dy, int width);
    // A zeroed scratch mask of at least `bytes` bytes.
    uint8_t* ScratchMask(size_t bytes);

    // Number of glyph images and pen shapes rendered so far; for tests.
    size_t GlyphsRendered() const { return m_glyphs.size(); }
    size_t PenShapesTraced() const { return m_pens.size(); }

private:
    // Cell height of the family at an em size of 1 pixel.
    double CellPerEm(const FontSpec& spec);
    bool RenderGlyph(cairo_scaled_font_t* font, uint32_t glyph, GlyphImage& image);

    struct PairHash {
        size_t operator()(const std::pair<const void*, uint64_t>& key) const
        {
            return std::hash<const void*>()(key.first) ^ (std::hash<uint64_t>()(key.second) * 0x9E3779B97F4A7C15ull);
        }
    };

    PangoFontMap* m_fontMap = nullptr;
    PangoContext* m_context = nullptr;
    std::string m_ratioFamily;  // cache of CellPerEm for one family and weight
    int m_ratioWeight = -1;
    double m_ratio = 0.0;

    // Glyph images by (font, glyph); the fonts are referenced while cached,
    // so that their addresses stay theirs.
    std::unordered_map<std::pair<const void*, uint64_t>, GlyphImage, PairHash> m_glyphs;
    std::vector<uint8_t> m_glyphPixels;
    std::vector<cairo_scaled_font_t*> m_fonts;
    // Pen shapes by (dx, dy, width).
    std::unordered_map<std::pair<const void*, uint64_t>, std::vector<PenSpan>, PairHash> m_pens;
    std::vector<uint8_t> m_scratch;
};

// A Pango layout that keeps its text, font and wrap width, and lays the text
// out again only when one of them changes. After each layout it keeps the
// glyphs as the canvas draws them: their fonts, glyph numbers and pixel
// positions, grouped in Pango's runs.
//
// A single-line text that differs from the one laid out in digits only is
// not laid out again when its font gives each character near a digit one
// glyph whose advance and offset depend on its two neighbours alone (kerning
// included): the digits' glyphs are swapped in place and the glyphs near
// them moved as a probe layout of every such triple of characters placed
// them. That draws the very pixels a new layout would.
class CTextLayout {
public:
    explicit CTextLayout(CTextPainter& painter);
    ~CTextLayout();
    CTextLayout(const CTextLayout&) = delete;
    CTextLayout& operator=(const CTextLayout&) = delete;

    void SetFont(const FontSpec& spec);
    // Wraps at word boundaries within `width` pixels, breaking a word only
    // when it alone is wider; 0 or less: one line per paragraph.
    void SetWrapWidth(int width);
    void SetText(std::string_view utf8);
    const std::string& Text() const { return m_text; }

    // Extents in pixels relative to the layout's top-left corner: the logical
    // box (advance widths, line heights) and the inked pixels.
    PixelRect LogicalRect() const;
    PixelRect InkRect() const;
    int LineCount() const;

    // The Pango layout, holding Text().
    PangoLayout* Layout() const;
    CTextPainter& Painter() const { return m_painter; }
    // Times the layout was given new text, font or width; for tests.
    uint64_t Changes() const { return m_changes; }
    // Times the text was changed by swapping digit glyphs; for tests.
    uint64_t DigitSwaps() const { return m_digitSwaps; }

    // One glyph as drawn: its image and the pixel its origin falls on,
    // relative to the layout's top-left corner (whole-pixel origins: Cairo
    // rounds them so on image surfaces).
    struct PlacedGlyph {
        uint32_t glyph;
        const GlyphImage* image;
        int x;
        int y;
        uint32_t run;
        int32_t advance;  // Pango units, kerning included
        int32_t offset;   // x offset in Pango units
    };
    // One Pango run: its glyphs share a font and are composited together,
    // one by one, or, when their ink boxes overlap, through one mask limited
    // to the union of those boxes (as Cairo does).
    struct GlyphRun {
        cairo_scaled_font_t* font;
        size_t first;
        size_t count;
        bool overlap;
        PixelRect box;
    };
    // False when the text holds glyphs the canvas leaves to Cairo (missing
    // glyphs drawn as boxes, colour glyphs). Lays the text out if needed.
    bool Composited() const;
    const std::vector<GlyphRun>& Runs() const
    {
        Extract();
        return m_runs;
    }
    const std::vector<PlacedGlyph>& Glyphs() const
    {
        Extract();
        return m_glyphs;
    }

private:
    // Brings the glyph lists up to date with the Pango layout.
    void Extract() const;
    // Cairo's overlap test and ink box of one run, from its placed glyphs.
    void MeasureRun(GlyphRun& run) const;
    // Gives the Pango layout the text that digit swaps put in m_text.
    void SyncPango() const;
    // Decides whether the digits of the laid-out text can be swapped.
    void CheckDigits() const;
    bool SwapDigits(std::string_view utf8);
    struct Placement;
    // The placement the probe gave character i of `text` when it stands next
    // to a digit; null for other characters.
    const Placement* ContextOf(std::string_view text, size_t i) const;

    CTextPainter& m_painter;
    PangoLayout* m_layout = nullptr;
    std::string m_text;
    FontSpec m_font;
    int m_wrapWidth = 0;
    uint64_t m_changes = 0;
    uint64_t m_digitSwaps = 0;

    // What the layout was last extracted into; rebuilt lazily after a layout.
    mutable bool m_stale = true;          // the glyph lists lag the Pango layout
    mutable bool m_pangoBehind = false;   // the Pango layout lags m_text (digit swaps)
    mutable bool m_composited = false;
    mutable PixelRect m_logical;
    mutable int m_lineCount = 0;
    mutable std::vector<GlyphRun> m_runs;
    mutable std::vector<PlacedGlyph> m_glyphs;
    // Digit swapping: the glyph index of each byte of the text (-1: none),
    // and the glyph of each digit, when the laid-out text allows it.
    mutable bool m_digitsSwappable = false;
    mutable std::vector<int> m_glyphOfByte;
    mutable std::array<uint32_t, 10> m_digitGlyph{};
    // The advance and x offset (Pango units) of a character between two
    // others, for the characters up to two places from a digit and "none"
    // beyond the line's ends: m_context[(prev * n + cur) * n + next] with
    // n = m_symbols and indices from m_symbol (-1: not in the table).
    struct Placement {
        int32_t advance = -1;
        int32_t offset = 0;
    };
    mutable std::array<int8_t, 128> m_symbol{};
    mutable int m_symbols = 0;
    mutable std::vector<Placement> m_context;
    mutable int64_t m_lineStart = 0;  // the line's start in Pango units
};

// The pixels of one BGRx frame as Cairo would see them (CAIRO_FORMAT_RGB24
// has the same byte order), for the length of one frame step. Nothing is
// copied: drawing writes straight into the frame, never into the row
// padding. Text and pen lines are composited from the painter's glyph images
// and pen shapes with Cairo's arithmetic; Cairo itself only draws what those
// cannot show.
class CFrameCanvas {
public:
    CFrameCanvas(uint8_t* pixels, int width, int height, size_t stride);
    // The same, with the painter whose pen shapes the canvas reuses. A canvas
    // without one takes the painter of the first layout it draws.
    CFrameCanvas(CTextPainter& painter, uint8_t* pixels, int width, int height, size_t stride);
    ~CFrameCanvas();
    CFrameCanvas(const CFrameCanvas&) = delete;
    CFrameCanvas& operator=(const CFrameCanvas&) = delete;

    // False when Cairo could not wrap the frame (a row stride or pixel
    // address that is not a multiple of 4, or a frame beyond Cairo's size
    // limit); drawing then does nothing.
    bool Ok() const { return m_ok; }

    // Draws `layout` with its logical top-left corner at (x, y), antialiased,
    // on a transparent background; with a clip rectangle, only inside it.
    void DrawText(const CTextLayout& layout, int x, int y, Rgb colour);
    void DrawText(const CTextLayout& layout, int x, int y, Rgb colour, const PixelRect& clip);

    // A horizontal or vertical pen line from `from` towards `to`. A pen one
    // pixel wide covers the pixels from `from` up to, not including, `to`
    // (the classic "line to" rule); a wider pen is a solid band of that width
    // centred on the line with round ends. Not antialiased.
    void PenLine(int fromX, int fromY, int toX, int toY, int width, Rgb colour);

private:
    // A Cairo context over the frame, made on first use.
    cairo_t* Cairo();
    void CompositeText(const CTextLayout& layout, int x, int y, Rgb colour, const PixelRect& clip);

    uint8_t* m_pixels = nullptr;
    int m_width = 0;
    int m_height = 0;
    size_t m_stride = 0;
    bool m_ok = false;
    CTextPainter* m_painter = nullptr;
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cr = nullptr;
};

}  // namespace quell

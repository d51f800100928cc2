// Text and pen lines drawn in place into BGRx frames with Cairo and Pango:
// fonts sized by their cell height, cached layouts and a canvas over the
// frame's own pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;
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

// One font map and one context: each effect instance owns its own, so that
// no Pango object is shared between streaming threads.
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

private:
    // Cell height of the family at an em size of 1 pixel.
    double CellPerEm(const FontSpec& spec);

    PangoFontMap* m_fontMap = nullptr;
    PangoContext* m_context = nullptr;
    std::string m_ratioFamily;  // cache of CellPerEm for one family and weight
    int m_ratioWeight = -1;
    double m_ratio = 0.0;
};

// A Pango layout that keeps its text, font and wrap width, and lays the text
// out again only when one of them changes.
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

    PangoLayout* Layout() const { return m_layout; }
    // Times the layout was given new text, font or width; for tests.
    uint64_t Changes() const { return m_changes; }

private:
    CTextPainter& m_painter;
    PangoLayout* m_layout = nullptr;
    std::string m_text;
    FontSpec m_font;
    int m_wrapWidth = 0;
    uint64_t m_changes = 0;
};

// A Cairo surface over the pixels of one BGRx frame (CAIRO_FORMAT_RGB24 has
// the same byte order), for the length of one frame step. Nothing is copied:
// drawing writes straight into the frame, never into the row padding.
class CFrameCanvas {
public:
    CFrameCanvas(uint8_t* pixels, int width, int height, size_t stride);
    ~CFrameCanvas();
    CFrameCanvas(const CFrameCanvas&) = delete;
    CFrameCanvas& operator=(const CFrameCanvas&) = delete;

    // False when Cairo cannot wrap the frame (a row stride or pixel address
    // that is not a multiple of 4, or a frame beyond Cairo's size limit);
    // drawing then does nothing.
    bool Ok() const { return m_cr != nullptr; }

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
    cairo_surface_t* m_surface = nullptr;
    cairo_t* m_cr = nullptr;
};

}  // namespace quell

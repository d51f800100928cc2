// Cairo and Pango behind the text painter, the cached layouts and the frame
// canvas.
#include "platform/TextPainter.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdint>

namespace quell {

namespace {
// Em size at which a family's vertical metrics are read: large, so that the
// ratio of cell height to em size is exact to well below a pixel.
constexpr double kReferenceEm = 1000.0;

void SetSource(cairo_t* cr, Rgb colour)
{
    cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
}
}  // namespace

CTextPainter::CTextPainter()
    : m_fontMap(pango_cairo_font_map_new()), m_context(pango_font_map_create_context(m_fontMap))
{
    // Greyscale antialiasing (the frame may be scaled or recorded, so no
    // colour fringes), light vertical hinting for crisp small text, and
    // unhinted metrics so that a line is exactly as high as its font's cell.
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
    // Japanese first when a character needs a fallback font, so that names
    // and places take Japanese glyph forms.
    pango_context_set_language(m_context, pango_language_from_string("ja"));
    pango_context_set_base_dir(m_context, PANGO_DIRECTION_LTR);
}

CTextPainter::~CTextPainter()
{
    g_object_unref(m_context);
    g_object_unref(m_fontMap);
}

double CTextPainter::CellPerEm(const FontSpec& spec)
{
    if (m_ratioWeight == spec.weight && m_ratioFamily == spec.family)
        return m_ratio;
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, spec.family.c_str());
    pango_font_description_set_weight(desc, static_cast<PangoWeight>(spec.weight));
    pango_font_description_set_absolute_size(desc, kReferenceEm * PANGO_SCALE);
    // The metrics of the family's own font, not of the whole fallback set
    // (whose Japanese fonts are taller).
    double cell = 0.0;
    if (PangoFont* font = pango_context_load_font(m_context, desc)) {
        PangoFontMetrics* metrics = pango_font_get_metrics(font, nullptr);
        cell = pango_font_metrics_get_ascent(metrics) + pango_font_metrics_get_descent(metrics);
        pango_font_metrics_unref(metrics);
        g_object_unref(font);
    }
    pango_font_description_free(desc);
    m_ratio = cell > 0 ? cell / (kReferenceEm * PANGO_SCALE) : 1.0;
    m_ratioFamily = spec.family;
    m_ratioWeight = spec.weight;
    return m_ratio;
}

PangoFontDescription* CTextPainter::MakeFont(const FontSpec& spec)
{
    // The effect sizes its fonts by cell height: the em size is the cell
    // height divided by the family's (ascent + descent) per em, so that a
    // line of the primary font is exactly cellHeight pixels high.
    const double em = std::max(1, spec.cellHeight) / CellPerEm(spec);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, spec.family.c_str());
    pango_font_description_set_weight(desc, static_cast<PangoWeight>(spec.weight));
    pango_font_description_set_absolute_size(desc, em * PANGO_SCALE);
    return desc;
}

CTextLayout::CTextLayout(CTextPainter& painter) : m_painter(painter), m_layout(pango_layout_new(painter.Context()))
{
    pango_layout_set_wrap(m_layout, PANGO_WRAP_WORD_CHAR);
}

CTextLayout::~CTextLayout()
{
    g_object_unref(m_layout);
}

void CTextLayout::SetFont(const FontSpec& spec)
{
    if (spec == m_font)
        return;
    m_font = spec;
    PangoFontDescription* desc = m_painter.MakeFont(spec);
    pango_layout_set_font_description(m_layout, desc);
    pango_font_description_free(desc);
    // Every line is one cell high, also a line with glyphs of a taller
    // fallback font (Japanese names), so that lines keep a fixed pitch.
    PangoAttrList* attributes = pango_attr_list_new();
    pango_attr_list_insert(attributes, pango_attr_line_height_new_absolute(std::max(1, spec.cellHeight) * PANGO_SCALE));
    pango_layout_set_attributes(m_layout, attributes);
    pango_attr_list_unref(attributes);
    ++m_changes;
}

void CTextLayout::SetWrapWidth(int width)
{
    width = std::max(0, width);
    if (width == m_wrapWidth)
        return;
    m_wrapWidth = width;
    pango_layout_set_width(m_layout, width > 0 ? width * PANGO_SCALE : -1);
    ++m_changes;
}

void CTextLayout::SetText(std::string_view utf8)
{
    if (utf8 == m_text)
        return;
    m_text.assign(utf8);  // keeps its capacity: no allocation once grown
    pango_layout_set_text(m_layout, m_text.data(), static_cast<int>(m_text.size()));
    ++m_changes;
}

PixelRect CTextLayout::LogicalRect() const
{
    PangoRectangle logical;
    pango_layout_get_pixel_extents(m_layout, nullptr, &logical);
    return {logical.x, logical.y, logical.width, logical.height};
}

PixelRect CTextLayout::InkRect() const
{
    PangoRectangle ink;
    pango_layout_get_pixel_extents(m_layout, &ink, nullptr);
    return {ink.x, ink.y, ink.width, ink.height};
}

int CTextLayout::LineCount() const
{
    return pango_layout_get_line_count(m_layout);
}

CFrameCanvas::CFrameCanvas(uint8_t* pixels, int width, int height, size_t stride)
{
    const bool aligned = reinterpret_cast<uintptr_t>(pixels) % 4 == 0 && stride % 4 == 0;
    if (!pixels || width <= 0 || height <= 0 || !aligned || stride > static_cast<size_t>(INT32_MAX))
        return;
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(pixels, CAIRO_FORMAT_RGB24, width, height, static_cast<int>(stride));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return;
    }
    cairo_t* cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        return;
    }
    m_surface = surface;
    m_cr = cr;
}

CFrameCanvas::~CFrameCanvas()
{
    if (m_cr) {
        // Everything drawn must be in the frame's pixels before it leaves.
        cairo_surface_flush(m_surface);
        cairo_destroy(m_cr);
        cairo_surface_destroy(m_surface);
    }
}

void CFrameCanvas::DrawText(const CTextLayout& layout, int x, int y, Rgb colour)
{
    if (!m_cr)
        return;
    SetSource(m_cr, colour);
    cairo_move_to(m_cr, x, y);
    pango_cairo_show_layout(m_cr, layout.Layout());
    cairo_new_path(m_cr);
}

void CFrameCanvas::DrawText(const CTextLayout& layout, int x, int y, Rgb colour, const PixelRect& clip)
{
    if (!m_cr || clip.width <= 0 || clip.height <= 0)
        return;
    cairo_save(m_cr);
    cairo_rectangle(m_cr, clip.x, clip.y, clip.width, clip.height);
    cairo_clip(m_cr);
    DrawText(layout, x, y, colour);
    cairo_restore(m_cr);
}

void CFrameCanvas::PenLine(int fromX, int fromY, int toX, int toY, int width, Rgb colour)
{
    if (!m_cr)
        return;
    width = std::max(1, width);
    cairo_save(m_cr);
    cairo_set_antialias(m_cr, CAIRO_ANTIALIAS_NONE);
    SetSource(m_cr, colour);
    if (width == 1 && (fromX == toX || fromY == toY)) {
        // The pixels from `from` towards `to`, `to` itself left out.
        if (fromX == toX && fromY == toY) {
            cairo_restore(m_cr);
            return;
        }
        int x0 = fromX, x1 = toX, y0 = fromY, y1 = toY;
        if (fromY == toY) {
            x0 = toX > fromX ? fromX : toX + 1;
            x1 = toX > fromX ? toX : fromX + 1;
            y1 = y0 + 1;
        } else {
            y0 = toY > fromY ? fromY : toY + 1;
            y1 = toY > fromY ? toY : fromY + 1;
            x1 = x0 + 1;
        }
        cairo_rectangle(m_cr, x0, y0, x1 - x0, y1 - y0);
        cairo_fill(m_cr);
    } else {
        // A band centred on the pixel centres; odd widths cover whole pixels.
        const double centre = width % 2 ? 0.5 : 0.0;
        cairo_set_line_width(m_cr, width);
        cairo_set_line_cap(m_cr, CAIRO_LINE_CAP_ROUND);
        cairo_move_to(m_cr, fromX + centre, fromY + centre);
        cairo_line_to(m_cr, toX + centre, toY + centre);
        cairo_stroke(m_cr);
    }
    cairo_restore(m_cr);
}

}  // namespace quell

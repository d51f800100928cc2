// Cairo and Pango behind the text painter, the cached layouts and the frame
// canvas, and the compositing of glyph images and pen shapes into frames.
#include "platform/TextPainter.h"

#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quell {

namespace {
// Em size at which a family's vertical metrics are read: large, so that the
// ratio of cell height to em size is exact to well below a pixel.
constexpr double kReferenceEm = 1000.0;
// Cairo's largest image side.
constexpr int kMaxCairoSide = 32767;

void SetSource(cairo_t* cr, Rgb colour)
{
    cairo_set_source_rgb(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);
}

// Cairo's 24.8 fixed point: nearest, halves to even.
int32_t Fixed(double v)
{
    return static_cast<int32_t>(std::nearbyint(v * 256.0));
}

// Pango units (1/1024 pixel) to the pixel Cairo draws a glyph origin on:
// nearest, halves upwards.
int PixelOf(int64_t units)
{
    return static_cast<int>((units + 512) >> 10);
}

// The pixels a pen line covers, traced into `cr` as a path to fill or stroke:
// a one-pixel pen along a row or column covers the pixels from `from` up to,
// not including, `to`; any other pen is a band of its width centred on the
// pixel centres, with round ends.
void TracePen(cairo_t* cr, int fromX, int fromY, int toX, int toY, int width)
{
    if (width == 1 && (fromX == toX || fromY == toY)) {
        if (fromX == toX && fromY == toY)
            return;
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
        cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
        cairo_fill(cr);
        return;
    }
    const double centre = width % 2 ? 0.5 : 0.0;
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, fromX + centre, fromY + centre);
    cairo_line_to(cr, toX + centre, toY + centre);
    cairo_stroke(cr);
}

// Pixman's multiplication of two 8-bit values, rounded.
inline uint32_t Mul(uint32_t a, uint32_t b)
{
    const uint32_t t = a * b + 0x80u;
    return (t + (t >> 8)) >> 8;
}

// A solid colour OVER one BGRx pixel through coverage m, as Pixman computes
// it; the fourth byte is treated as alpha, as Cairo does.
inline void Over(uint8_t* d, const uint8_t colour[3], uint32_t m)
{
    // Full coverage, the inside of every glyph, gives the colour itself
    // (Mul(c, 255) == c, Mul(d, 0) == 0).
    if (m == 255u) {
        d[0] = colour[0];
        d[1] = colour[1];
        d[2] = colour[2];
        d[3] = 255;
        return;
    }
    const uint32_t inverse = 255u - m;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<uint8_t>(std::min<uint32_t>(255u, Mul(colour[c], m) + Mul(d[c], inverse)));
    d[3] = static_cast<uint8_t>(std::min<uint32_t>(255u, m + Mul(d[3], inverse)));
}

// Over() along a row: `n` BGRx pixels at `d` through the coverage bytes at
// `m`. The vector path computes every channel, the fourth with 255 as its
// colour, as min(255, Mul(colour, m) + Mul(d, 255 - m)): at coverage 255 that
// is the colour and 255, at 0 the pixel itself, so it equals Over() for
// every coverage. Four pixels without coverage are left as they are.
void OverRow(uint8_t* d, const uint8_t* m, int n, const uint8_t colour[3])
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i all = _mm_set1_epi16(255);
    const __m128i round = _mm_set1_epi16(0x80);
    const __m128i source = _mm_setr_epi16(colour[0], colour[1], colour[2], 255, colour[0], colour[1], colour[2], 255);
    // Pixman's rounded product in 16-bit lanes: a * b + 0x80 stays below 65536.
    const auto mul = [&](__m128i a, __m128i b) {
        const __m128i t = _mm_add_epi16(_mm_mullo_epi16(a, b), round);
        return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
    };
    for (; x + 4 <= n; x += 4) {
        uint32_t cover;
        std::memcpy(&cover, m + x, sizeof cover);
        if (cover == 0)
            continue;
        // Each coverage byte once per channel, widened to 16 bits.
        __m128i spread = _mm_cvtsi32_si128(static_cast<int>(cover));
        spread = _mm_unpacklo_epi8(spread, spread);
        spread = _mm_unpacklo_epi16(spread, spread);
        const __m128i mLo = _mm_unpacklo_epi8(spread, zero), mHi = _mm_unpackhi_epi8(spread, zero);
        uint8_t* p = d + 4 * static_cast<size_t>(x);
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i dLo = _mm_unpacklo_epi8(pixels, zero), dHi = _mm_unpackhi_epi8(pixels, zero);
        const __m128i lo = _mm_add_epi16(mul(source, mLo), mul(dLo, _mm_sub_epi16(all, mLo)));
        const __m128i hi = _mm_add_epi16(mul(source, mHi), mul(dHi, _mm_sub_epi16(all, mHi)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; x < n; ++x)
        if (m[x])
            Over(d + 4 * static_cast<size_t>(x), colour, m[x]);
}

// The part of rectangle (x, y, w, h) inside `clip`.
PixelRect Intersect(int x, int y, int w, int h, const PixelRect& clip)
{
    const int x0 = std::max(x, clip.x);
    const int y0 = std::max(y, clip.y);
    const int x1 = std::min(x + w, clip.x + clip.width);
    const int y1 = std::min(y + h, clip.y + clip.height);
    return {x0, y0, std::max(0, x1 - x0), std::max(0, y1 - y0)};
}

uint64_t PenKey(int dx, int dy, int width)
{
    const auto field = [](int v) { return static_cast<uint64_t>(static_cast<uint32_t>(v) & 0x1FFFFFu); };
    return (field(dx) << 42) | (field(dy) << 21) | field(width);
}
}  // namespace

namespace {
// Fontconfig is read here, on the caller's thread, before Pango would read
// it on a thread of its own: the font map is then ready when it is first
// used, and no second thread touches fontconfig's caches.
PangoFontMap* NewFontMap()
{
    FcInit();
    return pango_cairo_font_map_new();
}
}  // namespace

CTextPainter::CTextPainter()
    : m_fontMap(NewFontMap()), m_context(pango_font_map_create_context(m_fontMap))
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
    for (cairo_scaled_font_t* font : m_fonts)
        cairo_scaled_font_destroy(font);
    g_object_unref(m_context);
    g_object_unref(m_fontMap);
}

const GlyphImage* CTextPainter::Glyph(cairo_scaled_font_t* font, uint32_t glyph)
{
    const std::pair<const void*, uint64_t> key(font, glyph);
    if (auto it = m_glyphs.find(key); it != m_glyphs.end())
        return it->second.width < 0 ? nullptr : &it->second;
    GlyphImage image;
    if (!RenderGlyph(font, glyph, image))
        image.width = -1;  // remembered, so that a failure is not retried every frame
    if (std::find(m_fonts.begin(), m_fonts.end(), font) == m_fonts.end())
        m_fonts.push_back(cairo_scaled_font_reference(font));
    const GlyphImage& stored = m_glyphs.emplace(key, image).first->second;
    return stored.width < 0 ? nullptr : &stored;
}

bool CTextPainter::RenderGlyph(cairo_scaled_font_t* font, uint32_t glyph, GlyphImage& image)
{
    cairo_glyph_t g{glyph, 0.0, 0.0};
    cairo_text_extents_t e;
    cairo_scaled_font_glyph_extents(font, &g, 1, &e);
    if (cairo_scaled_font_status(font) != CAIRO_STATUS_SUCCESS || !std::isfinite(e.width) || !std::isfinite(e.height) ||
        e.width > 4 * kMaxCairoSide || e.height > 4 * kMaxCairoSide)
        return false;
    image.box[0] = Fixed(e.x_bearing);
    image.box[1] = Fixed(e.y_bearing);
    image.box[2] = Fixed(e.x_bearing + e.width);
    image.box[3] = Fixed(e.y_bearing + e.height);

    // The glyph is drawn at a whole pixel with room around its ink box;
    // antialiasing and hinting may reach a little beyond the box, so a glyph
    // that touches the border is drawn again with more room.
    for (int margin = 4; margin <= 256; margin *= 4) {
        const int ox = margin - static_cast<int>(std::floor(e.x_bearing));
        const int oy = margin - static_cast<int>(std::floor(e.y_bearing));
        const int w = static_cast<int>(std::ceil(e.width)) + 2 * margin + 1;
        const int h = static_cast<int>(std::ceil(e.height)) + 2 * margin + 1;
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* cr = cairo_create(surface);
        cairo_set_scaled_font(cr, font);
        cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
        g.x = ox;
        g.y = oy;
        cairo_show_glyphs(cr, &g, 1);
        const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        if (!ok || cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return false;
        }
        const uint8_t* data = cairo_image_surface_get_data(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        int x0 = w, y0 = h, x1 = -1, y1 = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (data[y * stride + x]) {
                    x0 = std::min(x0, x);
                    y0 = std::min(y0, y);
                    x1 = std::max(x1, x);
                    y1 = std::max(y1, y);
                }
        const bool touches = x1 >= 0 && (x0 == 0 || y0 == 0 || x1 == w - 1 || y1 == h - 1);
        if (!touches) {
            if (x1 >= 0) {
                image.left = x0 - ox;
                image.top = y0 - oy;
                image.width = x1 - x0 + 1;
                image.height = y1 - y0 + 1;
                image.offset = m_glyphPixels.size();
                for (int y = y0; y <= y1; ++y)
                    m_glyphPixels.insert(m_glyphPixels.end(), data + y * stride + x0, data + y * stride + x1 + 1);
            }
            cairo_surface_destroy(surface);
            return true;
        }
        cairo_surface_destroy(surface);
    }
    return false;
}

const std::vector<PenSpan>& CTextPainter::PenShape(int dx, int dy, int width)
{
    const std::pair<const void*, uint64_t> key(nullptr, PenKey(dx, dy, width));
    if (auto it = m_pens.find(key); it != m_pens.end())
        return it->second;
    std::vector<PenSpan> spans;
    // The line traced from a whole pixel with room around it. Shifting a
    // line by whole pixels shifts Cairo's pixels by as many, so the shape
    // serves every start point.
    const int margin = width + 4;
    const int fromX = margin + std::max(0, -dx);
    const int fromY = margin + std::max(0, -dy);
    const int w = std::abs(dx) + 2 * margin + 1;
    const int h = std::abs(dy) + 2 * margin + 1;
    if (w <= kMaxCairoSide && h <= kMaxCairoSide) {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
        cairo_t* cr = cairo_create(surface);
        cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
        cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
        TracePen(cr, fromX, fromY, fromX + dx, fromY + dy, width);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
            const uint8_t* data = cairo_image_surface_get_data(surface);
            const int stride = cairo_image_surface_get_stride(surface);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w;) {
                    if (!data[y * stride + x]) {
                        ++x;
                        continue;
                    }
                    const int begin = x;
                    while (x < w && data[y * stride + x])
                        ++x;
                    spans.push_back({y - fromY, begin - fromX, x - fromX});
                }
        }
        cairo_surface_destroy(surface);
    }
    return m_pens.emplace(key, std::move(spans)).first->second;
}

uint8_t* CTextPainter::ScratchMask(size_t bytes)
{
    if (m_scratch.size() < bytes)
        m_scratch.resize(bytes);
    std::memset(m_scratch.data(), 0, bytes);
    return m_scratch.data();
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

void CTextLayout::SyncPango() const
{
    if (!m_pangoBehind)
        return;
    pango_layout_set_text(m_layout, m_text.data(), static_cast<int>(m_text.size()));
    m_pangoBehind = false;
}

void CTextLayout::SetFont(const FontSpec& spec)
{
    if (spec == m_font)
        return;
    SyncPango();
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
    m_stale = true;
    ++m_changes;
}

void CTextLayout::SetWrapWidth(int width)
{
    width = std::max(0, width);
    if (width == m_wrapWidth)
        return;
    SyncPango();
    m_wrapWidth = width;
    pango_layout_set_width(m_layout, width > 0 ? width * PANGO_SCALE : -1);
    m_stale = true;
    ++m_changes;
}

void CTextLayout::SetText(std::string_view utf8)
{
    if (utf8 == m_text)
        return;
    if (SwapDigits(utf8))
        return;
    m_text.assign(utf8);  // keeps its capacity: no allocation once grown
    pango_layout_set_text(m_layout, m_text.data(), static_cast<int>(m_text.size()));
    m_pangoBehind = false;
    m_stale = true;
    ++m_changes;
}

PangoLayout* CTextLayout::Layout() const
{
    SyncPango();
    return m_layout;
}

PixelRect CTextLayout::LogicalRect() const
{
    Extract();
    return m_logical;
}

PixelRect CTextLayout::InkRect() const
{
    PangoRectangle ink;
    pango_layout_get_pixel_extents(Layout(), &ink, nullptr);
    return {ink.x, ink.y, ink.width, ink.height};
}

int CTextLayout::LineCount() const
{
    Extract();
    return m_lineCount;
}

bool CTextLayout::Composited() const
{
    Extract();
    return m_composited;
}

void CTextLayout::MeasureRun(GlyphRun& run) const
{
    // Cairo's test: a glyph whose ink box meets the box around the glyphs
    // before it makes the run overlap; an empty box (a space) meets nothing,
    // but still widens the box around the run.
    int64_t x1 = INT32_MAX, y1 = INT32_MAX, x2 = INT32_MIN, y2 = INT32_MIN;
    bool overlap = false;
    for (size_t i = run.first; i < run.first + run.count; ++i) {
        const PlacedGlyph& g = m_glyphs[i];
        // Image surfaces round glyph origins to whole pixels for this too.
        const int64_t gx1 = int64_t{g.x} * 256 + g.image->box[0];
        const int64_t gy1 = int64_t{g.y} * 256 + g.image->box[1];
        const int64_t gx2 = int64_t{g.x} * 256 + g.image->box[2];
        const int64_t gy2 = int64_t{g.y} * 256 + g.image->box[3];
        if (!overlap && gx1 != gx2 && gy1 != gy2)
            overlap = gx2 > x1 && gx1 < x2 && gy2 > y1 && gy1 < y2;
        x1 = std::min(x1, gx1);
        y1 = std::min(y1, gy1);
        x2 = std::max(x2, gx2);
        y2 = std::max(y2, gy2);
    }
    run.overlap = overlap;
    if (x1 < x2) {
        // Outward to whole pixels.
        const int left = static_cast<int>(x1 >> 8);
        const int top = static_cast<int>(y1 >> 8);
        run.box = {left, top, static_cast<int>((x2 + 255) >> 8) - left, static_cast<int>((y2 + 255) >> 8) - top};
    } else {
        run.box = {};
    }
}

void CTextLayout::Extract() const
{
    if (!m_stale)
        return;
    SyncPango();
    m_stale = false;
    m_runs.clear();
    m_glyphs.clear();
    m_composited = true;
    m_glyphOfByte.assign(m_text.size(), -1);
    bool oneGlyphPerByte = true;
    bool plainOffsets = true;

    // The positions Pango's Cairo renderer gives each glyph: lines at their
    // logical x and baseline, runs one after another, glyphs at their
    // advances plus offsets; Cairo puts a glyph on the nearest pixel.
    PangoLayoutIter* iter = pango_layout_get_iter(m_layout);
    do {
        PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
        PangoRectangle logical;
        pango_layout_iter_get_line_extents(iter, nullptr, &logical);
        const int baseline = pango_layout_iter_get_baseline(iter);
        int64_t runX = logical.x;
        m_lineStart = logical.x;
        for (GSList* l = line ? line->runs : nullptr; l; l = l->next) {
            const PangoGlyphItem* item = static_cast<const PangoGlyphItem*>(l->data);
            const PangoGlyphString* glyphs = item->glyphs;
            PangoFont* pangoFont = item->item->analysis.font;
            cairo_scaled_font_t* font =
                pangoFont ? pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(pangoFont)) : nullptr;
            GlyphRun run{font, m_glyphs.size(), 0, false, {}};
            int64_t x = 0;
            for (int i = 0; i < glyphs->num_glyphs; ++i) {
                const PangoGlyphInfo& info = glyphs->glyphs[i];
                const int64_t advance = info.geometry.width;
                if (info.glyph == PANGO_GLYPH_EMPTY) {
                    x += advance;
                    continue;
                }
                const GlyphImage* image = nullptr;
                if (!font || (info.glyph & PANGO_GLYPH_UNKNOWN_FLAG) || info.attr.is_color)
                    m_composited = false;
                else
                    image = m_painter.Glyph(font, info.glyph);
                if (!image) {
                    m_composited = false;
                    x += advance;
                    continue;
                }
                const int64_t gx = runX + x + info.geometry.x_offset;
                const int64_t gy = int64_t{baseline} + info.geometry.y_offset;
                const size_t byte =
                    static_cast<size_t>(item->item->offset) + static_cast<size_t>(glyphs->log_clusters[i]);
                if (byte < m_glyphOfByte.size()) {
                    if (m_glyphOfByte[byte] >= 0)
                        oneGlyphPerByte = false;
                    m_glyphOfByte[byte] = static_cast<int>(m_glyphs.size());
                }
                m_glyphs.push_back({info.glyph, image, PixelOf(gx), PixelOf(gy), static_cast<uint32_t>(m_runs.size()),
                                    static_cast<int32_t>(advance), info.geometry.x_offset});
                if (info.geometry.y_offset != 0)
                    plainOffsets = false;
                x += advance;
            }
            runX += x;
            run.count = m_glyphs.size() - run.first;
            if (run.count > 0) {
                MeasureRun(run);
                m_runs.push_back(run);
            }
        }
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);

    PangoRectangle logical;
    pango_layout_get_pixel_extents(m_layout, nullptr, &logical);
    m_logical = {logical.x, logical.y, logical.width, logical.height};
    m_lineCount = pango_layout_get_line_count(m_layout);
    m_digitsSwappable = false;
    if (oneGlyphPerByte && plainOffsets)
        CheckDigits();
}

namespace {
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A sequence over k symbols holding every string of three of them once
// (a de Bruijn sequence, made linear).
std::vector<int> EveryTriple(int k)
{
    std::vector<int> sequence;
    std::vector<int> a(4 * static_cast<size_t>(k) + 4, 0);
    // Fredricksen-Kessler-Maiorana: concatenated Lyndon words.
    auto step = [&](auto&& self, int t, int p) -> void {
        if (t > 3) {
            if (3 % p == 0)
                for (int j = 1; j <= p; ++j)
                    sequence.push_back(a[j]);
            return;
        }
        a[t] = a[t - p];
        self(self, t + 1, p);
        for (int j = a[t - p] + 1; j < k; ++j) {
            a[t] = j;
            self(self, t + 1, t);
        }
    };
    step(step, 1, 1);
    sequence.push_back(sequence[0]);
    sequence.push_back(sequence[1]);
    return sequence;
}
}  // namespace

void CTextLayout::CheckDigits() const
{
    if (m_wrapWidth > 0 || m_lineCount != 1 || m_runs.size() != 1 || !m_composited || m_logical.x != 0)
        return;
    // ASCII, every byte one glyph; the characters up to two places from a
    // digit, whose placement a digit change may alter.
    cairo_scaled_font_t* font = m_runs[0].font;
    std::string set = "0123456789";
    for (size_t i = 0; i < m_text.size(); ++i) {
        if (static_cast<unsigned char>(m_text[i]) >= 0x80 || m_glyphOfByte[i] != static_cast<int>(i))
            return;
        bool nearDigit = false;
        for (size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < m_text.size(); ++j)
            nearDigit = nearDigit || IsDigit(m_text[j]);
        if (nearDigit && set.find(m_text[i]) == std::string::npos)
            set += m_text[i];
    }
    // The first two characters never move: the probe cannot show a line's
    // start in the text's own script.
    if (m_text.size() < 3 || IsDigit(m_text[0]) || IsDigit(m_text[1]) ||
        m_text.find_first_of("0123456789") == std::string::npos)
        return;
    const int k = static_cast<int>(set.size());
    if (k > 40)
        return;

    // The probe: one line with every triple of those characters, then one
    // paragraph per pair, so that each character is also seen at the end of
    // a line. Each line starts with the text's own leading characters, so
    // that the digits and signs take the text's script, as they do in the
    // text (the font's kerning can depend on it). Symbol k stands for
    // "none"; -1 marks line breaks, -2 the leading characters.
    std::string lead;
    for (const char c : m_text) {
        if (set.find(c) != std::string::npos)
            break;
        lead += c;
    }
    std::vector<int> symbols;
    const auto addLead = [&] { symbols.insert(symbols.end(), lead.size(), -2); };
    addLead();
    for (const int v : EveryTriple(k))
        symbols.push_back(v);
    for (int a = 0; a < k; ++a)
        for (int b = 0; b < k; ++b) {
            symbols.push_back(-1);
            addLead();
            symbols.push_back(a);
            symbols.push_back(b);
        }
    std::string probe;
    size_t leadAt = 0;
    for (const int v : symbols) {
        if (v == -2) {
            probe += lead[leadAt++ % lead.size()];
            continue;
        }
        leadAt = 0;
        probe += v < 0 ? '\n' : set[v];
    }
    PangoLayout* layout = pango_layout_new(m_painter.Context());
    pango_layout_set_font_description(layout, pango_layout_get_font_description(m_layout));
    pango_layout_set_attributes(layout, pango_layout_get_attributes(m_layout));
    pango_layout_set_text(layout, probe.data(), static_cast<int>(probe.size()));

    const int n = k + 1;
    m_symbols = n;
    m_symbol.fill(-1);
    for (int v = 0; v < k; ++v)
        m_symbol[static_cast<unsigned char>(set[v])] = static_cast<int8_t>(v);
    m_context.assign(static_cast<size_t>(n) * n * n, Placement{});
    std::array<uint32_t, 128> glyphOf{};
    std::array<bool, 128> seen{};
    std::vector<bool> placed(probe.size(), false);
    // The neighbour of a probe character as a table index: "none" at a line
    // break or the probe's end, -1 for a leading character (not recorded).
    const auto neighbour = [&](size_t at, bool exists) {
        if (!exists || symbols[at] == -1)
            return k;
        return symbols[at] == -2 ? -1 : symbols[at];
    };
    bool consistent = true;
    for (GSList* lines = pango_layout_get_lines_readonly(layout); lines && consistent; lines = lines->next) {
        const PangoLayoutLine* line = static_cast<const PangoLayoutLine*>(lines->data);
        for (GSList* l = line->runs; l && consistent; l = l->next) {
            const PangoGlyphItem* item = static_cast<const PangoGlyphItem*>(l->data);
            if (pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(item->item->analysis.font)) != font) {
                consistent = false;
                break;
            }
            for (int i = 0; i < item->glyphs->num_glyphs && consistent; ++i) {
                const PangoGlyphInfo& info = item->glyphs->glyphs[i];
                const size_t byte = static_cast<size_t>(item->item->offset + item->glyphs->log_clusters[i]);
                if (symbols[byte] < 0 || info.glyph == PANGO_GLYPH_EMPTY)
                    continue;
                const unsigned char c = static_cast<unsigned char>(probe[byte]);
                const int prev = neighbour(byte - 1, byte > 0);
                const int next = neighbour(byte + 1, byte + 1 < symbols.size());
                if (placed[byte] || info.geometry.y_offset != 0 || (seen[c] && glyphOf[c] != info.glyph)) {
                    consistent = false;
                    break;
                }
                placed[byte] = true;
                seen[c] = true;
                glyphOf[c] = info.glyph;
                if (prev < 0 || next < 0)
                    continue;
                Placement& p = m_context[(static_cast<size_t>(prev) * n + symbols[byte]) * n + next];
                const Placement got{info.geometry.width, info.geometry.x_offset};
                if (p.advance >= 0 && (p.advance != got.advance || p.offset != got.offset)) {
                    consistent = false;
                    break;
                }
                p = got;
            }
        }
    }
    g_object_unref(layout);
    for (size_t i = 0; i < probe.size() && consistent; ++i)
        consistent = symbols[i] < 0 || placed[i];
    if (!consistent)
        return;
    for (int d = 0; d < 10; ++d) {
        m_digitGlyph[d] = glyphOf['0' + d];
        if (!m_painter.Glyph(font, m_digitGlyph[d]))
            return;
    }

    // The laid-out text must be what the table gives, and its logical box
    // end where its last advance does.
    PangoRectangle logical;
    pango_layout_get_extents(m_layout, nullptr, &logical);
    int64_t end = m_lineStart;
    for (const PlacedGlyph& g : m_glyphs)
        end += g.advance;
    if (logical.x != 0 || logical.x + logical.width != end)
        return;
    for (size_t i = 0; i < m_text.size(); ++i) {
        const Placement* p = ContextOf(m_text, i);
        const PlacedGlyph& g = m_glyphs[i];
        if (IsDigit(m_text[i]) && g.glyph != m_digitGlyph[m_text[i] - '0'])
            return;
        if (p && (p->advance != g.advance || p->offset != g.offset))
            return;
    }
    m_digitsSwappable = true;
}

const CTextLayout::Placement* CTextLayout::ContextOf(std::string_view text, size_t i) const
{
    // Only characters next to a digit can be placed anew.
    const bool nearDigit =
        IsDigit(text[i]) || (i > 0 && IsDigit(text[i - 1])) || (i + 1 < text.size() && IsDigit(text[i + 1]));
    if (!nearDigit)
        return nullptr;
    const int n = m_symbols;
    const int none = n - 1;
    const int prev = i > 0 ? m_symbol[static_cast<unsigned char>(text[i - 1]) & 0x7F] : none;
    const int cur = m_symbol[static_cast<unsigned char>(text[i]) & 0x7F];
    const int next = i + 1 < text.size() ? m_symbol[static_cast<unsigned char>(text[i + 1]) & 0x7F] : none;
    if (prev < 0 || cur < 0 || next < 0)
        return nullptr;
    const Placement& p = m_context[(static_cast<size_t>(prev) * n + cur) * n + next];
    return p.advance >= 0 ? &p : nullptr;
}

bool CTextLayout::SwapDigits(std::string_view utf8)
{
    Extract();
    if (!m_digitsSwappable || utf8.size() != m_text.size())
        return false;
    for (size_t i = 0; i < utf8.size(); ++i)
        if (utf8[i] != m_text[i] && !(IsDigit(utf8[i]) && IsDigit(m_text[i])))
            return false;
    for (size_t i = 0; i < utf8.size(); ++i)
        if (IsDigit(utf8[i]) || (i > 0 && IsDigit(utf8[i - 1])) || (i + 1 < utf8.size() && IsDigit(utf8[i + 1])))
            if (!ContextOf(utf8, i))
                return false;
    // New glyphs for the digits, new placements next to them, and every
    // glyph placed again from the start of the line.
    int64_t x = m_lineStart;
    for (size_t i = 0; i < utf8.size(); ++i) {
        PlacedGlyph& g = m_glyphs[i];
        if (IsDigit(utf8[i])) {
            const uint32_t glyph = m_digitGlyph[utf8[i] - '0'];
            if (g.glyph != glyph) {
                g.glyph = glyph;
                g.image = m_painter.Glyph(m_runs[0].font, glyph);
            }
        }
        if (const Placement* p = ContextOf(utf8, i)) {
            g.advance = p->advance;
            g.offset = p->offset;
        }
        g.x = PixelOf(x + g.offset);
        x += g.advance;
    }
    MeasureRun(m_runs[0]);
    // The logical box ends where the last advance does.
    m_logical.width = static_cast<int>((x + PANGO_SCALE - 1) / PANGO_SCALE) - m_logical.x;
    m_text.assign(utf8);
    m_pangoBehind = true;
    ++m_changes;
    ++m_digitSwaps;
    return true;
}

CFrameCanvas::CFrameCanvas(uint8_t* pixels, int width, int height, size_t stride)
    : m_pixels(pixels), m_width(width), m_height(height), m_stride(stride)
{
    // The frames Cairo's image surfaces can wrap: 4-byte aligned rows and
    // pixels, sides up to its limit.
    const bool aligned = reinterpret_cast<uintptr_t>(pixels) % 4 == 0 && stride % 4 == 0;
    m_ok = pixels && width > 0 && height > 0 && width <= kMaxCairoSide && height <= kMaxCairoSide && aligned &&
           stride >= 4 * static_cast<size_t>(width) && stride <= static_cast<size_t>(INT32_MAX);
}

CFrameCanvas::CFrameCanvas(CTextPainter& painter, uint8_t* pixels, int width, int height, size_t stride)
    : CFrameCanvas(pixels, width, height, stride)
{
    m_painter = &painter;
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

cairo_t* CFrameCanvas::Cairo()
{
    if (m_cr || !m_ok)
        return m_cr;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(m_pixels, CAIRO_FORMAT_RGB24, m_width, m_height,
                                                                   static_cast<int>(m_stride));
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        m_ok = false;
        return nullptr;
    }
    cairo_t* cr = cairo_create(surface);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
        m_ok = false;
        return nullptr;
    }
    m_surface = surface;
    m_cr = cr;
    return m_cr;
}

void CFrameCanvas::CompositeText(const CTextLayout& layout, int x, int y, Rgb colour, const PixelRect& clip)
{
    const uint8_t bgr[3] = {colour.b, colour.g, colour.r};
    CTextPainter& painter = layout.Painter();
    const auto& glyphs = layout.Glyphs();
    for (const CTextLayout::GlyphRun& run : layout.Runs()) {
        // A run that the clip or the frame's edge cuts is also kept inside
        // its ink box, which hinted glyphs can overstep by a pixel.
        const PixelRect inkBox = Intersect(x + run.box.x, y + run.box.y, run.box.width, run.box.height, clip);
        const bool cut = inkBox.width != run.box.width || inkBox.height != run.box.height;
        if (!run.overlap) {
            const PixelRect& limit = cut ? inkBox : clip;
            // Glyph by glyph, each straight onto the frame.
            for (size_t i = run.first; i < run.first + run.count; ++i) {
                const CTextLayout::PlacedGlyph& g = glyphs[i];
                const GlyphImage& image = *g.image;
                const int left = x + g.x + image.left;
                const int top = y + g.y + image.top;
                const PixelRect r = Intersect(left, top, image.width, image.height, limit);
                const uint8_t* src = painter.GlyphPixels(image);
                for (int py = r.y; py < r.y + r.height; ++py) {
                    const uint8_t* m = src + static_cast<size_t>(py - top) * image.width + (r.x - left);
                    OverRow(m_pixels + static_cast<size_t>(py) * m_stride + 4 * static_cast<size_t>(r.x), m, r.width,
                            bgr);
                }
            }
            continue;
        }
        // Overlapping glyphs: their coverage added up in one mask over the
        // run's ink box, then the colour through it.
        const PixelRect& box = inkBox;
        if (box.width <= 0 || box.height <= 0)
            continue;
        uint8_t* mask = painter.ScratchMask(static_cast<size_t>(box.width) * box.height);
        for (size_t i = run.first; i < run.first + run.count; ++i) {
            const CTextLayout::PlacedGlyph& g = glyphs[i];
            const GlyphImage& image = *g.image;
            const int left = x + g.x + image.left;
            const int top = y + g.y + image.top;
            const PixelRect r = Intersect(left, top, image.width, image.height, box);
            const uint8_t* src = painter.GlyphPixels(image);
            for (int py = r.y; py < r.y + r.height; ++py) {
                const uint8_t* m = src + static_cast<size_t>(py - top) * image.width + (r.x - left);
                uint8_t* a = mask + static_cast<size_t>(py - box.y) * box.width + (r.x - box.x);
                for (int px = 0; px < r.width; ++px)
                    a[px] = static_cast<uint8_t>(std::min(255, a[px] + m[px]));
            }
        }
        for (int py = 0; py < box.height; ++py) {
            OverRow(m_pixels + static_cast<size_t>(box.y + py) * m_stride + 4 * static_cast<size_t>(box.x),
                    mask + static_cast<size_t>(py) * box.width, box.width, bgr);
        }
    }
}

void CFrameCanvas::DrawText(const CTextLayout& layout, int x, int y, Rgb colour)
{
    DrawText(layout, x, y, colour, {0, 0, m_width, m_height});
}

void CFrameCanvas::DrawText(const CTextLayout& layout, int x, int y, Rgb colour, const PixelRect& clip)
{
    if (!m_ok || clip.width <= 0 || clip.height <= 0)
        return;
    if (!m_painter)
        m_painter = &layout.Painter();
    if (layout.Composited()) {
        const PixelRect inside = Intersect(clip.x, clip.y, clip.width, clip.height, {0, 0, m_width, m_height});
        if (inside.width > 0 && inside.height > 0)
            CompositeText(layout, x, y, colour, inside);
        return;
    }
    // Glyphs the canvas does not composite (boxes for missing glyphs,
    // colour glyphs): Cairo draws the whole text.
    cairo_t* cr = Cairo();
    if (!cr)
        return;
    cairo_save(cr);
    const bool whole = clip.x <= 0 && clip.y <= 0 && clip.x + clip.width >= m_width && clip.y + clip.height >= m_height;
    if (!whole) {
        cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
        cairo_clip(cr);
    }
    SetSource(cr, colour);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout.Layout());
    cairo_new_path(cr);
    cairo_restore(cr);
}

void CFrameCanvas::PenLine(int fromX, int fromY, int toX, int toY, int width, Rgb colour)
{
    if (!m_ok)
        return;
    width = std::max(1, width);
    const uint32_t pixel = 0xFF000000u | (uint32_t{colour.r} << 16) | (uint32_t{colour.g} << 8) | colour.b;
    const auto fill = [&](int y, int x0, int x1) {
        x0 = std::max(x0, 0);
        x1 = std::min(x1, m_width);
        if (y < 0 || y >= m_height || x0 >= x1)
            return;
        uint8_t* d = m_pixels + static_cast<size_t>(y) * m_stride + 4 * static_cast<size_t>(x0);
        for (int x = x0; x < x1; ++x, d += 4)
            std::memcpy(d, &pixel, 4);
    };
    if (width == 1 && (fromX == toX || fromY == toY)) {
        // The pixels from `from` towards `to`, `to` itself left out.
        if (fromX == toX && fromY == toY)
            return;
        if (fromY == toY) {
            fill(fromY, toX > fromX ? fromX : toX + 1, toX > fromX ? toX : fromX + 1);
        } else {
            const int y0 = toY > fromY ? fromY : toY + 1;
            const int y1 = toY > fromY ? toY : fromY + 1;
            for (int y = std::max(y0, 0); y < std::min(y1, m_height); ++y)
                fill(y, fromX, fromX + 1);
        }
        return;
    }
    if (m_painter) {
        for (const PenSpan& span : m_painter->PenShape(toX - fromX, toY - fromY, width))
            fill(fromY + span.dy, fromX + span.x0, fromX + span.x1);
        return;
    }
    // No painter to keep the shape: Cairo draws the line itself.
    cairo_t* cr = Cairo();
    if (!cr)
        return;
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    SetSource(cr, colour);
    TracePen(cr, fromX, fromY, toX, toY, width);
    cairo_restore(cr);
}

}  // namespace quell

// Matching the saved capture size and frame time against a camera's caps.
#include "graph/GraphFormat.h"

#include <climits>
#include <cmath>
#include <cstdlib>

namespace quell {

namespace {

constexpr const char* kRaw = "video/x-raw";
constexpr const char* kJpeg = "image/jpeg";
constexpr std::int64_t kUnitsPerSecond = 10'000'000;

// A field the structure leaves out stands for any value.
bool OffersInt(const GstStructure* s, const char* field, int value)
{
    const GValue* offered = gst_structure_get_value(s, field);
    if (!offered)
        return true;
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, G_TYPE_INT);
    g_value_set_int(&wanted, value);
    const bool ok = gst_value_intersect(nullptr, &wanted, offered);
    g_value_unset(&wanted);
    return ok;
}

// Finds a rate among `offered` (a fraction, a range or a list of them) for
// the frame time: a listed rate must match the frame time; a range must
// hold the simple fraction of the frame time.
bool RateIn(const GValue* offered, std::int64_t frameTime, int& num, int& den)
{
    if (GST_VALUE_HOLDS_FRACTION(offered)) {
        const int n = gst_value_get_fraction_numerator(offered);
        const int d = gst_value_get_fraction_denominator(offered);
        if (!RateMatchesFrameTime(n, d, frameTime))
            return false;
        num = n;
        den = d;
        return true;
    }
    if (GST_VALUE_HOLDS_LIST(offered)) {
        for (guint i = 0; i < gst_value_list_get_size(offered); ++i) {
            if (RateIn(gst_value_list_get_value(offered, i), frameTime, num, den))
                return true;
        }
        return false;
    }
    int n = 0, d = 1;
    RateForFrameTime(frameTime, n, d);
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, GST_TYPE_FRACTION);
    gst_value_set_fraction(&wanted, n, d);
    const bool ok = gst_value_intersect(nullptr, &wanted, offered);
    g_value_unset(&wanted);
    if (ok) {
        num = n;
        den = d;
    }
    return ok;
}

CapsRef FixedCaps(const char* name, int width, int height, bool withRate, int num, int den)
{
    GstCaps* caps = gst_caps_new_simple(name, "width", G_TYPE_INT, width, "height", G_TYPE_INT, height, nullptr);
    if (withRate)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, num, den, nullptr);
    return CapsRef(caps);
}

bool Usable(const GstCaps* caps)
{
    return caps && !gst_caps_is_any(caps) && !gst_caps_is_empty(caps);
}

bool Offers(const GstCaps* caps, const char* name)
{
    for (guint i = 0; Usable(caps) && i < gst_caps_get_size(caps); ++i) {
        if (gst_structure_has_name(gst_caps_get_structure(caps, i), name))
            return true;
    }
    return false;
}

}  // namespace

std::int64_t FrameTimeOf(int num, int den)
{
    if (num <= 0 || den <= 0)
        return 0;
    return kUnitsPerSecond * den / num;
}

bool RateMatchesFrameTime(int num, int den, std::int64_t frameTime)
{
    const std::int64_t own = FrameTimeOf(num, den);
    return own > 0 && std::llabs(own - frameTime) <= 1;
}

void RateForFrameTime(std::int64_t frameTime, int& num, int& den)
{
    // Whole rates first, then the NTSC family (30000/1001 and the like).
    for (const int d : {1, 1001}) {
        const long long n = std::llround(static_cast<double>(kUnitsPerSecond) * d / static_cast<double>(frameTime));
        if (n > 0 && n <= INT_MAX && RateMatchesFrameTime(static_cast<int>(n), d, frameTime)) {
            num = static_cast<int>(n);
            den = d;
            return;
        }
    }
    gst_util_double_to_fraction(static_cast<double>(kUnitsPerSecond) / static_cast<double>(frameTime), &num, &den);
}

CapsRef MatchSavedFormat(const GstCaps* offered, int width, int height, std::int64_t frameTime)
{
    if (!Usable(offered))
        return nullptr;
    const bool withRate = frameTime > 0;
    for (const char* name : {kRaw, kJpeg}) {
        for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
            const GstStructure* s = gst_caps_get_structure(offered, i);
            if (!gst_structure_has_name(s, name) || !OffersInt(s, "width", width) || !OffersInt(s, "height", height))
                continue;
            int num = 0, den = 1;
            if (withRate) {
                const GValue* rates = gst_structure_get_value(s, "framerate");
                if (!rates)
                    RateForFrameTime(frameTime, num, den);
                else if (!RateIn(rates, frameTime, num, den))
                    continue;
            }
            return FixedCaps(name, width, height, withRate, num, den);
        }
    }
    return nullptr;
}

CapsRef PreferredFormat(const GstCaps* offered, int width, int height, std::int64_t frameTime)
{
    if (!Usable(offered))
        return nullptr;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        const char* name = gst_structure_get_name(s);
        if (g_strcmp0(name, kRaw) != 0 && g_strcmp0(name, kJpeg) != 0)
            continue;
        if (!gst_structure_has_field(s, "width") || !gst_structure_has_field(s, "height"))
            return nullptr;
        GstStructure* fixed = gst_structure_copy(s);
        gst_structure_fixate_field_nearest_int(fixed, "width", width);
        gst_structure_fixate_field_nearest_int(fixed, "height", height);
        int num = 30, den = 1;
        if (frameTime > 0)
            RateForFrameTime(frameTime, num, den);
        if (gst_structure_has_field(fixed, "framerate"))
            gst_structure_fixate_field_nearest_fraction(fixed, "framerate", num, den);
        int w = 0, h = 0;
        const bool sized = gst_structure_get_int(fixed, "width", &w) && gst_structure_get_int(fixed, "height", &h);
        const bool withRate = gst_structure_get_fraction(fixed, "framerate", &num, &den);
        gst_structure_free(fixed);
        if (!sized)
            return nullptr;
        return FixedCaps(name, w, h, withRate, num, den);
    }
    return nullptr;
}

bool ReadFormat(const GstCaps* caps, int& width, int& height, std::int64_t& frameTime)
{
    if (!Usable(caps))
        return false;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    int w = 0, h = 0;
    if (!gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h))
        return false;
    int num = 0, den = 1;
    width = w;
    height = h;
    frameTime = gst_structure_get_fraction(s, "framerate", &num, &den) ? FrameTimeOf(num, den) : 0;
    return true;
}

const char* DecoderFor(const GstCaps* offered, const GstCaps* chosen)
{
    if (Usable(chosen))
        return Offers(chosen, kJpeg) ? "jpegdec" : "decodebin";
    return Offers(offered, kJpeg) && !Offers(offered, kRaw) ? "jpegdec" : "decodebin";
}

}  // namespace quell

// Listing a camera's sizes and frame rates from its caps.
#include "graph/CameraFormats.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace quell {

namespace {

struct Size {
    int width;
    int height;
};

// Sizes and rates that cameras commonly deliver; a range offers those of
// them that it holds.
constexpr Size kCommonSizes[] = {
    {160, 120},  {176, 144},  {320, 180},   {320, 240},   {352, 288},   {424, 240},
    {640, 360},  {640, 480},  {800, 600},   {960, 540},   {1024, 576},  {1024, 768},
    {1280, 720}, {1280, 960}, {1280, 1024}, {1600, 1200}, {1920, 1080},
};
constexpr std::pair<int, int> kCommonRates[] = {{60, 1}, {50, 1}, {30, 1}, {25, 1}, {24, 1},
                                                {20, 1}, {15, 1}, {10, 1}, {5, 1}};

bool Holds(const GValue* offered, const GValue* wanted)
{
    return !offered || gst_value_intersect(nullptr, wanted, offered);
}

bool HoldsInt(const GValue* offered, int value)
{
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, G_TYPE_INT);
    g_value_set_int(&wanted, value);
    const bool ok = Holds(offered, &wanted);
    g_value_unset(&wanted);
    return ok;
}

bool HoldsRate(const GValue* offered, int num, int den)
{
    GValue wanted = G_VALUE_INIT;
    g_value_init(&wanted, GST_TYPE_FRACTION);
    gst_value_set_fraction(&wanted, num, den);
    const bool ok = Holds(offered, &wanted);
    g_value_unset(&wanted);
    return ok;
}

// The single values of a field (an int or a list of ints); false when the
// field is missing or holds a range anywhere.
bool ListedInts(const GValue* value, std::vector<int>& out)
{
    if (!value)
        return false;
    if (G_VALUE_HOLDS_INT(value)) {
        out.push_back(g_value_get_int(value));
        return true;
    }
    if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i) {
            if (!ListedInts(gst_value_list_get_value(value, i), out))
                return false;
        }
        return true;
    }
    return false;
}

void AddRates(const GValue* value, std::vector<std::pair<int, int>>& out)
{
    if (GST_VALUE_HOLDS_FRACTION(value)) {
        out.emplace_back(gst_value_get_fraction_numerator(value), gst_value_get_fraction_denominator(value));
    } else if (GST_VALUE_HOLDS_LIST(value)) {
        for (guint i = 0; i < gst_value_list_get_size(value); ++i)
            AddRates(gst_value_list_get_value(value, i), out);
    } else {
        for (const auto& [num, den] : kCommonRates) {
            if (HoldsRate(value, num, den))
                out.emplace_back(num, den);
        }
    }
}

std::vector<Size> SizesOf(const GstStructure* s)
{
    const GValue* widths = gst_structure_get_value(s, "width");
    const GValue* heights = gst_structure_get_value(s, "height");
    std::vector<Size> sizes;
    std::vector<int> w, h;
    if (ListedInts(widths, w) && ListedInts(heights, h)) {
        for (const int width : w) {
            for (const int height : h) {
                if (width > 0 && height > 0)
                    sizes.push_back({width, height});
            }
        }
        return sizes;
    }
    for (const Size& size : kCommonSizes) {
        if (HoldsInt(widths, size.width) && HoldsInt(heights, size.height))
            sizes.push_back(size);
    }
    return sizes;
}

bool Before(const CameraFormatChoice& a, const CameraFormatChoice& b)
{
    const bool aRaw = a.media == "video/x-raw", bRaw = b.media == "video/x-raw";
    if (aRaw != bRaw)
        return aRaw;
    const std::int64_t aArea = std::int64_t{a.width} * a.height, bArea = std::int64_t{b.width} * b.height;
    if (aArea != bArea)
        return aArea > bArea;
    if (a.width != b.width)
        return a.width > b.width;
    // Rates as fractions, compared without division.
    return std::int64_t{a.rateNum} * b.rateDen > std::int64_t{b.rateNum} * a.rateDen;
}

}  // namespace

std::vector<CameraFormatChoice> ListCameraFormats(const GstCaps* offered)
{
    std::vector<CameraFormatChoice> formats;
    if (!offered || gst_caps_is_any(offered))
        return formats;
    for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
        const GstStructure* s = gst_caps_get_structure(offered, i);
        const char* media = gst_structure_get_name(s);
        if (g_strcmp0(media, "video/x-raw") != 0 && g_strcmp0(media, "image/jpeg") != 0)
            continue;
        std::vector<std::pair<int, int>> rates;
        if (const GValue* value = gst_structure_get_value(s, "framerate"))
            AddRates(value, rates);
        else
            rates.emplace_back(0, 1);
        for (const Size& size : SizesOf(s)) {
            for (const auto& [num, den] : rates) {
                CameraFormatChoice choice{media, size.width, size.height, num, den};
                if (std::find(formats.begin(), formats.end(), choice) == formats.end())
                    formats.push_back(std::move(choice));
            }
        }
    }
    std::stable_sort(formats.begin(), formats.end(), Before);
    return formats;
}

CapsRef CapsForChoice(const CameraFormatChoice& choice)
{
    GstCaps* caps = gst_caps_new_simple(choice.media.c_str(), "width", G_TYPE_INT, choice.width, "height",
                                        G_TYPE_INT, choice.height, nullptr);
    if (choice.rateNum > 0 && choice.rateDen > 0)
        gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, choice.rateNum, choice.rateDen, nullptr);
    return CapsRef(caps);
}

int FindCameraFormat(const std::vector<CameraFormatChoice>& formats, const GstCaps* caps)
{
    if (!caps || gst_caps_is_any(caps) || gst_caps_is_empty(caps))
        return -1;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    CameraFormatChoice wanted;
    wanted.media = gst_structure_get_name(s);
    if (!gst_structure_get_int(s, "width", &wanted.width) || !gst_structure_get_int(s, "height", &wanted.height))
        return -1;
    if (!gst_structure_get_fraction(s, "framerate", &wanted.rateNum, &wanted.rateDen)) {
        wanted.rateNum = 0;
        wanted.rateDen = 1;
    }
    for (std::size_t i = 0; i < formats.size(); ++i) {
        const CameraFormatChoice& f = formats[i];
        // 30/1 and 60/2 are the same rate.
        if (f.media == wanted.media && f.width == wanted.width && f.height == wanted.height &&
            std::int64_t{f.rateNum} * wanted.rateDen == std::int64_t{wanted.rateNum} * f.rateDen)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace quell

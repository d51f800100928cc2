// Fuzz target: camera names of any bytes (UTF-8 or not) through the caption's
// shortening and the numbering of equal device names.
//
// The input is a list of names, one per line. Checked on every input:
//  - a shortened name is the name, or a prefix of it followed by "...";
//  - the cut never falls inside a character of a valid UTF-8 name;
//  - for names that code page 932 holds, the prefix fits the byte budget
//    and one more character would not;
//  - a kept prefix is not cut again;
//  - the numbering keeps the list's length and numbers exactly the members
//    of groups of equal names, in order, with and without the audio list's
//    first entry.
#include "FuzzSupport.h"

#include "graph/Caption.h"
#include "graph/DeviceChoice.h"

#include <glib.h>
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quell {
namespace {

constexpr std::size_t kMaxNames = 64;
constexpr std::string_view kEllipsis = "...";

// The code page 932 length of a whole UTF-8 text, or nothing when the code
// page does not hold all of it.
std::optional<std::size_t> Cp932Length(std::string_view text)
{
    static const struct Converter {
        iconv_t cd = iconv_open("CP932", "UTF-8");
        ~Converter()
        {
            if (cd != reinterpret_cast<iconv_t>(-1))
                iconv_close(cd);
        }
    } converter;
    FUZZ_CHECK(converter.cd != reinterpret_cast<iconv_t>(-1), "no CP932 converter");
    iconv(converter.cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    std::string out(text.size() * 2 + 8, '\0');
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    if (iconv(converter.cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0)
        return std::nullopt;
    return out.size() - outLeft;
}

void CheckShorten(const std::string& name, std::size_t maxBytes)
{
    const std::string shortName = ShortenCameraName(name, maxBytes);
    const bool valid = g_utf8_validate(name.data(), static_cast<gssize>(name.size()), nullptr);
    const auto length = valid ? Cp932Length(name) : std::nullopt;
    if (length && *length <= maxBytes) {
        FUZZ_CHECK(shortName == name, name);
        return;
    }
    // A name that ends in "..." right where it is cut comes out unchanged.
    if (!length && shortName == name)
        return;
    FUZZ_CHECK(shortName.size() >= kEllipsis.size() &&
                   std::string_view(shortName).substr(shortName.size() - kEllipsis.size()) == kEllipsis,
               name);
    const std::string prefix = shortName.substr(0, shortName.size() - kEllipsis.size());
    FUZZ_CHECK(prefix.size() < name.size() && name.compare(0, prefix.size(), prefix) == 0, name);
    FUZZ_CHECK(ShortenCameraName(prefix, maxBytes) == prefix, name);
    if (!valid)
        return;
    FUZZ_CHECK(g_utf8_validate(prefix.data(), static_cast<gssize>(prefix.size()), nullptr), name);
    if (!length)
        return;
    FUZZ_CHECK(*Cp932Length(prefix) <= maxBytes, name);
    const char* next = g_utf8_next_char(name.data() + prefix.size());
    const std::size_t withNext = static_cast<std::size_t>(next - name.data());
    FUZZ_CHECK(*Cp932Length(std::string_view(name).substr(0, withNext)) > maxBytes, name);
}

void CheckCaption(const std::string& name, int width, int height, bool recording)
{
    const std::string caption = MakeCaption(name, width, height, recording);
    const std::string head = "Quellvisor - " + ShortenCameraName(name) + " (";
    FUZZ_CHECK(caption.compare(0, head.size(), head) == 0, caption);
    const std::string tail = std::to_string(width) + "x" + std::to_string(height) + ") :  " + (recording ? "録画中" : "");
    FUZZ_CHECK(caption.size() == head.size() + tail.size() && caption.compare(head.size(), tail.size(), tail) == 0,
               caption);
}

void CheckNumbering(const std::vector<std::string>& names)
{
    const std::vector<std::string> numbered = NumberDuplicateNames(names);
    FUZZ_CHECK(numbered.size() == names.size(), "length changed");
    std::map<std::string, int> total;
    for (const std::string& name : names)
        ++total[name];
    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const int occurrence = ++seen[names[i]];
        const std::string expected =
            total[names[i]] > 1 ? names[i] + " (" + std::to_string(occurrence) + ")" : names[i];
        FUZZ_CHECK(numbered[i] == expected, names[i]);
    }
}

}  // namespace
}  // namespace quell

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quell;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> names;
    while (names.size() < kMaxNames) {
        const auto newline = text.find('\n');
        names.emplace_back(text.substr(0, newline));
        if (newline == std::string_view::npos)
            break;
        text.remove_prefix(newline + 1);
    }

    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        CheckShorten(name, 12);
        CheckShorten(name, (name.size() + i) % 24);
        CheckCaption(name, static_cast<int>(name.size()) * 37 - 1000, static_cast<int>(i), i % 2 == 1);
    }

    CheckNumbering(names);
    std::vector<std::string> audio{kNoAudioName};
    audio.insert(audio.end(), names.begin(), names.end());
    CheckNumbering(audio);
    return 0;
}

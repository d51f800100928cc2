// Fuzz target: any bytes as setup.ini, read, looked up, written, saved and
// read back, directly and through the program's settings.
//
// The input is the whole file. Lookups use the program's own keys and every
// name the file itself holds; writes take their values from the file's own
// lines, so that the fuzzer steers them too. Checked on every input:
//  - reading alone changes nothing: the text is the input, byte for byte;
//  - a value read is at most 1023 bytes, and the number readers agree with
//    a plain reference;
//  - a value written reads back as written (trimmed, line breaks as spaces,
//    cut at 1023 bytes), and every other name keeps its value;
//  - a saved file reads back as the same text;
//  - the settings and start-up settings survive a save and a load.
#include "FuzzSupport.h"

#include "shell/CaptureSettings.h"
#include "shell/IniFile.h"
#include "shell/Settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quell {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
// Names looked up and written per input: enough to cover a real file, few
// enough that a file of many short lines still runs quickly.
constexpr std::size_t kMaxNames = 48;
constexpr std::size_t kMaxWrites = 12;

struct Name {
    std::string section;
    std::string key;
};

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

bool SameName(const Name& a, const Name& b)
{
    return Lower(a.section) == Lower(b.section) && Lower(a.key) == Lower(b.key);
}

// A name that can be written and found again: a section name without ']'
// and a key without '=' that cannot be taken for a comment or a header, both
// one line and already trimmed.
bool Writable(const Name& name)
{
    const auto oneLine = [](std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == s.npos; };
    return oneLine(name.section) && oneLine(name.key) && name.section.find(']') == std::string::npos &&
           Trim(name.section) == name.section && !name.key.empty() && Trim(name.key) == name.key &&
           name.key.find('=') == std::string::npos && name.key.front() != '[' && name.key.front() != ';' &&
           name.key.front() != '#';
}

std::vector<std::string_view> Lines(std::string_view text)
{
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        lines.push_back(text.substr(0, newline));
        if (newline == std::string_view::npos)
            break;
        text.remove_prefix(newline + 1);
    }
    return lines;
}

// The names of a file as a plain reader sees them: "[section]" headers and
// "key=" lines; the program's own names first.
std::vector<Name> NamesIn(const std::vector<std::string_view>& lines)
{
    std::vector<Name> names = {
        {"DEVICE", "CAM_SELECT"},    {"DEVICE", "AUDIO_SELECT"},        {"DEVICE", "WIDTH"},
        {"DEVICE", "HEIGHT"},        {"DEVICE", "FRAMERATE"},           {"APPLICATION", "WINDOW_WIDTH"},
        {"APPLICATION", "WINDOW_HEIGHT"}, {"APPLICATION", "STARTUP_TIMER"}, {"APPLICATION", "STARTUP_DIALOG"},
        {"カメラ", "名前"},
    };
    std::string section;
    for (std::string_view line : lines) {
        if (names.size() >= kMaxNames)
            break;
        const std::string_view body = Trim(line);
        if (!body.empty() && body.front() == '[') {
            const auto close = body.find(']');
            if (close != std::string_view::npos)
                section = std::string(Trim(body.substr(1, close - 1)));
            continue;
        }
        const auto equals = line.find('=');
        if (equals != std::string_view::npos && !Trim(line.substr(0, equals)).empty())
            names.push_back({section, std::string(Trim(line.substr(0, equals)))});
    }
    return names;
}

// What a written value reads back as.
std::string Expected(std::string_view value)
{
    std::string clean(value);
    for (char& c : clean) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    std::string_view trimmed = Trim(clean);
    if (trimmed.size() > CIniFile::kMaxValueBytes) {
        std::size_t end = CIniFile::kMaxValueBytes;
        while (end > 0 && (static_cast<unsigned char>(trimmed[end]) & 0xC0) == 0x80)
            --end;
        trimmed = trimmed.substr(0, end);
    }
    return std::string(trimmed);
}

// A leading decimal number (blanks, sign, digits), saturated far beyond 64
// bits; nothing when there are no digits.
std::optional<__int128> Reference(const std::string& text)
{
    std::size_t i = text.find_first_not_of(" \t\n\r\v\f");
    if (i == std::string::npos)
        return std::nullopt;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    constexpr __int128 kCap = static_cast<__int128>(1) << 100;
    __int128 value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits)
        value = std::min<__int128>(value * 10 + (text[i] - '0'), kCap);
    if (digits == 0)
        return std::nullopt;
    return negative ? -value : value;
}

void CheckNumberReaders(const std::string& text)
{
    const auto reference = Reference(text);
    constexpr std::int32_t kDefault = -77;
    std::int32_t profile = 0;
    std::int64_t score = 0;
    if (!reference) {
        profile = 0;
        score = 0;
    } else {
        const __int128 v = *reference;
        const bool fits32 = v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max();
        profile = fits32 ? static_cast<std::int32_t>(v) : kDefault;
        score = static_cast<std::int64_t>(std::clamp<__int128>(v, std::numeric_limits<std::int64_t>::min(),
                                                              std::numeric_limits<std::int64_t>::max()));
    }
    FUZZ_CHECK(ProfileInt(&text, kDefault) == profile, text);
    FUZZ_CHECK(ParseHighScore(text) == score, text);
}

void WriteFile(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.good(), "cannot write " + path);
}

void CheckSettingsRoundTrip(const std::string& path)
{
    CaptureSettings first;
    LoadSettings(path, first);
    std::string error;
    FUZZ_CHECK(SaveSettings(path, first, error), error);
    CaptureSettings second;
    LoadSettings(path, second);
    // A value cut at 1023 bytes may end in blanks, which the next read trims;
    // a NUL byte read from the file is written as a space.
    FUZZ_CHECK(second.cameraName == Expected(first.cameraName), first.cameraName);
    FUZZ_CHECK(second.audioName == Expected(first.audioName), first.audioName);
    FUZZ_CHECK(second.width == first.width && second.height == first.height, "capture size");
    FUZZ_CHECK(second.frameTime == first.frameTime, "frame time");
    FUZZ_CHECK(second.windowWidth == first.windowWidth && second.windowHeight == first.windowHeight, "window size");

    const StartupSettings startup = LoadStartupSettings(path);
    FUZZ_CHECK(SaveStartupSettings(path, startup, error), error);
    const StartupSettings again = LoadStartupSettings(path);
    FUZZ_CHECK(again.timerSeconds == startup.timerSeconds, "startup timer");
    FUZZ_CHECK(again.dialog == Expected(startup.dialog), startup.dialog);
}

}  // namespace
}  // namespace quell

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace quell;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto& scratch = fuzz::CScratchDir::Get();
    const std::string path = scratch.File("setup.ini");
    WriteFile(path, bytes);

    CIniFile ini;
    std::string error;
    FUZZ_CHECK(ini.Load(path, error), error);
    FUZZ_CHECK(ini.Text() == bytes, "reading changed the text");

    const std::vector<std::string_view> lines = Lines(bytes);
    const std::vector<Name> names = NamesIn(lines);
    std::vector<std::optional<std::string>> before;
    for (const Name& name : names) {
        before.push_back(ini.Value(name.section, name.key));
        if (before.back()) {
            FUZZ_CHECK(before.back()->size() <= CIniFile::kMaxValueBytes, name.key);
            CheckNumberReaders(*before.back());
        }
    }

    // Writes: names in turn, values from the file's lines (the last one a
    // Japanese text with a line break in it when the file has few lines).
    std::vector<Name> written;
    for (std::size_t i = 0; i < names.size() && written.size() < kMaxWrites; i += 1 + i % 3) {
        const Name& name = names[i];
        if (!Writable(name))
            continue;
        const std::string value = i < lines.size() ? std::string(lines[i]) : std::string("東京\r\n  カメラ (2) ");
        ini.SetValue(name.section, name.key, value);
        const auto read = ini.Value(name.section, name.key);
        FUZZ_CHECK(read && *read == Expected(value), name.section + "/" + name.key);
        written.push_back(name);
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        bool wasWritten = false;
        for (const Name& w : written)
            wasWritten = wasWritten || SameName(w, names[i]);
        if (!wasWritten)
            FUZZ_CHECK(ini.Value(names[i].section, names[i].key) == before[i], names[i].section + "/" + names[i].key);
    }

    const std::string saved = scratch.File("saved.ini");
    FUZZ_CHECK(ini.Save(saved, error), error);
    CIniFile reread;
    FUZZ_CHECK(reread.Load(saved, error), error);
    FUZZ_CHECK(reread.Text() == ini.Text(), "the saved file reads back differently");

    CheckSettingsRoundTrip(path);
    return 0;
}

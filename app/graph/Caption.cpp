// The main window's caption: the camera name cut by its code page 932 length.
#include "graph/Caption.h"

#include <iconv.h>

#include <cerrno>

namespace quell {

namespace {

// One code page 932 converter for the length of one call.
class CCp932Counter {
public:
    CCp932Counter() : m_cd(iconv_open("CP932", "UTF-8")) {}
    ~CCp932Counter()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    CCp932Counter(const CCp932Counter&) = delete;
    CCp932Counter& operator=(const CCp932Counter&) = delete;

    // The CP932 bytes of one UTF-8 character `utf8`, whose code point is
    // `codePoint` (-1 for a byte that is not valid UTF-8).
    std::size_t Bytes(std::string_view utf8, long codePoint)
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1) && codePoint >= 0) {
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            char* in = const_cast<char*>(utf8.data());
            std::size_t inLeft = utf8.size();
            char out[8];
            char* outPtr = out;
            std::size_t outLeft = sizeof out;
            if (iconv(m_cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0)
                return sizeof out - outLeft;
        }
        // Not in the code page: counted as it would be if it were.
        if (codePoint >= 0 && codePoint < 0x80)
            return 1;
        if (codePoint >= 0xFF61 && codePoint <= 0xFF9F)
            return 1;
        return 2;
    }

private:
    iconv_t m_cd;
};

// Length of the UTF-8 character at the start of `text` and its code point;
// a byte that does not start a valid sequence is a character of its own.
std::size_t NextCharacter(std::string_view text, long& codePoint)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    long value = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    }
    if (length == 0 || text.size() < length) {
        codePoint = -1;
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            codePoint = -1;
            return 1;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not characters.
    static constexpr long kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
        codePoint = -1;
        return 1;
    }
    codePoint = value;
    return length;
}

}  // namespace

std::string ShortenCameraName(const std::string& name, std::size_t maxBytes)
{
    CCp932Counter counter;
    const std::string_view text = name;
    std::size_t total = 0;
    std::size_t cut = std::string::npos;  // end of the characters that fit
    for (std::size_t pos = 0; pos < text.size();) {
        long codePoint = 0;
        const std::size_t length = NextCharacter(text.substr(pos), codePoint);
        total += counter.Bytes(text.substr(pos, length), codePoint);
        if (total > maxBytes) {
            cut = pos;
            break;
        }
        pos += length;
    }
    if (cut == std::string::npos)
        return name;
    return name.substr(0, cut) + "...";
}

std::string MakeCaption(const std::string& cameraName, int width, int height, bool recording)
{
    // "%s (%dx%d) : %s %s" with an empty fourth value.
    return "Quellvisor - " + ShortenCameraName(cameraName) + " (" + std::to_string(width) + "x" +
           std::to_string(height) + ") :  " + (recording ? "録画中" : "");
}

}  // namespace quell

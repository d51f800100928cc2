// A small INI file reader and writer that changes only the lines it writes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quell {

// Own class rather than GKeyFile (rejects a whole file for one bad line) or
// QSettings' INI format (rewrites the file sorted, drops comments, reads
// "a, b" as a list).
//
// Reading: section and key names match case-insensitively (ASCII), the first
// section of a name and the first key of a name in it win, names and values
// are trimmed. Lines ending in LF or CRLF, a UTF-8 byte order mark, and a last
// line without a line break are all accepted. Lines that are neither a
// section header nor "key=value" (comments, blank lines, garbage) are kept
// byte for byte, as is every line that is not written.
class CIniFile {
public:
    // Values are read as into a buffer of 1024 bytes: longer ones are cut to
    // this many bytes, never inside a UTF-8 character.
    static constexpr std::size_t kMaxValueBytes = 1023;

    // Reads `path`. A missing file reads as an empty one. False with a
    // message in `error` when the file exists but cannot be read.
    bool Load(const std::string& path, std::string& error);

    // The value of `key` in `section`, or nothing when either is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // Changes the first `key` of `section` in place, or adds it after the
    // section's last line, or adds the section at the end of the file. Line
    // breaks in `value` become spaces so that a value stays one line.
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    // Replaces `path` atomically (a temporary file beside it, then a rename).
    // False with a message in `error` when the file or its folder cannot be
    // written; the old file then stays as it was.
    bool Save(const std::string& path, std::string& error) const;

    // The file's bytes as Save writes them.
    std::string Text() const;

private:
    struct Line {
        std::string text;  // without its line break
        std::string eol;   // "\n", "\r\n", or "" on a last line without one
    };
    // Lines [first, end) of a section, first being the line after the header.
    struct Range {
        std::size_t header;
        std::size_t first;
        std::size_t end;
    };

    std::optional<Range> FindSection(std::string_view section) const;
    std::optional<std::size_t> FindKey(const Range& range, std::string_view key) const;
    std::string LineBreak() const;

    bool m_bom = false;
    std::vector<Line> m_lines;
};

}  // namespace quell

// Reading and line-preserving writing of INI files.
#include "shell/IniFile.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quell {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// What one line of the file is.
struct ParsedLine {
    enum Kind { kOther, kSection, kKey } kind = kOther;
    std::string_view name;
    std::size_t valueStart = 0;  // offset of the (trimmed) value in the line
    std::string_view value;
};

ParsedLine ParseLine(std::string_view text)
{
    ParsedLine parsed;
    const std::string_view body = Trim(text);
    if (body.empty() || body.front() == ';' || body.front() == '#')
        return parsed;
    if (body.front() == '[') {
        const auto close = body.find(']');
        if (close != std::string_view::npos) {
            parsed.kind = ParsedLine::kSection;
            parsed.name = Trim(body.substr(1, close - 1));
        }
        return parsed;
    }
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        return parsed;
    parsed.name = Trim(text.substr(0, equals));
    if (parsed.name.empty())
        return parsed;
    parsed.kind = ParsedLine::kKey;
    const std::string_view rest = text.substr(equals + 1);
    const auto valueOffset = rest.find_first_not_of(kBlanks);
    parsed.valueStart = valueOffset == std::string_view::npos ? text.size() : equals + 1 + valueOffset;
    parsed.value = Trim(rest);
    return parsed;
}

bool IsBlank(std::string_view text)
{
    return Trim(text).empty();
}

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return std::string(text);
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

}  // namespace

bool CIniFile::Load(const std::string& path, std::string& error)
{
    m_bom = false;
    m_lines.clear();

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = "Cannot read " + path + ": " + ErrnoText(errno);
        return false;
    }
    std::string data;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "Cannot read " + path + ": " + ErrnoText(errno);
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);

    std::string_view rest = data;
    if (rest.substr(0, kBom.size()) == kBom) {
        m_bom = true;
        rest.remove_prefix(kBom.size());
    }
    while (!rest.empty()) {
        const auto newline = rest.find('\n');
        if (newline == std::string_view::npos) {
            m_lines.push_back({std::string(rest), ""});
            break;
        }
        std::string_view text = rest.substr(0, newline);
        std::string eol = "\n";
        if (!text.empty() && text.back() == '\r') {
            text.remove_suffix(1);
            eol = "\r\n";
        }
        m_lines.push_back({std::string(text), eol});
        rest.remove_prefix(newline + 1);
    }
    return true;
}

std::optional<CIniFile::Range> CIniFile::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const ParsedLine header = ParseLine(m_lines[i].text);
        if (header.kind != ParsedLine::kSection || !SameName(header.name, section))
            continue;
        std::size_t end = i + 1;
        while (end < m_lines.size() && ParseLine(m_lines[end].text).kind != ParsedLine::kSection)
            ++end;
        return Range{i, i + 1, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> CIniFile::FindKey(const Range& range, std::string_view key) const
{
    for (std::size_t i = range.first; i < range.end; ++i) {
        const ParsedLine line = ParseLine(m_lines[i].text);
        if (line.kind == ParsedLine::kKey && SameName(line.name, key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> CIniFile::Value(std::string_view section, std::string_view key) const
{
    const auto range = FindSection(section);
    if (!range)
        return std::nullopt;
    const auto index = FindKey(*range, key);
    if (!index)
        return std::nullopt;
    return CutUtf8(ParseLine(m_lines[*index].text).value, kMaxValueBytes);
}

// New lines follow the file's own line breaks; a new file gets LF.
std::string CIniFile::LineBreak() const
{
    for (const Line& line : m_lines) {
        if (!line.eol.empty())
            return line.eol;
    }
    return "\n";
}

void CIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value)
{
    std::string clean(value);
    for (char& c : clean) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    const std::string eol = LineBreak();
    const std::string newLine = std::string(key) + "=" + clean;

    const auto range = FindSection(section);
    if (range) {
        if (const auto index = FindKey(*range, key)) {
            Line& line = m_lines[*index];
            line.text = line.text.substr(0, ParseLine(line.text).valueStart) + clean;
            return;
        }
        // After the section's last non-blank line, so that blank lines
        // before the next section stay where they are.
        std::size_t after = range->header;
        for (std::size_t i = range->first; i < range->end; ++i) {
            if (!IsBlank(m_lines[i].text))
                after = i;
        }
        if (m_lines[after].eol.empty())
            m_lines[after].eol = eol;
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(after + 1), Line{newLine, eol});
        return;
    }

    if (!m_lines.empty()) {
        if (m_lines.back().eol.empty())
            m_lines.back().eol = eol;
        if (!IsBlank(m_lines.back().text))
            m_lines.push_back({"", eol});
    }
    m_lines.push_back({"[" + std::string(section) + "]", eol});
    m_lines.push_back({newLine, eol});
}

std::string CIniFile::Text() const
{
    std::string text;
    if (m_bom)
        text += kBom;
    for (const Line& line : m_lines) {
        text += line.text;
        text += line.eol;
    }
    return text;
}

bool CIniFile::Save(const std::string& path, std::string& error) const
{
    // The rename would replace a read-only file as long as its folder is
    // writable; a file the user made read-only is meant to stay.
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0) {
        error = "Cannot write " + path + ": the file is not writable (" + ErrnoText(errno) + ")";
        return false;
    }
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        // The temporary file goes beside the file, so the folder must be
        // writable even when the file itself is.
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        if (::access(folder.c_str(), W_OK) != 0)
            error = "Cannot write " + path + ": the folder " + folder + " is not writable (" + ErrnoText(errno) + ")";
        else
            error = "Cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    const std::string text = Text();
    if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
        error = "Cannot write " + path + ": " + file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = "Cannot write " + path + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace quell

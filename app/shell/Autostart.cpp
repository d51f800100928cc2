// The autostart entry in the user's autostart folder.
#include "shell/Autostart.h"

#include <QSaveFile>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace quell {

namespace {

// Characters that force an Exec argument into quotes; control characters
// are quoted as well, so that a line break never separates arguments.
bool IsReserved(char c)
{
    return std::string_view(" \t\n\"'\\><~|&;$*?#()`").find(c) != std::string_view::npos ||
           static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// Inside double quotes these four take a backslash.
bool NeedsQuotedEscape(char c)
{
    return c == '"' || c == '`' || c == '$' || c == '\\';
}

bool IsValidUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUtf8() ==
           QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::string UnescapeDesktopString(std::string_view value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default:
            // Unknown escapes stay for the next layer (the Exec quoting).
            out += '\\';
            out += value[i];
            break;
        }
    }
    return out;
}

// Makes every missing folder of `path` with mode 0700, as the base
// directory rules ask for configuration folders.
bool MakeFolders(const std::string& path, std::string& error)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        struct stat info {};
        if (::stat(part.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                error = part + " is not a folder";
                return false;
            }
        } else if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = "Cannot create the folder " + part + ": " + std::strerror(errno);
            return false;
        }
        if (slash == std::string::npos)
            return true;
    }
}

}  // namespace

std::string AutostartFolder(std::string& error)
{
    // Relative values are invalid by the base directory rules and ignored.
    std::string config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            error = "Neither XDG_CONFIG_HOME nor HOME names a folder";
            return {};
        }
        config = std::string(home) + "/.config";
    }
    while (config.size() > 1 && config.back() == '/')
        config.pop_back();
    const std::string folder = (config == "/" ? "" : config) + "/autostart";
    if (!MakeFolders(folder, error))
        return {};
    return folder;
}

bool FileExistsInFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty() || name.empty() || name.find('/') != std::string::npos)
        return false;
    struct stat info {};
    return ::lstat((folder + "/" + name).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string QuoteExecArgument(const std::string& argument)
{
    bool quote = argument.empty();
    for (char c : argument)
        quote = quote || IsReserved(c);
    std::string out;
    if (quote)
        out += '"';
    for (char c : argument) {
        // GLib's launcher looks for the program before it undoes "%%", so
        // a path with '%' is written correctly but not started there.
        if (c == '%')
            out += "%%";
        else if (quote && NeedsQuotedEscape(c))
            out += {'\\', c};
        else
            out += c;
    }
    if (quote)
        out += '"';
    return out;
}

std::string EscapeDesktopString(const std::string& value)
{
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        switch (value[i]) {
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case ' ': out += i == 0 ? "\\s" : " "; break;
        default: out += value[i]; break;
        }
    }
    return out;
}

bool CreateStartupEntry(const std::string& folder, const std::string& programPath, std::string& error)
{
    if (programPath.empty() || !IsValidUtf8(programPath)) {
        error = "The program path cannot be written into a desktop entry: " + programPath;
        return false;
    }
    const std::string exec = QuoteExecArgument(programPath) + " startup";
    const std::string text = "[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Quellvisor\n"
                             "Exec=" + EscapeDesktopString(exec) + "\n"
                             "Icon=quellvisor\n"
                             "Terminal=false\n"
                             "X-GNOME-Autostart-enabled=true\n";

    // Written beside the old entry and renamed over it, so that a log-on
    // never finds half an entry.
    const std::string path = folder + "/" + kAutostartFileName;
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        error = "Cannot write " + path + ": " + file.errorString().toStdString();
        file.cancelWriting();
        return false;
    }
    return true;
}

bool RemoveStartupEntry(const std::string& folder, std::string& error)
{
    // unlink, not remove: a folder of that name is never deleted.
    const std::string path = folder + "/" + kAutostartFileName;
    if (::unlink(path.c_str()) != 0) {
        error = "Cannot delete " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::optional<std::map<std::string, std::string>> ParseDesktopEntry(const std::string& text)
{
    std::map<std::string, std::string> keys;
    bool found = false;
    bool inGroup = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]" && !found;
            found = found || inGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (!inGroup || equals == std::string_view::npos)
            continue;
        // The first of a repeated key counts.
        keys.emplace(Trim(line.substr(0, equals)), UnescapeDesktopString(Trim(line.substr(equals + 1))));
    }
    if (!found)
        return std::nullopt;
    return keys;
}

std::optional<std::vector<std::string>> SplitExec(const std::string& exec)
{
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (c == '%') {
            if (i + 1 == exec.size() || exec[i + 1] != '%')
                return std::nullopt;
            current += '%';
            inArgument = true;
            ++i;
        } else if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\') {
                if (i + 1 == exec.size() || !NeedsQuotedEscape(exec[i + 1]))
                    return std::nullopt;
                current += exec[++i];
            } else {
                current += c;
            }
        } else if (c == ' ') {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else if (c == '"') {
            quoted = true;
            inArgument = true;
        } else if (IsReserved(c)) {
            return std::nullopt;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (quoted)
        return std::nullopt;
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

}  // namespace quell

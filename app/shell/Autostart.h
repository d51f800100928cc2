// The autostart entry that starts the capture program at log-on with the
// argument "startup", and the desktop-entry quoting it needs.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quell {

// The entry's file name in the autostart folder.
inline constexpr const char* kAutostartFileName = "quellvisor.desktop";

// $XDG_CONFIG_HOME/autostart, or $HOME/.config/autostart when XDG_CONFIG_HOME
// is unset, empty or relative; made when missing. Empty when neither variable
// gives a folder or the folder cannot be made (`error` then says why).
std::string AutostartFolder(std::string& error);

// True when `folder` holds an entry called `name` that is not a folder (a
// dangling symbolic link counts, so that it can be removed).
bool FileExistsInFolder(const std::string& folder, const std::string& name);

// Writes `folder`/quellvisor.desktop, replacing an existing one atomically,
// so that `programPath` runs with exactly the argument "startup". False with a
// message in `error` when it cannot be written or the path is not UTF-8.
bool CreateStartupEntry(const std::string& folder, const std::string& programPath, std::string& error);

// Deletes `folder`/quellvisor.desktop. False with a message naming the path
// in `error` when it cannot be deleted.
bool RemoveStartupEntry(const std::string& folder, std::string& error);

// One argument of an Exec line: left as it is when it needs no quoting,
// otherwise in double quotes with '"', '`', '$' and '\' escaped; '%' doubled.
// The result still needs the string escapes of EscapeDesktopString.
std::string QuoteExecArgument(const std::string& argument);

// The escapes of a desktop-entry string value: '\' and the line breaks and
// tab, and a leading space.
std::string EscapeDesktopString(const std::string& value);

// The keys of the "[Desktop Entry]" group of a desktop file, with the string
// escapes undone. Nothing when the text has no such group.
std::optional<std::map<std::string, std::string>> ParseDesktopEntry(const std::string& text);

// Splits an (unescaped) Exec value into its arguments by the quoting rules
// of desktop entries. Nothing when the value breaks them: an unclosed quote,
// a reserved character outside quotes, an unknown escape, a field code
// other than "%%".
std::optional<std::vector<std::string>> SplitExec(const std::string& exec);

}  // namespace quell

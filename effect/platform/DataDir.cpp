// Data folder lookup: the requested folder first, the installed one second.
#include "platform/DataDir.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace quell {

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

}  // namespace

std::string InstalledDataDir()
{
    // The module's own folder never changes while it is loaded: look it up
    // once. Its data folder is checked on every call, since a build may
    // fill it later.
    static const fs::path moduleDir = [] {
        Dl_info info{};
        // Any symbol of this module locates the module file itself.
        if (dladdr(reinterpret_cast<void*>(&InstalledDataDir), &info) == 0 || info.dli_fname == nullptr)
            return fs::path();
        std::error_code ec;
        const fs::path module = fs::canonical(info.dli_fname, ec);
        return ec ? fs::path() : module.parent_path();
    }();
    if (moduleDir.empty())
        return {};
    std::error_code ec;
    for (const fs::path& candidate : {moduleDir / "data", moduleDir / "quellfx" / "data"}) {
        if (fs::is_directory(candidate, ec))
            return candidate.string();
    }
    return {};
}

std::string ResolveDataFile(const std::string& requestedDir, const std::string& name)
{
    const fs::path requested = fs::path(requestedDir) / name;
    if (IsFile(requested))
        return requested.string();
    const std::string installed = InstalledDataDir();
    if (!installed.empty()) {
        const fs::path fallback = fs::path(installed) / name;
        if (IsFile(fallback))
            return fallback.string();
    }
    return requested.string();
}

}  // namespace quell

// Data folder lookup: the requested folder first, the installed one second.
#include "platform/DataDir.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

// QUELL_PLUGIN_TO_DATA, set by the build: the installed data folder relative
// to the installed plugin folder (e.g. "../../../share/quellfx/data").

namespace quell {

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool IsFolder(const fs::path& p)
{
    std::error_code ec;
    return fs::is_directory(p, ec);
}

}  // namespace

std::string DataDirForModule(const std::string& moduleDir)
{
    if (moduleDir.empty())
        return {};
    const fs::path dir(moduleDir);
    for (const fs::path& candidate : {dir / "data", (dir / QUELL_PLUGIN_TO_DATA).lexically_normal()}) {
        if (IsFolder(candidate))
            return candidate.string();
    }
    return {};
}

std::string InstalledDataDir()
{
    // The module's own folder never changes while it is loaded: look it up
    // once. Its data folder is checked on every call, since a build may
    // fill it later.
    static const std::string moduleDir = [] {
        Dl_info info{};
        // Any symbol of this module locates the module file itself.
        if (dladdr(reinterpret_cast<void*>(&InstalledDataDir), &info) == 0 || info.dli_fname == nullptr)
            return std::string();
        std::error_code ec;
        const fs::path module = fs::canonical(info.dli_fname, ec);
        return ec ? std::string() : module.parent_path().string();
    }();
    return DataDirForModule(moduleDir);
}

std::string ResolveDataFile(const std::string& requestedDir, const std::string& name,
                            const std::string& installedDir)
{
    const fs::path requested = fs::path(requestedDir) / name;
    if (IsFile(requested))
        return requested.string();
    if (!installedDir.empty()) {
        const fs::path fallback = fs::path(installedDir) / name;
        if (IsFile(fallback))
            return fallback.string();
    }
    return requested.string();
}

std::string ResolveDataFile(const std::string& requestedDir, const std::string& name)
{
    return ResolveDataFile(requestedDir, name, InstalledDataDir());
}

}  // namespace quell

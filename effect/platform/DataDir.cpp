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
    Dl_info info{};
    // Any symbol of this module locates the module file itself.
    if (dladdr(reinterpret_cast<void*>(&InstalledDataDir), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code ec;
    const fs::path module = fs::canonical(info.dli_fname, ec);
    if (ec)
        return {};
    const fs::path dir = module.parent_path();
    for (const fs::path& candidate : {dir / "data", dir / "quellfx" / "data"}) {
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

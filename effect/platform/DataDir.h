// Where the effect finds its data files (cascades and sounds).
#pragma once

#include <string>

namespace quell {

// The data folder of a plugin module that sits in `moduleDir`: "data" beside
// the module (the build's output folder), else the installed data folder,
// found from the plugin folder by the install layout's relative path. Empty
// when neither folder exists.
std::string DataDirForModule(const std::string& moduleDir);

// DataDirForModule() of the module this code is linked into. Empty when the
// module's own path cannot be found.
std::string InstalledDataDir();

// The path of data file `name`: `requestedDir/name` when that file exists,
// else the same file in `installedDir` when it exists there, else
// `requestedDir/name` (so that a missing file is reported under the name the
// user asked for).
std::string ResolveDataFile(const std::string& requestedDir, const std::string& name,
                            const std::string& installedDir);

// ResolveDataFile() with the module's InstalledDataDir().
std::string ResolveDataFile(const std::string& requestedDir, const std::string& name);

}  // namespace quell

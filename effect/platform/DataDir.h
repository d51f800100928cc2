// Where the effect finds its data files (cascades and sounds).
#pragma once

#include <string>

namespace quell {

// The data folder installed with the plugin: "data" beside the plugin module
// in a build tree, or "quellfx/data" beside it once installed. Empty when the
// module's own path cannot be found.
std::string InstalledDataDir();

// The path of data file `name`: `requestedDir/name` when that file exists,
// else the same file in the installed data folder when it exists there, else
// `requestedDir/name` (so that a missing file is reported under the name the
// user asked for).
std::string ResolveDataFile(const std::string& requestedDir, const std::string& name);

}  // namespace quell

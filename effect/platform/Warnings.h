// Problems the effect reports to its host while it goes on working.
#pragma once

#include <string>

namespace quell {

enum class Warning {
    MissingDataFile,     // a cascade or sound file is not there (or empty)
    UnreadableDataFile,  // a cascade file is there but cannot be used
    DetectionOff,        // no cascade could be loaded: faces are not found
};

// Receives the effect's warnings; the element posts them on its bus. Called
// from whichever thread noticed the problem, never while the effect holds a
// lock of its own.
class IWarningSink {
public:
    virtual ~IWarningSink() = default;
    // `file` is the data file concerned (empty when none), `detail` a short
    // explanation for developers.
    virtual void Warn(Warning what, const std::string& file, const std::string& detail) = 0;
};

}  // namespace quell

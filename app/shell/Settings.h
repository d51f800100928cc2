// setup.ini and the high score kept in the user's profile.
#pragma once

#include "shell/CaptureSettings.h"

#include <cstdint>
#include <string>

namespace quell {

// The folder of the running program file, with a trailing '/'.
std::string GetProgramFolder();

// Where setup.ini and the recordings live: beside the program when its
// folder is writable, else $XDG_CONFIG_HOME/quellvisor/ and the XDG videos
// folder's Quellvisor/.
struct StoragePlaces {
    std::string settingsFile;   // full path of setup.ini
    std::string videoFolder;    // folder of the recordings
};
StoragePlaces ChooseStoragePlaces(const std::string& programFolder);

// Integer reading of an INI value as the private-profile functions do it:
// leading blanks, an optional sign, digits up to the first other
// character; no digits give 0, a missing key `def`. A number that does not
// fit in 32 bits is unusable and gives `def`.
std::int32_t ProfileInt(const std::string* text, std::int32_t def);

// The high score's lenient 64-bit conversion: leading spaces and a sign,
// digits up to the first other character, no digits give 0.
std::int64_t ParseHighScore(const std::string& text);

// Reads every key of `settings` from `file`; missing or unusable values
// keep their defaults.
void LoadSettings(const std::string& file, CaptureSettings& settings);

// Writes the seven keys (and CAM_ID when there is an id to keep or to
// empty), keeping everything else in the file. On failure
// returns false with a message in `error`, and the file stays as it was.
bool SaveSettings(const std::string& file, const CaptureSettings& settings, std::string& error);

StartupSettings LoadStartupSettings(const std::string& file);

// Writes STARTUP_TIMER and STARTUP_DIALOG, keeping everything else in the
// file. On failure returns false with a message in `error`, and the file
// stays as it was.
bool SaveStartupSettings(const std::string& file, const StartupSettings& startup, std::string& error);

// QSettings("Korvane", "Capture"), group SCORE, key HIGHSCORE.
std::int64_t LoadHighScore();
bool SaveHighScore(std::int64_t highScore);

}  // namespace quell

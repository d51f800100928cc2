// setup.ini, the places of the program's files, and the high score profile.
#include "shell/Settings.h"

#include "shell/IniFile.h"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace quell {

namespace {

constexpr const char* kDevice = "DEVICE";
constexpr const char* kApplication = "APPLICATION";

// A leading decimal number: blanks, an optional sign, digits. Nothing when
// there are no digits; `overflow` when the number leaves [min, max].
struct LeadingNumber {
    std::int64_t value = 0;
    bool overflow = false;
};

std::optional<LeadingNumber> ParseLeadingNumber(const std::string& text, std::int64_t min, std::int64_t max)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digits = i;
    // Accumulated as a negative number, whose range includes the minimum.
    LeadingNumber number;
    const std::int64_t limit = negative ? min : -max;
    std::int64_t accumulated = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (number.overflow)
            continue;
        if (accumulated < (limit + digit) / 10) {
            number.overflow = true;
            continue;
        }
        accumulated = accumulated * 10 - digit;
    }
    if (i == digits)
        return std::nullopt;
    if (number.overflow)
        number.value = negative ? min : max;
    else
        number.value = negative ? accumulated : -accumulated;
    return number;
}

// An integer key that must hold a number: a missing key, no digits or a
// value outside 32 bits gives `def`.
std::int32_t ReadInt(const CIniFile& ini, const char* section, const char* key, std::int32_t def)
{
    const auto text = ini.Value(section, key);
    if (!text)
        return def;
    const auto number = ParseLeadingNumber(*text, std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::int32_t>::max());
    if (!number || number->overflow)
        return def;
    return static_cast<std::int32_t>(number->value);
}

std::string ReadString(const CIniFile& ini, const char* section, const char* key, const std::string& def)
{
    const auto text = ini.Value(section, key);
    return text ? *text : def;
}

bool Writable(const std::string& path)
{
    return ::access(path.c_str(), W_OK) == 0;
}

// Saves `ini` as `file`, making its folder first: the per-user place
// ($XDG_CONFIG_HOME/quellvisor) may not exist yet.
bool SaveInFolder(const CIniFile& ini, const std::string& file, std::string& error)
{
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty()) {
        std::error_code code;
        std::filesystem::create_directories(folder, code);
        if (code) {
            error = "Cannot create the folder " + folder.string() + ": " + code.message();
            return false;
        }
    }
    return ini.Save(file, error);
}

}  // namespace

std::string GetProgramFolder()
{
    std::error_code error;
    const std::string program = std::filesystem::read_symlink("/proc/self/exe", error).string();
    const auto slash = program.rfind('/');
    if (error || slash == std::string::npos)
        return "./";
    return program.substr(0, slash + 1);
}

StoragePlaces ChooseStoragePlaces(const std::string& programFolder)
{
    std::string folder = programFolder;
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    const std::string besideProgram = folder + "setup.ini";
    // An installed program (its data under ../share, none beside it) keeps
    // its files in the user's places even where it could write its own
    // folder, as root can write /usr/bin.
    const bool installed = !folder.empty() && ::access((folder + "data").c_str(), F_OK) != 0 &&
                           ::access((folder + "../share/quellfx/data").c_str(), F_OK) == 0;
    if (!folder.empty() && !installed && Writable(folder) &&
        (::access(besideProgram.c_str(), F_OK) != 0 || Writable(besideProgram)))
        return {besideProgram, folder + "video"};

    const std::string config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString();
    const std::string videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString();
    return {config + "/quellvisor/setup.ini", videos + "/Quellvisor"};
}

std::int32_t ProfileInt(const std::string* text, std::int32_t def)
{
    if (!text)
        return def;
    const auto number = ParseLeadingNumber(*text, std::numeric_limits<std::int32_t>::min(),
                                           std::numeric_limits<std::int32_t>::max());
    if (!number)
        return 0;
    return number->overflow ? def : static_cast<std::int32_t>(number->value);
}

std::int64_t ParseHighScore(const std::string& text)
{
    // Beyond 64 bits the value stays at the nearest end of the range.
    const auto number = ParseLeadingNumber(text, std::numeric_limits<std::int64_t>::min(),
                                           std::numeric_limits<std::int64_t>::max());
    return number ? number->value : 0;
}

void LoadSettings(const std::string& file, CaptureSettings& settings)
{
    // A file that cannot be read reads as a missing one.
    CIniFile ini;
    std::string error;
    ini.Load(file, error);

    const CaptureSettings defaults;
    settings.cameraName = ReadString(ini, kDevice, "CAM_SELECT", defaults.cameraName);
    settings.cameraId = ReadString(ini, kDevice, "CAM_ID", defaults.cameraId);
    settings.audioName = ReadString(ini, kDevice, "AUDIO_SELECT", defaults.audioName);
    settings.width = ReadInt(ini, kDevice, "WIDTH", defaults.width);
    settings.height = ReadInt(ini, kDevice, "HEIGHT", defaults.height);
    // Kept in 64 bits, stored in 32: "-1" comes back as 4294967295.
    settings.frameTime = static_cast<std::uint32_t>(
        ReadInt(ini, kDevice, "FRAMERATE", static_cast<std::int32_t>(defaults.frameTime)));
    settings.windowWidth = ReadInt(ini, kApplication, "WINDOW_WIDTH", defaults.windowWidth);
    settings.windowHeight = ReadInt(ini, kApplication, "WINDOW_HEIGHT", defaults.windowHeight);
}

bool SaveSettings(const std::string& file, const CaptureSettings& settings, std::string& error)
{
    // The existing file is read first so that every key it holds survives;
    // one that cannot be read is not replaced.
    CIniFile ini;
    if (!ini.Load(file, error))
        return false;

    ini.SetValue(kDevice, "CAM_SELECT", settings.cameraName);
    // Our own key beside the numbered name; a camera without an id leaves a
    // file without the key as it is, and empties an id left by another.
    if (!settings.cameraId.empty() || ini.Value(kDevice, "CAM_ID"))
        ini.SetValue(kDevice, "CAM_ID", settings.cameraId);
    ini.SetValue(kDevice, "AUDIO_SELECT", settings.audioName);
    ini.SetValue(kDevice, "WIDTH", std::to_string(settings.width));
    ini.SetValue(kDevice, "HEIGHT", std::to_string(settings.height));
    const auto frameTime = static_cast<std::int32_t>(static_cast<std::uint32_t>(settings.frameTime));
    ini.SetValue(kDevice, "FRAMERATE", std::to_string(frameTime));
    ini.SetValue(kApplication, "WINDOW_WIDTH", std::to_string(settings.windowWidth));
    ini.SetValue(kApplication, "WINDOW_HEIGHT", std::to_string(settings.windowHeight));

    return SaveInFolder(ini, file, error);
}

StartupSettings LoadStartupSettings(const std::string& file)
{
    CIniFile ini;
    std::string error;
    ini.Load(file, error);

    StartupSettings startup;
    const auto timer = ini.Value(kApplication, "STARTUP_TIMER");
    startup.timerSeconds = ProfileInt(timer ? &*timer : nullptr, 0);
    startup.dialog = ReadString(ini, kApplication, "STARTUP_DIALOG", startup.dialog);
    return startup;
}

bool SaveStartupSettings(const std::string& file, const StartupSettings& startup, std::string& error)
{
    CIniFile ini;
    if (!ini.Load(file, error))
        return false;
    ini.SetValue(kApplication, "STARTUP_TIMER", std::to_string(startup.timerSeconds));
    ini.SetValue(kApplication, "STARTUP_DIALOG", startup.dialog);

    return SaveInFolder(ini, file, error);
}

// The organisation and program names are given here, so no
// QCoreApplication is needed.
std::int64_t LoadHighScore()
{
    const QSettings profile(QSettings::NativeFormat, QSettings::UserScope, "Korvane", "Capture");
    const QVariant value = profile.value("SCORE/HIGHSCORE", QStringLiteral("0"));
    // A hand-edited value with a comma reads as a list; its text is what counts.
    const QString text = value.typeId() == QMetaType::QStringList ? value.toStringList().join(", ") : value.toString();
    return ParseHighScore(text.toStdString());
}

bool SaveHighScore(std::int64_t highScore)
{
    QSettings profile(QSettings::NativeFormat, QSettings::UserScope, "Korvane", "Capture");
    profile.setValue("SCORE/HIGHSCORE", QString::number(highScore));
    profile.sync();
    return profile.status() == QSettings::NoError;
}

}  // namespace quell

// setup.ini through LoadSettings/SaveSettings, the places of the program's
// files, and the high score in the user's profile.
#include "shell/Settings.h"

#include "BaseTestSupport.h"

#include <QCoreApplication>
#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <limits>

namespace quell {
namespace {

using test::CTempDir;
using test::ReadFile;
using test::RunUnprivileged;
using test::WriteFile;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(SettingsTest, MissingFileGivesDefaults)
{
    CTempDir dir;
    CaptureSettings settings;
    LoadSettings(dir / "setup.ini", settings);
    EXPECT_EQ(settings.cameraName, "");
    EXPECT_EQ(settings.audioName, "");
    EXPECT_EQ(settings.width, 640);
    EXPECT_EQ(settings.height, 480);
    EXPECT_EQ(settings.frameTime, 666666);
    EXPECT_EQ(settings.windowWidth, 640);
    EXPECT_EQ(settings.windowHeight, 480);

    const StartupSettings startup = LoadStartupSettings(dir / "setup.ini");
    EXPECT_EQ(startup.timerSeconds, 0);
    EXPECT_EQ(startup.dialog, "off");
}

TEST(SettingsTest, SaveWritesTheSevenKeysAndKeepsEverythingElse)
{
    CTempDir dir;
    const std::string path = dir / "setup.ini";
    const std::string kept = "; the user's note\r\n[APPLICATION]\r\nSTARTUP_TIMER = 5\r\nMY_KEY=mine\r\n";
    WriteFile(path, kept);

    CaptureSettings settings;
    settings.cameraName = "1: USB カメラ";
    settings.audioName = "録音なし";
    settings.width = 1280;
    settings.height = 720;
    settings.frameTime = 333333;
    settings.windowWidth = 320;
    settings.windowHeight = 240;
    std::string error;
    ASSERT_TRUE(SaveSettings(path, settings, error)) << error;

    const std::string text = ReadFile(path);
    EXPECT_EQ(text.substr(0, kept.size()), kept);
    for (const char* line : {"CAM_SELECT=1: USB カメラ\r\n", "AUDIO_SELECT=録音なし\r\n", "WIDTH=1280\r\n",
                             "HEIGHT=720\r\n", "FRAMERATE=333333\r\n", "WINDOW_WIDTH=320\r\n", "WINDOW_HEIGHT=240\r\n"})
        EXPECT_TRUE(Contains(text, line)) << line << " missing from\n" << text;
    EXPECT_FALSE(Contains(text, "STARTUP_DIALOG"));

    CaptureSettings loaded;
    LoadSettings(path, loaded);
    EXPECT_EQ(loaded.cameraName, settings.cameraName);
    EXPECT_EQ(loaded.audioName, settings.audioName);
    EXPECT_EQ(loaded.width, 1280);
    EXPECT_EQ(loaded.height, 720);
    EXPECT_EQ(loaded.frameTime, 333333);
    EXPECT_EQ(loaded.windowWidth, 320);
    EXPECT_EQ(loaded.windowHeight, 240);
    EXPECT_EQ(LoadStartupSettings(path).timerSeconds, 5);
}

TEST(SettingsTest, NewFileHoldsNoStartupKeys)
{
    CTempDir dir;
    std::string error;
    ASSERT_TRUE(SaveSettings(dir / "setup.ini", CaptureSettings(), error)) << error;
    EXPECT_EQ(ReadFile(dir / "setup.ini"),
              "[DEVICE]\nCAM_SELECT=\nAUDIO_SELECT=\nWIDTH=640\nHEIGHT=480\nFRAMERATE=666666\n\n"
              "[APPLICATION]\nWINDOW_WIDTH=640\nWINDOW_HEIGHT=480\n");
}

TEST(SettingsTest, SaveMakesTheMissingPerUserFolder)
{
    CTempDir dir;
    const std::string path = dir / "config/quellvisor/setup.ini";
    std::string error;
    ASSERT_TRUE(SaveSettings(path, CaptureSettings(), error)) << error;
    EXPECT_TRUE(Contains(ReadFile(path), "WIDTH=640"));
}

// FRAMERATE lives in 64 bits in memory and in 32 in the file.
struct FrameTimeCase {
    std::int64_t inMemory;
    const char* written;
    std::int64_t readBack;
};

void PrintTo(const FrameTimeCase& c, std::ostream* os)
{
    *os << c.inMemory;
}

class FrameTimeTest : public testing::TestWithParam<FrameTimeCase> {};

TEST_P(FrameTimeTest, KeepsItsLow32Bits)
{
    const FrameTimeCase& c = GetParam();
    CTempDir dir;
    CaptureSettings settings;
    settings.frameTime = c.inMemory;
    std::string error;
    ASSERT_TRUE(SaveSettings(dir / "setup.ini", settings, error)) << error;
    EXPECT_TRUE(Contains(ReadFile(dir / "setup.ini"), std::string("FRAMERATE=") + c.written + "\n"));
    CaptureSettings loaded;
    LoadSettings(dir / "setup.ini", loaded);
    EXPECT_EQ(loaded.frameTime, c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Values, FrameTimeTest,
                         testing::Values(FrameTimeCase{333333, "333333", 333333},
                                         FrameTimeCase{-1, "-1", 4294967295LL},
                                         FrameTimeCase{4294967295LL, "-1", 4294967295LL},
                                         FrameTimeCase{0x100000001LL, "1", 1}));

// An integer key as the file may hold it, read into WIDTH (default 640).
struct IntegerCase {
    const char* text;
    std::int32_t width;        // what LoadSettings makes of it
    std::int32_t profileInt;   // what ProfileInt makes of it with default 7
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class IntegerKeyTest : public testing::TestWithParam<IntegerCase> {};

TEST_P(IntegerKeyTest, ReadsLikeTheProfileFunctions)
{
    const IntegerCase& c = GetParam();
    CTempDir dir;
    WriteFile(dir / "setup.ini", std::string("[DEVICE]\nWIDTH=") + c.text + "\n");
    CaptureSettings settings;
    LoadSettings(dir / "setup.ini", settings);
    EXPECT_EQ(settings.width, c.width);
    const std::string text = c.text;
    EXPECT_EQ(ProfileInt(&text, 7), c.profileInt);
}

INSTANTIATE_TEST_SUITE_P(Texts, IntegerKeyTest,
                         testing::Values(IntegerCase{"800", 800, 800}, IntegerCase{"+800px", 800, 800},
                                         IntegerCase{"-5", -5, -5}, IntegerCase{"007", 7, 7},
                                         IntegerCase{"2147483647", 2147483647, 2147483647},
                                         IntegerCase{"-2147483648", -2147483647 - 1, -2147483647 - 1},
                                         // Unusable: no number, or beyond 32 bits.
                                         IntegerCase{"abc", 640, 0}, IntegerCase{"", 640, 0},
                                         IntegerCase{"- 5", 640, 0}, IntegerCase{"2147483648", 640, 7},
                                         IntegerCase{"-2147483649", 640, 7},
                                         IntegerCase{"99999999999999999999999999", 640, 7}));

TEST(SettingsTest, ProfileIntOfAMissingKeyIsTheDefault)
{
    EXPECT_EQ(ProfileInt(nullptr, 42), 42);
}

struct StartupCase {
    const char* file;
    int timer;
    const char* dialog;
};

void PrintTo(const StartupCase& c, std::ostream* os)
{
    *os << c.file;
}

class StartupSettingsTest : public testing::TestWithParam<StartupCase> {};

TEST_P(StartupSettingsTest, Reads)
{
    const StartupCase& c = GetParam();
    CTempDir dir;
    WriteFile(dir / "setup.ini", c.file);
    const StartupSettings startup = LoadStartupSettings(dir / "setup.ini");
    EXPECT_EQ(startup.timerSeconds, c.timer);
    EXPECT_EQ(startup.dialog, c.dialog);
}

INSTANTIATE_TEST_SUITE_P(Files, StartupSettingsTest,
                         testing::Values(StartupCase{"[APPLICATION]\nSTARTUP_TIMER=5\nSTARTUP_DIALOG=on\n", 5, "on"},
                                         StartupCase{"[application]\nstartup_timer=3\n", 3, "off"},
                                         StartupCase{"[APPLICATION]\nSTARTUP_TIMER=-2\nSTARTUP_DIALOG=\n", -2, ""},
                                         StartupCase{"[APPLICATION]\nSTARTUP_TIMER=soon\nSTARTUP_DIALOG=ON\n", 0, "ON"},
                                         StartupCase{"[DEVICE]\nSTARTUP_TIMER=5\n", 0, "off"}));

// Where setup.ini and the recordings go.
TEST(StoragePlacesTest, BesideAWritableProgram)
{
    CTempDir dir;
    const std::string folder = dir.Path() + "/";
    StoragePlaces places = ChooseStoragePlaces(folder);
    EXPECT_EQ(places.settingsFile, folder + "setup.ini");
    EXPECT_EQ(places.videoFolder, folder + "video");

    WriteFile(folder + "setup.ini", "");
    places = ChooseStoragePlaces(folder);
    EXPECT_EQ(places.settingsFile, folder + "setup.ini");
}

TEST(StoragePlacesTest, PerUserWhenTheProgramFolderOrItsFileIsReadOnly)
{
    CTempDir dir;
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    const std::string home = std::getenv("HOME");
    const std::string expected = config + "/quellvisor/setup.ini\n" + home + "/Videos/Quellvisor";
    auto places = [](const std::string& folder) {
        const StoragePlaces p = ChooseStoragePlaces(folder);
        return p.settingsFile + "\n" + p.videoFolder;
    };

    const std::string readOnlyFolder = dir / "installed/";
    std::filesystem::create_directory(readOnlyFolder);
    ::chmod(readOnlyFolder.c_str(), 0555);
    EXPECT_EQ(RunUnprivileged([&] { return places(readOnlyFolder); }), expected);

    // An installed layout: the data under ../share, none beside the
    // program; the folder is writable (as /usr/bin is for root).
    const std::string binFolder = dir / "usr/bin/";
    std::filesystem::create_directories(binFolder);
    std::filesystem::create_directories(dir / "usr/share/quellfx/data");
    EXPECT_EQ(places(binFolder), expected);
    std::filesystem::create_directories(binFolder + "data");
    EXPECT_EQ(places(binFolder), binFolder + "setup.ini\n" + binFolder + "video") << "data beside it: portable";

    const std::string openFolder = dir / "open/";
    std::filesystem::create_directory(openFolder);
    ::chmod(openFolder.c_str(), 0777);
    WriteFile(openFolder + "setup.ini", "");
    ::chmod((openFolder + "setup.ini").c_str(), 0444);
    EXPECT_EQ(RunUnprivileged([&] { return places(openFolder); }), expected);
}

TEST(StoragePlacesTest, VideosFolderFromUserDirs)
{
    const std::string config = std::getenv("XDG_CONFIG_HOME");
    const std::string home = std::getenv("HOME");
    std::filesystem::create_directories(config);
    WriteFile(config + "/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    const StoragePlaces places = ChooseStoragePlaces(std::string());
    std::filesystem::remove(config + "/user-dirs.dirs");
    EXPECT_EQ(places.videoFolder, home + "/Filme/Quellvisor");
}

TEST(StoragePlacesTest, ProgramFolderHoldsThisProgram)
{
    const std::string folder = GetProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::exists(folder + "app_base_tests"));
}

// A save that cannot be made reports it and leaves the old file as it was.
TEST(SaveFailureTest, FolderThatIsAFile)
{
    CTempDir dir;
    WriteFile(dir / "plain", "not a folder");
    std::string error;
    EXPECT_FALSE(SaveSettings(dir / "plain/setup.ini", CaptureSettings(), error));
    EXPECT_TRUE(Contains(error, "plain")) << error;
    EXPECT_EQ(ReadFile(dir / "plain"), "not a folder");
}

struct PermissionCase {
    const char* name;
    mode_t folderMode;
    mode_t fileMode;
};

void PrintTo(const PermissionCase& c, std::ostream* os)
{
    *os << c.name;
}

class SavePermissionTest : public testing::TestWithParam<PermissionCase> {};

TEST_P(SavePermissionTest, OldFileStays)
{
    const PermissionCase& c = GetParam();
    CTempDir dir;
    const std::string folder = dir / "program";
    const std::string path = folder + "/setup.ini";
    const std::string old = "[DEVICE]\nWIDTH=320\n; note\n";
    std::filesystem::create_directory(folder);
    WriteFile(path, old);
    ::chmod(path.c_str(), c.fileMode);
    ::chmod(folder.c_str(), c.folderMode);

    const auto result = RunUnprivileged([&] {
        std::string error;
        return SaveSettings(path, CaptureSettings(), error) ? std::string("saved") : error;
    });
    ::chmod(folder.c_str(), 0755);
    ASSERT_TRUE(result.has_value());
    EXPECT_NE(*result, "saved");
    EXPECT_TRUE(Contains(*result, path)) << *result;
    EXPECT_EQ(ReadFile(path), old);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 1);
}

INSTANTIATE_TEST_SUITE_P(Modes, SavePermissionTest,
                         testing::Values(PermissionCase{"ReadOnlyFile", 0777, 0444},
                                         PermissionCase{"ReadOnlyFolder", 0555, 0666},
                                         PermissionCase{"UnreadableFile", 0777, 0222}),
                         [](const testing::TestParamInfo<PermissionCase>& info) { return std::string(info.param.name); });

TEST(SettingsTest, SaveKeepsTheFilePermissions)
{
    CTempDir dir;
    const std::string path = dir / "setup.ini";
    WriteFile(path, "[DEVICE]\n");
    ::chmod(path.c_str(), 0640);
    std::string error;
    ASSERT_TRUE(SaveSettings(path, CaptureSettings(), error)) << error;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

// The high score in QSettings("Korvane", "Capture"), each test with its
// own profile folder.
class HighScoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir.Path()));
    }
    std::string ProfileFile() const { return m_dir / "Korvane/Capture.conf"; }

    CTempDir m_dir;
};

TEST_F(HighScoreTest, MissingIsZeroWithoutAnApplicationObject)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(LoadHighScore(), 0);
}

TEST_F(HighScoreTest, RoundTripsBeyond32Bits)
{
    for (const std::int64_t score : {std::int64_t{0}, std::int64_t{-12}, std::int64_t{4294967296LL + 5},
                                     std::numeric_limits<std::int64_t>::max(),
                                     std::numeric_limits<std::int64_t>::min()}) {
        ASSERT_TRUE(SaveHighScore(score));
        EXPECT_EQ(LoadHighScore(), score);
    }
    EXPECT_TRUE(Contains(ReadFile(ProfileFile()), "[SCORE]\nHIGHSCORE=-9223372036854775808\n"))
        << ReadFile(ProfileFile());
}

TEST_F(HighScoreTest, HandEditedProfile)
{
    std::filesystem::create_directories(m_dir / "Korvane");
    WriteFile(ProfileFile(), "[SCORE]\nHIGHSCORE=  -12abc, 5\n");
    EXPECT_EQ(LoadHighScore(), -12);
}

TEST_F(HighScoreTest, UnwritableProfileReportsFailure)
{
    WriteFile(m_dir / "plain", "");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(m_dir / "plain"));
    EXPECT_FALSE(SaveHighScore(1));
}

TEST(HighScoreParseTest, Lenient)
{
    const std::pair<const char*, std::int64_t> cases[] = {
        {"  -12abc", -12}, {"abc", 0}, {"", 0}, {"+7", 7}, {"\t42", 42}, {"- 5", 0},
        {"4294967301", 4294967301LL}, {"99999999999999999999", std::numeric_limits<std::int64_t>::max()},
        {"-99999999999999999999", std::numeric_limits<std::int64_t>::min()}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseHighScore(text), value) << '"' << text << '"';
}

}  // namespace
}  // namespace quell

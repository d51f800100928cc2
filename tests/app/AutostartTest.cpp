// The autostart entry: its folder, the Exec quoting read back by the
// desktop-entry rules, overwriting, existence and removal.
#include "shell/Autostart.h"
#include "support/QtWait.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quell {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;

// A fresh folder under the test run's HOME.
std::string MakeFolder(const std::string& name)
{
    const std::string folder = std::string(std::getenv("HOME")) + "/autostart-" + name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Sets an environment variable for one scope; a null value unsets it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(Autostart, ExecRunsTheProgramWithExactlyStartup)
{
    // Each path goes into a real entry and must come back unchanged through
    // the string escapes and the Exec quoting of desktop entries.
    const struct {
        std::string path;
        std::string execLine;  // as written in the file; empty: not checked
    } cases[] = {
        {"/usr/bin/capture", "Exec=/usr/bin/capture startup"},
        {"/opt/my app/capture", "Exec=\"/opt/my app/capture\" startup"},
        {"/opt/a\"b/capture", "Exec=\"/opt/a\\\\\"b/capture\" startup"},
        {"/opt/back\\slash/capture", "Exec=\"/opt/back\\\\\\\\slash/capture\" startup"},
        {"/opt/$HOME/capture", "Exec=\"/opt/\\\\$HOME/capture\" startup"},
        {"/opt/100%/capture", "Exec=/opt/100%%/capture startup"},
        {"/opt/50% off/capture", "Exec=\"/opt/50%% off/capture\" startup"},
        {"/opt/`tick`/it's;&|<>~*?#()/capture", ""},
        {"/opt/line\nbreak\ttab/capture", "Exec=\"/opt/line\\nbreak\\ttab/capture\" startup"},
        {"/opt/カメラ/capture", "Exec=/opt/カメラ/capture startup"},
        {"/opt/ends with backslash\\", ""},
    };
    const std::string folder = MakeFolder("exec");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string error;
        ASSERT_TRUE(CreateStartupEntry(folder, c.path, error)) << error;
        const std::string text = ReadFile(folder + "/quellvisor.desktop");
        if (!c.execLine.empty()) {
            EXPECT_NE(text.find("\n" + c.execLine + "\n"), std::string::npos) << text;
        }

        const auto entry = ParseDesktopEntry(text);
        ASSERT_TRUE(entry);
        ASSERT_EQ(entry->count("Exec"), 1u);
        const auto arguments = SplitExec(entry->at("Exec"));
        ASSERT_TRUE(arguments) << entry->at("Exec");
        EXPECT_EQ(*arguments, (std::vector<std::string>{c.path, "startup"}));
        EXPECT_EQ(entry->at("Type"), "Application");
        EXPECT_EQ(entry->at("Name"), "Quellvisor");
        EXPECT_EQ(entry->at("Icon"), "quellvisor");
        EXPECT_EQ(entry->at("X-GNOME-Autostart-enabled"), "true");
    }
}

TEST(Autostart, APathThatIsNotUtf8IsRefused)
{
    const std::string folder = MakeFolder("utf8");
    for (const std::string& path : {std::string("/opt/\xff\xfe/capture"), std::string()}) {
        std::string error;
        EXPECT_FALSE(CreateStartupEntry(folder, path, error));
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(FileExistsInFolder(folder, kAutostartFileName));
    }
}

TEST(Autostart, AnExistingEntryIsReplacedWithNothingLeftBeside)
{
    const std::string folder = MakeFolder("overwrite");
    std::ofstream(folder + "/quellvisor.desktop") << "[Desktop Entry]\nExec=/old/program --other\nHidden=true\n";
    std::string error;
    ASSERT_TRUE(CreateStartupEntry(folder, "/new/capture", error)) << error;
    const auto entry = ParseDesktopEntry(ReadFile(folder + "/quellvisor.desktop"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(SplitExec(entry->at("Exec")), (std::vector<std::string>{"/new/capture", "startup"}));
    EXPECT_EQ(entry->count("Hidden"), 0u);
    int files = 0;
    for ([[maybe_unused]] const auto& file : fs::directory_iterator(folder))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST(Autostart, AFolderInThePlaceOfTheEntryIsAFailure)
{
    const std::string folder = MakeFolder("blocked");
    fs::create_directories(folder + "/quellvisor.desktop/inside");
    std::string error;
    EXPECT_FALSE(CreateStartupEntry(folder, "/usr/bin/capture", error));
    EXPECT_NE(error.find(folder + "/quellvisor.desktop"), std::string::npos) << error;
    EXPECT_FALSE(FileExistsInFolder(folder, kAutostartFileName));
    error.clear();
    EXPECT_FALSE(RemoveStartupEntry(folder, error));
    EXPECT_TRUE(fs::is_directory(folder + "/quellvisor.desktop/inside"));
}

TEST(Autostart, ExistenceAndRemoval)
{
    const std::string folder = MakeFolder("remove");
    EXPECT_FALSE(FileExistsInFolder(folder, kAutostartFileName));
    std::string error;
    EXPECT_FALSE(RemoveStartupEntry(folder, error));
    EXPECT_NE(error.find(folder + "/quellvisor.desktop"), std::string::npos) << error;

    ASSERT_TRUE(CreateStartupEntry(folder, "/usr/bin/capture", error));
    EXPECT_TRUE(FileExistsInFolder(folder, kAutostartFileName));
    EXPECT_FALSE(FileExistsInFolder(folder, "Quellvisor.desktop"));
    EXPECT_FALSE(FileExistsInFolder(folder, "../autostart-remove/quellvisor.desktop"));
    EXPECT_FALSE(FileExistsInFolder("", kAutostartFileName));
    ASSERT_TRUE(RemoveStartupEntry(folder, error)) << error;
    EXPECT_FALSE(FileExistsInFolder(folder, kAutostartFileName));

    // A link that points nowhere is still an entry that can be taken away.
    ASSERT_EQ(::symlink("/nonexistent/target", (folder + "/quellvisor.desktop").c_str()), 0);
    EXPECT_TRUE(FileExistsInFolder(folder, kAutostartFileName));
    EXPECT_TRUE(RemoveStartupEntry(folder, error)) << error;
    EXPECT_FALSE(fs::is_symlink(folder + "/quellvisor.desktop"));
}

TEST(Autostart, FolderFromTheEnvironment)
{
    const std::string home = std::getenv("HOME");
    const std::string xdg = home + "/xdg-config";
    const std::string fallback = home + "/.config/autostart";
    const struct {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;  // empty: no folder
    } cases[] = {
        {xdg + "//", std::nullopt, xdg + "/autostart"},
        {std::nullopt, home, fallback},
        {"", home, fallback},
        {"relative/config", home, fallback},  // relative values are ignored
        {std::nullopt, std::nullopt, ""},
        {"relative", "also-relative", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("(unset)") + " " + c.home.value_or("(unset)"));
        ScopedEnv setXdg("XDG_CONFIG_HOME", c.xdg ? c.xdg->c_str() : nullptr);
        ScopedEnv setHome("HOME", c.home ? c.home->c_str() : nullptr);
        std::string error;
        const std::string folder = AutostartFolder(error);
        EXPECT_EQ(folder, c.expected);
        if (c.expected.empty()) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
    }
}

TEST(Autostart, AFileWhereTheFolderShouldBeGivesNoFolder)
{
    const std::string config = std::string(std::getenv("HOME")) + "/config-file";
    fs::create_directories(config);
    std::ofstream(config + "/autostart") << "not a folder";
    ScopedEnv setXdg("XDG_CONFIG_HOME", config.c_str());
    std::string error;
    EXPECT_EQ(AutostartFolder(error), "");
    EXPECT_NE(error.find(config + "/autostart"), std::string::npos) << error;
}

TEST(Autostart, ExecLinesThatBreakTheQuotingRules)
{
    const struct {
        std::string exec;
        std::optional<std::vector<std::string>> arguments;
    } cases[] = {
        {"a  b", std::vector<std::string>{"a", "b"}},
        {"\"\" x", std::vector<std::string>{"", "x"}},
        {"a\"b c\"d", std::vector<std::string>{"ab cd"}},
        {"\"unclosed", std::nullopt},
        {"a;b", std::nullopt},
        {"a$b", std::nullopt},
        {"prog %f", std::nullopt},
        {"prog %", std::nullopt},
        {"\"\\a\"", std::nullopt},
        {"\"\\\"", std::nullopt},
        {"a\\ b", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exec);
        EXPECT_EQ(SplitExec(c.exec), c.arguments);
    }
}

}  // namespace
}  // namespace quell

// Data file lookup: the requested folder, then the folder installed with the
// plugin, found from the plugin module's own folder.
#include "platform/DataDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quell {
namespace {

namespace fs = std::filesystem;

// A scratch folder per test, removed afterwards.
class DataDirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() /
                 ("quell-datadir-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path MakeFolder(const fs::path& relative)
    {
        fs::create_directories(m_root / relative);
        return m_root / relative;
    }
    void MakeFile(const fs::path& relative)
    {
        fs::create_directories((m_root / relative).parent_path());
        std::ofstream(m_root / relative) << "x";
    }

    fs::path m_root;
};

struct ResolveCase {
    const char* what;
    bool requestedFile;    // requested/special1.dat is a file
    bool requestedFolder;  // requested/special1.dat is a folder
    bool installedFile;    // installed/special1.dat is a file
    bool withInstalled;    // an installed folder is known at all
    bool fromInstalled;    // the installed copy is the answer
};

TEST_F(DataDirTest, RequestedFolderFirstThenInstalledFolder)
{
    const std::vector<ResolveCase> cases = {
        {"file in both folders", true, false, true, true, false},
        {"file only installed", false, false, true, true, true},
        {"a folder of that name is not a data file", false, true, true, true, true},
        {"file nowhere keeps the requested name", false, false, false, true, false},
        {"no installed folder known", false, false, false, false, false},
    };
    for (const ResolveCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(m_root / "requested");
        fs::remove_all(m_root / "installed");
        const fs::path requested = MakeFolder("requested");
        const fs::path installed = MakeFolder("installed");
        if (c.requestedFile)
            MakeFile("requested/special1.dat");
        if (c.requestedFolder)
            MakeFolder("requested/special1.dat");
        if (c.installedFile)
            MakeFile("installed/special1.dat");
        const fs::path expected = (c.fromInstalled ? installed : requested) / "special1.dat";
        EXPECT_EQ(ResolveDataFile(requested.string(), "special1.dat", c.withInstalled ? installed.string() : ""),
                  expected.string());
    }
}

// The install layout of this build: the plugin folder and the data folder,
// both under one prefix.
TEST_F(DataDirTest, ModuleFindsTheDataBesideItOrInTheInstallLayout)
{
    const fs::path pluginDir = QUELL_PLUGIN_INSTALL_DIR;
    const fs::path dataDir = QUELL_DATA_INSTALL_DIR;
    if (pluginDir.is_absolute() || dataDir.is_absolute())
        GTEST_SKIP() << "install folders configured outside the prefix";

    const fs::path module = MakeFolder("prefix" / pluginDir);
    EXPECT_EQ(DataDirForModule(module.string()), "") << "no data folder yet";

    std::ofstream(module / "data") << "a file, not a folder";
    EXPECT_EQ(DataDirForModule(module.string()), "");

    const fs::path installed = MakeFolder("prefix" / dataDir);
    EXPECT_EQ(DataDirForModule(module.string()), installed.string());

    fs::remove(module / "data");
    const fs::path beside = MakeFolder(module.lexically_relative(m_root) / "data");
    EXPECT_EQ(DataDirForModule(module.string()), beside.string()) << "the build's output folder comes first";

    EXPECT_EQ(DataDirForModule(""), "");
}

// The test program sits in the build's output folder, beside the plugin and
// its data folder, so its own lookup finds that data folder.
TEST(DataDir, TheTestProgramFindsTheBuildsDataFolder)
{
    const std::string installed = InstalledDataDir();
    ASSERT_FALSE(installed.empty());
    EXPECT_TRUE(fs::is_regular_file(fs::path(installed) / "special1.dat"));
    EXPECT_EQ(ResolveDataFile("/nonexistent-quell", "special1.dat"), (fs::path(installed) / "special1.dat").string());
}

}  // namespace
}  // namespace quell

// Data file lookup: the requested folder, then the installed one.
#include "platform/DataDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quell {
namespace {

namespace fs = std::filesystem;

TEST(DataDir, RequestedFolderFirstAndMissingFilesKeepTheRequestedName)
{
    const fs::path dir = fs::temp_directory_path() / ("quell-data-" + std::to_string(::getpid()));
    fs::create_directories(dir / "sub.wav");
    std::ofstream(dir / "count.wav") << "x";
    EXPECT_EQ(ResolveDataFile(dir.string(), "count.wav"), (dir / "count.wav").string());
    // A folder of the same name is not a data file.
    EXPECT_EQ(ResolveDataFile(dir.string(), "sub.wav"), (dir / "sub.wav").string());
    // A file found nowhere keeps the requested folder in its name.
    EXPECT_EQ(ResolveDataFile("/nonexistent-quell", "absent.wav"), "/nonexistent-quell/absent.wav");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace quell

namespace quell {
namespace {

// The test program sits in the build's output folder, beside the plugin and
// its data folder, so the installed-folder lookup finds that data folder.
TEST(DataDir, MissingFilesComeFromTheFolderBesideTheModule)
{
    const std::string installed = InstalledDataDir();
    ASSERT_FALSE(installed.empty());
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::path(installed) / "special1.dat"));
    EXPECT_EQ(ResolveDataFile("/nonexistent-quell", "special1.dat"),
              (std::filesystem::path(installed) / "special1.dat").string());
}

}  // namespace
}  // namespace quell

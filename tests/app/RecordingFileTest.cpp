// Names of the recordings, the numbering of a taken name, and the folder.
#include "graph/RecordingFile.h"

#include "BaseTestSupport.h"

#include <gtest/gtest.h>

namespace quell {
namespace {

using test::CTempDir;
using test::WriteFile;

std::tm Time(int year, int month, int day, int weekday, int hour, int minute)
{
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_wday = weekday;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = 59;
    return time;
}

TEST(RecordingFileTest, Names)
{
    EXPECT_EQ(RecordingFileName(Time(2010, 5, 3, 1, 14, 5)), "2010年05月03日(月)14時05分.avi");
    EXPECT_EQ(RecordingFileName(Time(2023, 12, 31, 0, 0, 0)), "2023年12月31日(日)00時00分.avi");
    EXPECT_EQ(RecordingFileName(Time(2000, 1, 1, 6, 9, 7)), "2000年01月01日(土)09時07分.avi");
    EXPECT_EQ(RecordingFileName(Time(2024, 10, 17, 4, 23, 59)), "2024年10月17日(木)23時59分.avi");
}

TEST(RecordingFileTest, TakenNamesAreNumbered)
{
    CTempDir dir;
    const std::tm time = Time(2010, 5, 3, 1, 14, 5);
    const std::string base = dir / "2010年05月03日(月)14時05分";
    EXPECT_EQ(NewRecordingPath(dir.Path(), time), base + ".avi");
    EXPECT_EQ(NewRecordingPath(dir.Path() + "/", time), base + " (2).avi");
    EXPECT_EQ(NewRecordingPath(dir.Path(), time), base + " (3).avi");
    EXPECT_TRUE(std::filesystem::exists(base + " (3).avi"));
}

TEST(RecordingFileTest, MissingFolderStillGivesAName)
{
    CTempDir dir;
    EXPECT_EQ(NewRecordingPath(dir / "gone", Time(2010, 5, 3, 1, 14, 5)), dir / "gone/2010年05月03日(月)14時05分.avi");
}

TEST(RecordingFileTest, EnsureFolder)
{
    CTempDir dir;
    EXPECT_TRUE(EnsureFolder(dir.Path(), "video"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "video"));
    EXPECT_TRUE(EnsureFolder(dir.Path(), "video"));
    EXPECT_TRUE(EnsureFolder(dir / "Videos", "Quellvisor"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "Videos/Quellvisor"));
    WriteFile(dir / "file", "");
    EXPECT_FALSE(EnsureFolder(dir.Path(), "file"));
}

}  // namespace
}  // namespace quell

// Reading and writing of INI files: the forms files come in and what a
// write leaves untouched.
#include "shell/IniFile.h"

#include "BaseTestSupport.h"

#include <gtest/gtest.h>

namespace quell {
namespace {

using test::CTempDir;
using test::ReadFile;
using test::WriteFile;

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

void PrintTo(const ReadCase& c, std::ostream* os)
{
    *os << c.name;
}

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, FindsTheValue)
{
    const ReadCase& c = GetParam();
    CTempDir dir;
    WriteFile(dir / "setup.ini", c.file);
    CIniFile ini;
    std::string error;
    ASSERT_TRUE(ini.Load(dir / "setup.ini", error)) << error;
    EXPECT_EQ(ini.Value(c.section, c.key), c.expected);
    // Reading alone changes nothing.
    EXPECT_EQ(ini.Text(), c.file);
}

const std::string kHuge(1 << 20, 'x');

INSTANTIATE_TEST_SUITE_P(
    Forms, IniReadTest,
    testing::Values(
        ReadCase{"Plain", "[DEVICE]\nWIDTH=800\n", "DEVICE", "WIDTH", "800"},
        ReadCase{"Crlf", "[DEVICE]\r\nWIDTH=800\r\n", "DEVICE", "WIDTH", "800"},
        ReadCase{"Bom", "\xEF\xBB\xBF[DEVICE]\nWIDTH=800\n", "DEVICE", "WIDTH", "800"},
        ReadCase{"NoFinalNewline", "[DEVICE]\nWIDTH=800", "DEVICE", "WIDTH", "800"},
        ReadCase{"NamesIgnoreCase", "[device]\nWidth=800\n", "DEVICE", "WIDTH", "800"},
        ReadCase{"Trimmed", "  [ DEVICE ]  \n\t WIDTH  =  800 \t\n", "DEVICE", "WIDTH", "800"},
        ReadCase{"FirstKeyWins", "[DEVICE]\nWIDTH=1\nwidth=2\n", "DEVICE", "WIDTH", "1"},
        ReadCase{"FirstSectionWins", "[DEVICE]\nWIDTH=1\n[DEVICE]\nWIDTH=2\n", "DEVICE", "WIDTH", "1"},
        ReadCase{"LaterSameSectionUnseen", "[DEVICE]\nA=1\n[device]\nWIDTH=2\n", "DEVICE", "WIDTH", std::nullopt},
        ReadCase{"CommentsAndGarbageSkipped",
                 "garbage\n[DEVICE]\n; WIDTH=5\n# WIDTH=6\nno equals sign\n=orphan\n\x01\xFF\nWIDTH=7\n", "DEVICE",
                 "WIDTH", "7"},
        ReadCase{"KeyBeforeAnySection", "WIDTH=1\n[DEVICE]\n", "DEVICE", "WIDTH", std::nullopt},
        ReadCase{"KeyOfAnotherSection", "[OTHER]\nWIDTH=1\n[DEVICE]\nHEIGHT=2\n", "DEVICE", "WIDTH", std::nullopt},
        ReadCase{"MissingSection", "[OTHER]\nWIDTH=1\n", "DEVICE", "WIDTH", std::nullopt},
        ReadCase{"EmptyValue", "[DEVICE]\nCAM_SELECT=\n", "DEVICE", "CAM_SELECT", ""},
        ReadCase{"EqualsAndCommaInValue", "[DEVICE]\nCAM_SELECT=a=b, c\n", "DEVICE", "CAM_SELECT", "a=b, c"},
        ReadCase{"HugeGarbageLine", "[DEVICE]\n" + kHuge + "\nWIDTH=9", "DEVICE", "WIDTH", "9"},
        ReadCase{"HugeValueCut", "[DEVICE]\nCAM_SELECT=" + kHuge + "\n", "DEVICE", "CAM_SELECT",
                 std::string(1023, 'x')},
        // A three-byte character across byte 1023 is left out whole.
        ReadCase{"CutBeforeSplitCharacter", "[D]\nK=" + std::string(1022, 'a') + "あい\n", "D", "K",
                 std::string(1022, 'a')},
        ReadCase{"CharacterEndingAtLimitKept", "[D]\nK=" + std::string(1020, 'a') + "あい\n", "D", "K",
                 std::string(1020, 'a') + "あ"}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

struct WriteCase {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

void PrintTo(const WriteCase& c, std::ostream* os)
{
    *os << c.name;
}

class IniWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyItsLine)
{
    const WriteCase& c = GetParam();
    CTempDir dir;
    const std::string path = dir / "setup.ini";
    WriteFile(path, c.before);
    CIniFile ini;
    std::string error;
    ASSERT_TRUE(ini.Load(path, error)) << error;
    ini.SetValue(c.section, c.key, c.value);
    ASSERT_TRUE(ini.Save(path, error)) << error;
    EXPECT_EQ(ReadFile(path), c.after);

    CIniFile again;
    ASSERT_TRUE(again.Load(path, error)) << error;
    EXPECT_TRUE(again.Value(c.section, c.key).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IniWriteTest,
    testing::Values(
        WriteCase{"InPlaceKeepsSpacingAndOtherLines", "; comment\n[DEVICE]\r\nWIDTH = 640 \r\nX=1\r\n", "DEVICE",
                  "WIDTH", "800", "; comment\n[DEVICE]\r\nWIDTH = 800\r\nX=1\r\n"},
        WriteCase{"FirstDuplicateOnly", "[DEVICE]\nWIDTH=1\nWIDTH=2\n", "DEVICE", "WIDTH", "800",
                  "[DEVICE]\nWIDTH=800\nWIDTH=2\n"},
        WriteCase{"OriginalSpellingKept", "[device]\nwidth=1\n", "DEVICE", "WIDTH", "800", "[device]\nwidth=800\n"},
        WriteCase{"EmptyOldValue", "[DEVICE]\nWIDTH=\n", "DEVICE", "WIDTH", "800", "[DEVICE]\nWIDTH=800\n"},
        WriteCase{"AppendedBeforeBlankLines", "[DEVICE]\nA=1\n\n[APPLICATION]\nB=2\n", "DEVICE", "WIDTH", "800",
                  "[DEVICE]\nA=1\nWIDTH=800\n\n[APPLICATION]\nB=2\n"},
        WriteCase{"AppendedWithCrlf", "[DEVICE]\r\nA=1\r\n", "DEVICE", "WIDTH", "800",
                  "[DEVICE]\r\nA=1\r\nWIDTH=800\r\n"},
        WriteCase{"AppendedAfterLastLineWithoutNewline", "[DEVICE]\nA=1", "DEVICE", "WIDTH", "800",
                  "[DEVICE]\nA=1\nWIDTH=800\n"},
        WriteCase{"AppendedAfterBareHeader", "[DEVICE]", "DEVICE", "WIDTH", "800", "[DEVICE]\nWIDTH=800\n"},
        WriteCase{"NewSectionAtEnd", "garbage\n[OTHER]\nA=1", "DEVICE", "WIDTH", "800",
                  "garbage\n[OTHER]\nA=1\n\n[DEVICE]\nWIDTH=800\n"},
        WriteCase{"NewFile", "", "DEVICE", "WIDTH", "800", "[DEVICE]\nWIDTH=800\n"},
        WriteCase{"BomKept", "\xEF\xBB\xBF[DEVICE]\nWIDTH=1\n", "DEVICE", "WIDTH", "800",
                  "\xEF\xBB\xBF[DEVICE]\nWIDTH=800\n"},
        // A line break in a value must not turn into a line of its own.
        WriteCase{"LineBreaksInValueFlattened", "[DEVICE]\n", "DEVICE", "CAM_SELECT", "cam\r\nWIDTH=1",
                  "[DEVICE]\nCAM_SELECT=cam  WIDTH=1\n"}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

TEST(IniFileTest, MissingFileIsEmpty)
{
    CTempDir dir;
    CIniFile ini;
    std::string error;
    ASSERT_TRUE(ini.Load(dir / "none.ini", error));
    EXPECT_EQ(ini.Value("DEVICE", "WIDTH"), std::nullopt);
    EXPECT_EQ(ini.Text(), "");
}

TEST(IniFileTest, FolderInsteadOfFileIsAnError)
{
    CTempDir dir;
    CIniFile ini;
    std::string error;
    EXPECT_FALSE(ini.Load(dir.Path(), error));
    EXPECT_NE(error.find(dir.Path()), std::string::npos) << error;
}

}  // namespace
}  // namespace quell

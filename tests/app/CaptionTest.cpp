// The camera name cut by its code page 932 length, and the caption.
#include "graph/Caption.h"

#include <gtest/gtest.h>

namespace quell {
namespace {

struct ShortenCase {
    const char* name;
    const char* expected;
};

void PrintTo(const ShortenCase& c, std::ostream* os)
{
    *os << c.name;
}

class ShortenCameraNameTest : public testing::TestWithParam<ShortenCase> {};

TEST_P(ShortenCameraNameTest, CutsAt12Bytes)
{
    EXPECT_EQ(ShortenCameraName(GetParam().name), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ShortenCameraNameTest,
    testing::Values(ShortenCase{"", ""}, ShortenCase{"ABCDEFGHIJK", "ABCDEFGHIJK"},
                    ShortenCase{"ABCDEFGHIJKL", "ABCDEFGHIJKL"}, ShortenCase{"ABCDEFGHIJKLM", "ABCDEFGHIJKL..."},
                    ShortenCase{"Integrated Camera", "Integrated C..."},
                    // Two bytes each: six fit exactly.
                    ShortenCase{"カメラデバイス", "カメラデバイ..."}, ShortenCase{"USBカメラ", "USBカメラ"},
                    // Byte 12 would be the first half of イ.
                    ShortenCase{"Aカメラデバイス", "Aカメラデバ..."},
                    // Half-width katakana take one byte each.
                    ShortenCase{"ｶﾒﾗｶﾒﾗｶﾒﾗｶﾒﾗ", "ｶﾒﾗｶﾒﾗｶﾒﾗｶﾒﾗ"}, ShortenCase{"ｶﾒﾗｶﾒﾗｶﾒﾗｶﾒﾗｶ", "ｶﾒﾗｶﾒﾗｶﾒﾗｶﾒﾗ..."},
                    // Outside the code page: counted as two bytes.
                    ShortenCase{"Caméra Caméra", "Caméra Cam..."}, ShortenCase{"📷📷📷📷📷📷📷", "📷📷📷📷📷📷..."},
                    // Bytes that are not UTF-8 stay as they are.
                    ShortenCase{"\xFF\xFF\xFF\xFF\xFF\xFF\xFF", "\xFF\xFF\xFF\xFF\xFF\xFF..."}));

TEST(CaptionTest, Format)
{
    EXPECT_EQ(MakeCaption("USB Camera", 640, 480, false), "Quellvisor - USB Camera (640x480) :  ");
    EXPECT_EQ(MakeCaption("USB Camera", 1280, 720, true), "Quellvisor - USB Camera (1280x720) :  録画中");
    EXPECT_EQ(MakeCaption("0: Integrated Camera", 320, 240, false), "Quellvisor - 0: Integrate... (320x240) :  ");
}

}  // namespace
}  // namespace quell

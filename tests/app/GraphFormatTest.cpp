// The camera format choice: saved size and frame time against offered caps,
// the camera's own format, frame times and rates, and the decoder.
#include "graph/GraphFormat.h"

#include <gtest/gtest.h>

#include <string>

namespace quell {
namespace {

CapsRef Caps(const char* text)
{
    return CapsRef(gst_caps_from_string(text));
}

std::string Text(const CapsRef& caps)
{
    if (!caps)
        return "(none)";
    GCharRef text(gst_caps_to_string(caps.get()));
    return text.get();
}

TEST(GraphFormat, FrameTimesAndRates)
{
    EXPECT_EQ(FrameTimeOf(30, 1), 333333);
    EXPECT_EQ(FrameTimeOf(15, 1), 666666);
    EXPECT_EQ(FrameTimeOf(30000, 1001), 333666);
    // No rate, or nonsense, never divides by zero.
    EXPECT_EQ(FrameTimeOf(0, 1), 0);
    EXPECT_EQ(FrameTimeOf(30, 0), 0);
    EXPECT_EQ(FrameTimeOf(-30, 1), 0);

    struct Case {
        std::int64_t frameTime;
        int num, den;
    };
    for (const Case& c : {Case{666666, 15, 1}, Case{333333, 30, 1}, Case{333667, 30000, 1001},
                          Case{400000, 25, 1}, Case{166833, 60000, 1001}, Case{10000000, 1, 1},
                          Case{20000000, 1, 2}}) {
        int num = 0, den = 0;
        RateForFrameTime(c.frameTime, num, den);
        EXPECT_EQ(num, c.num) << c.frameTime;
        EXPECT_EQ(den, c.den) << c.frameTime;
        EXPECT_TRUE(RateMatchesFrameTime(num, den, c.frameTime)) << c.frameTime;
    }
    EXPECT_FALSE(RateMatchesFrameTime(30, 1, 333667));
    EXPECT_FALSE(RateMatchesFrameTime(0, 1, 0));
}

TEST(GraphFormat, SavedFormatAgainstOfferedCaps)
{
    const char* camera = "video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,15/1};"
                         "video/x-raw,format=YUY2,width=320,height=240,framerate=30000/1001;"
                         "image/jpeg,width=1280,height=720,framerate=30/1";
    struct Case {
        const char* offered;
        int width, height;
        std::int64_t frameTime;
        const char* expected;
    } cases[] = {
        {camera, 640, 480, 666666, "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)15/1"},
        {camera, 640, 480, 333333, "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1"},
        {camera, 320, 240, 333667, "video/x-raw, width=(int)320, height=(int)240, framerate=(fraction)30000/1001"},
        // Only in JPEG: the camera runs compressed and needs the decoder.
        {camera, 1280, 720, 333333, "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)30/1"},
        // Not offered at that rate or size: the camera keeps its own format.
        {camera, 1280, 720, 666666, "(none)"},
        {camera, 800, 600, 333333, "(none)"},
        {camera, 320, 240, 333333, "(none)"},
        // No usable saved rate: the size alone.
        {camera, 640, 480, 0, "video/x-raw, width=(int)640, height=(int)480"},
        {camera, 640, 480, -5, "video/x-raw, width=(int)640, height=(int)480"},
        // Ranges hold the simple fraction of the frame time.
        {"video/x-raw,width=[160,1920],height=[120,1080],framerate=[1/1,60/1]", 800, 600, 333667,
         "video/x-raw, width=(int)800, height=(int)600, framerate=(fraction)30000/1001"},
        {"video/x-raw,width=[160,1920],height=[120,1080],framerate=[1/1,20/1]", 800, 600, 333333, "(none)"},
        // A structure that states no rate takes any.
        {"video/x-raw,width=640,height=480", 640, 480, 666666,
         "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)15/1"},
        // Raw wins over JPEG at the same size.
        {"image/jpeg,width=640,height=480,framerate=30/1;video/x-raw,width=640,height=480,framerate=30/1", 640, 480,
         333333, "video/x-raw, width=(int)640, height=(int)480, framerate=(fraction)30/1"},
        {"video/x-h264,width=640,height=480,framerate=30/1", 640, 480, 333333, "(none)"},
        {"ANY", 640, 480, 333333, "(none)"},
        {"EMPTY", 640, 480, 333333, "(none)"},
    };
    for (const Case& c : cases) {
        CapsRef offered = Caps(c.offered);
        EXPECT_EQ(Text(MatchSavedFormat(offered.get(), c.width, c.height, c.frameTime)), c.expected)
            << c.offered << " " << c.width << "x" << c.height << " @" << c.frameTime;
    }
    EXPECT_EQ(Text(MatchSavedFormat(nullptr, 640, 480, 333333)), "(none)");
}

TEST(GraphFormat, CameraOwnFormatNearestToSaved)
{
    struct Case {
        const char* offered;
        int width, height;
        std::int64_t frameTime;
        const char* expected;
    } cases[] = {
        {"video/x-raw,format=YUY2,width=1280,height=720,framerate={30/1,10/1};video/x-raw,width=640,height=480", 640,
         480, 666666, "video/x-raw, width=(int)1280, height=(int)720, framerate=(fraction)10/1"},
        {"video/x-raw,width=[160,1920],height=[120,1080],framerate=[1/1,60/1]", 800, 600, 0,
         "video/x-raw, width=(int)800, height=(int)600, framerate=(fraction)30/1"},
        {"video/x-raw,width=[160,1920],height=[120,1080],framerate=[1/1,60/1]", 4000, 50, 666666,
         "video/x-raw, width=(int)1920, height=(int)120, framerate=(fraction)15/1"},
        {"audio/x-raw,rate=48000;image/jpeg,width=320,height=240,framerate=15/1", 640, 480, 333333,
         "image/jpeg, width=(int)320, height=(int)240, framerate=(fraction)15/1"},
        // No rate stated: the result has none, and asking then fails.
        {"video/x-raw,width=640,height=480", 640, 480, 333333, "video/x-raw, width=(int)640, height=(int)480"},
        {"video/x-raw", 640, 480, 333333, "(none)"},
        {"audio/x-raw", 640, 480, 333333, "(none)"},
        {"ANY", 640, 480, 333333, "(none)"},
    };
    for (const Case& c : cases) {
        CapsRef offered = Caps(c.offered);
        EXPECT_EQ(Text(PreferredFormat(offered.get(), c.width, c.height, c.frameTime)), c.expected) << c.offered;
    }
}

TEST(GraphFormat, ReadFormat)
{
    int width = 0, height = 0;
    std::int64_t frameTime = -1;
    CapsRef caps = Caps("video/x-raw,width=320,height=240,framerate=15/1");
    ASSERT_TRUE(ReadFormat(caps.get(), width, height, frameTime));
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
    EXPECT_EQ(frameTime, 666666);

    for (const char* noRate : {"video/x-raw,width=320,height=240", "video/x-raw,width=320,height=240,framerate=0/1"}) {
        caps = Caps(noRate);
        ASSERT_TRUE(ReadFormat(caps.get(), width, height, frameTime)) << noRate;
        EXPECT_EQ(frameTime, 0) << noRate;
    }
    caps = Caps("video/x-raw,width=[1,5],height=240");
    EXPECT_FALSE(ReadFormat(caps.get(), width, height, frameTime));
    EXPECT_FALSE(ReadFormat(nullptr, width, height, frameTime));
}

TEST(GraphFormat, DecoderForTheCamerasFormat)
{
    struct Case {
        const char* offered;
        const char* chosen;
        const char* decoder;
    } cases[] = {
        {"image/jpeg;video/x-raw", "image/jpeg,width=640,height=480", "jpegdec"},
        {"image/jpeg;video/x-raw", "video/x-raw,width=640,height=480", "decodebin"},
        {"image/jpeg,width=640,height=480", nullptr, "jpegdec"},
        {"image/jpeg;video/x-raw", nullptr, "decodebin"},
        {"video/x-h264", nullptr, "decodebin"},
        {"ANY", nullptr, "decodebin"},
    };
    for (const Case& c : cases) {
        CapsRef offered = Caps(c.offered);
        CapsRef chosen = c.chosen ? Caps(c.chosen) : nullptr;
        EXPECT_STREQ(DecoderFor(offered.get(), chosen.get()), c.decoder) << c.offered;
    }
}

}  // namespace
}  // namespace quell

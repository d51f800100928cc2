// The quellfx element in GstHarness: negotiation, frames in and out, size
// changes, padded rows, properties and the action signal across threads.
#include "filter/gstquellfx.h"

#include "platform/Clock.h"
#include "support/Frames.h"
#include "support/HudPicture.h"
#include "support/RecordingSoundPlayer.h"
#include "support/Scene.h"

#include <gst/check/gstharness.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

namespace quell {
namespace {

using test::MaxColourDiff;
using test::MaxColourDiffIn;
using test::OverlayFreeRect;
using test::TintedPicture;
using test::PatternFrame;

std::string Caps(const char* format, int w, int h)
{
    return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(w) +
           ",height=" + std::to_string(h) + ",framerate=30/1";
}

GstBuffer* BufferFrom(const cv::Mat& frame)
{
    const size_t size = frame.total() * frame.elemSize();
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
    gst_buffer_fill(buffer, 0, frame.data, size);
    return buffer;
}

cv::Mat MatFrom(GstBuffer* buffer, int w, int h)
{
    cv::Mat out(h, w, CV_8UC4);
    EXPECT_EQ(gst_buffer_get_size(buffer), out.total() * 4);
    gst_buffer_extract(buffer, 0, out.data, out.total() * 4);
    return out;
}

class ElementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_h = gst_harness_new("quellfx");
        ASSERT_NE(m_h, nullptr);
        SetElementPlatformForTesting(m_h->element, &m_clock, &m_sound);
    }
    void TearDown() override { gst_harness_teardown(m_h); }

    // Pushes `frame` and returns the frame that leaves.
    cv::Mat PushPull(const cv::Mat& frame)
    {
        GstBuffer* out = gst_harness_push_and_pull(m_h, BufferFrom(frame));
        EXPECT_NE(out, nullptr);
        if (!out)
            return {};
        cv::Mat result = MatFrom(out, frame.cols, frame.rows);
        gst_buffer_unref(out);
        return result;
    }

    GstHarness* m_h = nullptr;
    ManualClock m_clock{0};
    RecordingSoundPlayer m_sound;
};

TEST_F(ElementTest, FramesLeaveAsGreyPictureOfPreviousFrame)
{
    gst_harness_set_src_caps_str(m_h, Caps("BGRx", 640, 480).c_str());
    cv::Mat previous;
    for (int i = 0; i < 5; ++i) {
        const cv::Mat in = PatternFrame(640, 480, i);
        const cv::Mat out = PushPull(in);
        // Compared where the overlay draws nothing.
        const cv::Rect free = OverlayFreeRect(640, 480);
        if (i == 0)
            EXPECT_EQ(MaxColourDiffIn(out, cv::Mat::zeros(480, 640, CV_8UC4), free), 0) << "first frame is black";
        else
            EXPECT_EQ(MaxColourDiffIn(out, TintedPicture(previous), free), 0) << "frame " << i;
        previous = in;
    }
}

TEST_F(ElementTest, SizeChangesMidStream)
{
    const cv::Size sizes[] = {{640, 480}, {320, 240}, {1280, 720}};
    for (const cv::Size size : sizes) {
        gst_harness_set_src_caps_str(m_h, Caps("BGRx", size.width, size.height).c_str());
        const cv::Mat a = PatternFrame(size.width, size.height, 1);
        PushPull(a);
        EXPECT_EQ(MaxColourDiffIn(PushPull(PatternFrame(size.width, size.height, 2)), TintedPicture(a),
                                  OverlayFreeRect(size.width, size.height)),
                  0)
            << size;
    }
}

TEST_F(ElementTest, OtherFormatsAreRefused)
{
    for (const char* format : {"I420", "RGBx", "BGRA", "GRAY8"}) {
        GstHarness* h = gst_harness_new("quellfx");
        gst_harness_set_src_caps_str(h, Caps(format, 64, 48).c_str());
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, 64 * 48 * 4, nullptr);
        EXPECT_EQ(gst_harness_push(h, buffer), GST_FLOW_NOT_NEGOTIATED) << format;
        gst_harness_teardown(h);
    }
}

TEST_F(ElementTest, TinyAndOddSizedFrames)
{
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(2, 2), cv::Size(3, 3), cv::Size(77, 5), cv::Size(1, 9)}) {
        gst_harness_set_src_caps_str(m_h, Caps("BGRx", size.width, size.height).c_str());
        const cv::Mat a = PatternFrame(size.width, size.height, 3);
        PushPull(a);
        EXPECT_EQ(MaxColourDiffIn(PushPull(PatternFrame(size.width, size.height, 4)), TintedPicture(a),
                                  OverlayFreeRect(size.width, size.height)),
                  0)
            << size;
    }
}

TEST_F(ElementTest, PaddedStrideFromVideoMeta)
{
    const int w = 50, h = 20, stride = 50 * 4 + 64;
    gst_harness_set_src_caps_str(m_h, Caps("BGRx", w, h).c_str());
    auto push = [&](const cv::Mat& frame) {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, stride * h, nullptr);
        gst_buffer_memset(buffer, 0, 0xCD, stride * h);
        for (int y = 0; y < h; ++y)
            gst_buffer_fill(buffer, y * stride, frame.ptr(y), w * 4);
        gsize offset[GST_VIDEO_MAX_PLANES] = {0};
        gint strides[GST_VIDEO_MAX_PLANES] = {stride};
        gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_FORMAT_BGRx, w, h, 1, offset,
                                       strides);
        return gst_harness_push_and_pull(m_h, buffer);
    };
    const cv::Mat a = PatternFrame(w, h, 5);
    gst_buffer_unref(push(a));
    GstBuffer* out = push(PatternFrame(w, h, 6));
    ASSERT_NE(out, nullptr);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(out, &map, GST_MAP_READ));
    const cv::Mat view(h, w, CV_8UC4, map.data, stride);
    EXPECT_EQ(MaxColourDiffIn(view, TintedPicture(a), OverlayFreeRect(w, h)), 0);
    for (int y = 0; y < h; ++y)
        for (int i = w * 4; i < stride; ++i)
            ASSERT_EQ(map.data[y * stride + i], 0xCD) << "padding of row " << y;
    gst_buffer_unmap(out, &map);
    gst_buffer_unref(out);
}

TEST_F(ElementTest, ScoreAndHighScorePropertiesKeepAll64Bits)
{
    for (const guint64 value : {G_GUINT64_CONSTANT(4294967295), G_GUINT64_CONSTANT(4294967296), G_MAXUINT64}) {
        g_object_set(m_h->element, "high-score", value, nullptr);
        guint64 back = 0;
        g_object_get(m_h->element, "high-score", &back, nullptr);
        EXPECT_EQ(back, value);
    }
    guint64 score = 1;
    g_object_get(m_h->element, "score", &score, nullptr);
    EXPECT_EQ(score, 0u);
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(m_h->element), "score");
    ASSERT_NE(spec, nullptr);
    EXPECT_FALSE(spec->flags & G_PARAM_WRITABLE);
}

TEST_F(ElementTest, TestPlatformKeepsPropertiesOfTheElement)
{
    g_object_set(m_h->element, "data-dir", "/nonexistent/quell", "high-score", G_GUINT64_CONSTANT(99), nullptr);
    gst_util_set_object_arg(G_OBJECT(m_h->element), "clock", "stream");
    ManualClock other{5};
    SetElementPlatformForTesting(m_h->element, &other, &m_sound);
    gchar* dir = nullptr;
    guint64 high = 0;
    gint clock = 0;
    g_object_get(m_h->element, "data-dir", &dir, "high-score", &high, "clock", &clock, nullptr);
    EXPECT_STREQ(dir, "/nonexistent/quell");
    EXPECT_EQ(high, 99u);
    EXPECT_EQ(clock, 1) << "stream";
    g_free(dir);
    SetElementPlatformForTesting(m_h->element, &m_clock, &m_sound);
}

TEST_F(ElementTest, ControlFromAnotherThreadWhileFramesFlow)
{
    gst_harness_set_src_caps_str(m_h, Caps("BGRx", 160, 120).c_str());
    std::atomic<bool> done{false};
    std::thread control([&] {
        guint64 i = 0;
        while (!done.load()) {
            g_signal_emit_by_name(m_h->element, "reset-faces");
            g_object_set(m_h->element, "high-score", i << 32 | i, nullptr);
            guint64 high = 0, score = 0;
            g_object_get(m_h->element, "high-score", &high, "score", &score, nullptr);
            EXPECT_EQ(high >> 32, high & 0xffffffffu) << "torn 64-bit value";
            ++i;
        }
    });
    for (int i = 0; i < 200; ++i) {
        m_clock.Advance(33);
        const cv::Mat out = PushPull(PatternFrame(160, 120, i));
        ASSERT_EQ(out.cols, 160);
    }
    done = true;
    control.join();
}

TEST_F(ElementTest, SeedAndSilentPropertiesReadBackAndStartAtTheirDefaults)
{
    guint seed = 1;
    gboolean silent = TRUE;
    g_object_get(m_h->element, "seed", &seed, "silent", &silent, nullptr);
    EXPECT_EQ(seed, 0u);
    EXPECT_FALSE(silent);
    for (const guint value : {1u, 42u, G_MAXUINT, 0u}) {
        g_object_set(m_h->element, "seed", value, "silent", value % 2 ? TRUE : FALSE, nullptr);
        g_object_get(m_h->element, "seed", &seed, "silent", &silent, nullptr);
        EXPECT_EQ(seed, value);
        EXPECT_EQ(silent, value % 2 ? TRUE : FALSE);
    }
}

// The messages one run posts, as "event" names, and the first face-found.
struct MessageRun {
    std::vector<std::string> events;
    guint64 power = 0;
    gint powerClass = -1;
    std::string name;
    gint x = -1, width = 0;
    bool reachedFieldsMatch = false;
    size_t played = 0;
};

// The real worker finds the astronaut in a swaying clip; once the count-up
// has arrived, reset-faces drops the face.
MessageRun RunAstronaut(guint seed, gboolean silent)
{
    MessageRun run;
    const test::Scene scene;
    EXPECT_TRUE(scene.Valid());
    ManualClock clock{0};
    RecordingSoundPlayer sound;
    GstHarness* h = gst_harness_new("quellfx");
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    SetElementPlatformForTesting(h->element, &clock, &sound);
    g_object_set(h->element, "data-dir", QUELL_DATA_DIR, "seed", seed, "silent", silent, nullptr);
    gst_harness_set_src_caps_str(h, Caps("BGRx", 640, 480).c_str());

    auto drain = [&] {
        while (GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ELEMENT)) {
            const GstStructure* s = gst_message_get_structure(msg);
            if (gst_structure_has_name(s, "quellfx")) {
                const std::string event = gst_structure_get_string(s, "event");
                run.events.push_back(event);
                if (event == "face-found" && run.powerClass < 0) {
                    gst_structure_get(s, "power", G_TYPE_UINT64, &run.power, "class", G_TYPE_INT, &run.powerClass,
                                      "x", G_TYPE_INT, &run.x, "width", G_TYPE_INT, &run.width, nullptr);
                    EXPECT_TRUE(gst_structure_has_field_typed(s, "age", G_TYPE_INT64));
                    EXPECT_TRUE(gst_structure_has_field_typed(s, "height-cm", G_TYPE_INT));
                    EXPECT_TRUE(gst_structure_has_field_typed(s, "weight-kg", G_TYPE_INT));
                    run.name = gst_structure_get_string(s, "name");
                    EXPECT_NE(gst_structure_get_string(s, "origin"), nullptr);
                }
                if (event == "power-reached") {
                    guint64 power = 0;
                    gint cls = -1;
                    gst_structure_get(s, "power", G_TYPE_UINT64, &power, "class", G_TYPE_INT, &cls, nullptr);
                    run.reachedFieldsMatch = power == run.power && cls == run.powerClass;
                }
            }
            gst_message_unref(msg);
        }
    };
    auto has = [&](const char* event) {
        return std::find(run.events.begin(), run.events.end(), event) != run.events.end();
    };

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    for (int i = 0; !has("power-reached") && std::chrono::steady_clock::now() < deadline; ++i) {
        const double x = 170.0 + 60.0 * std::sin(i / 40.0);
        const double y = 20.0 + 12.0 * std::sin(i / 23.0);
        GstBuffer* out = gst_harness_push_and_pull(h, BufferFrom(scene.Render(cv::Size(640, 480), 0.75, x, y)));
        if (out)
            gst_buffer_unref(out);
        drain();
        if (!has("face-found")) {
            // The worker runs in real time.
            clock.Advance(33);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } else {
            // Three steps a frame: the points still move every frame.
            clock.Advance(99);
        }
    }
    g_signal_emit_by_name(h->element, "reset-faces");
    drain();
    for (const auto& call : sound.Calls())
        run.played += call.path.empty() ? 0 : 1;
    gst_harness_teardown(h);
    gst_object_unref(bus);
    return run;
}

TEST(ElementMessages, FoundReachedAndLostArriveInOrderAndSameSeedRollsTheSameFace)
{
    const MessageRun loud = RunAstronaut(7, FALSE);
    const MessageRun silent = RunAstronaut(7, TRUE);
    for (const MessageRun* run : {&loud, &silent}) {
        ASSERT_GE(run->events.size(), 3u);
        // The face may be lost and found again on the way; the last three
        // are the measured face.
        const std::vector<std::string> last(run->events.end() - 3, run->events.end());
        EXPECT_EQ(last, (std::vector<std::string>{"face-found", "power-reached", "face-lost"}));
        EXPECT_TRUE(run->reachedFieldsMatch);
        EXPECT_GE(run->powerClass, 0);
        EXPECT_LE(run->powerClass, 7);
        EXPECT_GT(run->width, 0);
        EXPECT_GE(run->x, 0);
        EXPECT_FALSE(run->name.empty());
    }
    EXPECT_GT(loud.played, 0u);
    EXPECT_EQ(silent.played, 0u) << "silent plays nothing";
    EXPECT_EQ(loud.power, silent.power) << "the same seed rolls the same power";
    EXPECT_EQ(loud.powerClass, silent.powerClass);
    EXPECT_EQ(loud.name, silent.name);
}

TEST(ElementLifetime, StateChangesWithoutFrames)
{
    GstElement* element = gst_element_factory_make("quellfx", nullptr);
    ASSERT_NE(element, nullptr);
    for (GstState state : {GST_STATE_READY, GST_STATE_PAUSED, GST_STATE_READY, GST_STATE_NULL, GST_STATE_PAUSED,
                           GST_STATE_NULL})
        EXPECT_NE(gst_element_set_state(element, state), GST_STATE_CHANGE_FAILURE);
    gst_object_unref(element);
}

}  // namespace
}  // namespace quell

// The element following the stream's clock through a real pipeline (appsrc !
// quellfx clock=stream ! appsink) with the real detection worker: renders of
// the same frames match byte for byte, however fast they are pushed and
// whether the buffers carry timestamps or not.
#include "filter/gstquellfx.h"

#include "support/Scene.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace quell {
namespace {

constexpr int kW = 640;
constexpr int kH = 480;
constexpr int kFrames = 75;  // 2.5 s at 30 frames per second
// Whole nanoseconds per frame, so that timestamps and durations add up
// exactly, with or without timestamps.
constexpr guint64 kFrameNs = 33333333;

std::string Caps()
{
    return "video/x-raw,format=BGRx,width=" + std::to_string(kW) + ",height=" + std::to_string(kH) +
           ",framerate=30/1";
}

// How the frames are pushed.
struct Push {
    const char* what;
    std::chrono::milliseconds pause;  // between two frames
    bool timestamps;                  // PTS and duration on every buffer but the first
};

struct Render {
    std::vector<std::string> frames;  // the bytes of every frame that left
    int facesFound = 0;
    std::string error;
};

// The astronaut sways across the canvas, as a person before a camera does.
std::vector<cv::Mat> Clip(const test::Scene& scene)
{
    std::vector<cv::Mat> clip;
    for (int i = 0; i < kFrames; ++i)
        clip.push_back(scene.Render(cv::Size(kW, kH), 0.75, 170.0 + 60.0 * std::sin(i / 10.0),
                                    20.0 + 12.0 * std::sin(i / 6.0)));
    return clip;
}

Render RenderClip(const std::vector<cv::Mat>& clip, const Push& push)
{
    Render render;
    const std::string description = "appsrc name=src format=time caps=\"" + Caps() +
                                    "\" ! quellfx name=fx clock=stream seed=5 silent=true ! appsink name=sink sync=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        render.error = error ? error->message : "no pipeline";
        g_clear_error(&error);
        return render;
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstElement* fx = gst_bin_get_by_name(GST_BIN(pipeline), "fx");
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    g_object_set(fx, "data-dir", QUELL_DATA_DIR, nullptr);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    // The frames that leave are collected while frames are pushed.
    std::thread collect([&] {
        for (;;) {
            GstSample* sample = nullptr;
            g_signal_emit_by_name(sink, "pull-sample", &sample);
            if (!sample)
                return;
            GstMapInfo map;
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                render.frames.emplace_back(reinterpret_cast<const char*>(map.data), map.size);
                gst_buffer_unmap(buffer, &map);
            }
            gst_sample_unref(sample);
        }
    });
    for (int i = 0; i < kFrames; ++i) {
        const cv::Mat& frame = clip[static_cast<size_t>(i)];
        const size_t size = frame.total() * frame.elemSize();
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        gst_buffer_fill(buffer, 0, frame.data, size);
        if (push.timestamps || i == 0) {
            GST_BUFFER_PTS(buffer) = i * kFrameNs;
            GST_BUFFER_DURATION(buffer) = kFrameNs;
        }
        GstFlowReturn flow = GST_FLOW_ERROR;
        g_signal_emit_by_name(src, "push-buffer", buffer, &flow);
        gst_buffer_unref(buffer);
        if (flow != GST_FLOW_OK) {
            render.error = std::string("push: ") + gst_flow_get_name(flow);
            break;
        }
        std::this_thread::sleep_for(push.pause);
    }
    GstFlowReturn flow = GST_FLOW_ERROR;
    g_signal_emit_by_name(src, "end-of-stream", &flow);
    collect.join();

    GstBus* bus = gst_element_get_bus(pipeline);
    while (GstMessage* msg = gst_bus_pop_filtered(bus, static_cast<GstMessageType>(GST_MESSAGE_ELEMENT |
                                                                                  GST_MESSAGE_ERROR))) {
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* err = nullptr;
            gst_message_parse_error(msg, &err, nullptr);
            render.error = err->message;
            g_error_free(err);
        } else {
            const GstStructure* s = gst_message_get_structure(msg);
            const gchar* event = gst_structure_has_name(s, "quellfx") ? gst_structure_get_string(s, "event") : nullptr;
            if (event && std::strcmp(event, "face-found") == 0)
                ++render.facesFound;
        }
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(fx);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    return render;
}

TEST(StreamClock, RendersOfTheSameFramesMatchByteForByte)
{
    const test::Scene scene;
    ASSERT_TRUE(scene.Valid()) << "astronaut.png not found in " << QUELL_TESTDATA_DIR;
    const std::vector<cv::Mat> clip = Clip(scene);

    const Render reference = RenderClip(clip, {"as fast as it goes", std::chrono::milliseconds(0), true});
    ASSERT_TRUE(reference.error.empty()) << reference.error;
    ASSERT_EQ(reference.frames.size(), static_cast<size_t>(kFrames));
    ASSERT_GE(reference.facesFound, 1) << "the face is found";

    const Push pushes[] = {
        {"again, as fast as it goes", std::chrono::milliseconds(0), true},
        {"at half speed", std::chrono::milliseconds(2 * kFrameNs / 1000000), true},
        {"without timestamps or durations after the first: the caps' frame rate", std::chrono::milliseconds(0), false},
    };
    for (const Push& push : pushes) {
        const Render render = RenderClip(clip, push);
        ASSERT_TRUE(render.error.empty()) << push.what << ": " << render.error;
        ASSERT_EQ(render.frames.size(), reference.frames.size()) << push.what;
        for (size_t i = 0; i < render.frames.size(); ++i)
            ASSERT_TRUE(render.frames[i] == reference.frames[i]) << push.what << ": frame " << i << " differs";
        EXPECT_EQ(render.facesFound, reference.facesFound) << push.what;
    }
}

TEST(StreamClock, WallIsTheDefaultAndTheValuesReadBack)
{
    GstElement* fx = gst_element_factory_make("quellfx", nullptr);
    ASSERT_NE(fx, nullptr);
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(fx), "clock");
    ASSERT_NE(spec, nullptr);
    EXPECT_TRUE(spec->flags & GST_PARAM_MUTABLE_READY) << "taken up at start";
    auto nick = [fx, spec] {
        gint value = -1;
        g_object_get(fx, "clock", &value, nullptr);
        GEnumValue* v = g_enum_get_value(G_PARAM_SPEC_ENUM(spec)->enum_class, value);
        return std::string(v ? v->value_nick : "?");
    };
    EXPECT_EQ(nick(), "wall");
    for (const char* value : {"stream", "wall", "stream"}) {
        gst_util_set_object_arg(G_OBJECT(fx), "clock", value);
        EXPECT_EQ(nick(), value);
    }
    gst_object_unref(fx);
}

}  // namespace
}  // namespace quell

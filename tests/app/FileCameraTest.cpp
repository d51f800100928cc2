// The file camera: a picture or a video file listed as the only camera and
// played as a live source at whatever size is asked, the video in a loop.
#include "graph/DeviceChoice.h"
#include "graph/FileCamera.h"
#include "graph/GstRef.h"

#include <gst/app/gstappsink.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quell {
namespace {

const std::string kPicture = std::string(QUELL_TESTDATA_DIR) + "/astronaut.png";
const std::filesystem::path kScratch = std::filesystem::path(QUELL_TEST_OUTPUT_DIR) / "file-camera";

// A short MJPEG AVI clip of `frames` frames at 30 per second, made once.
std::string MakeClip(int frames)
{
    std::filesystem::create_directories(kScratch);
    const std::filesystem::path clip = kScratch / ("clip" + std::to_string(frames) + ".avi");
    if (std::filesystem::exists(clip))
        return clip.string();
    const std::string description =
        "videotestsrc num-buffers=" + std::to_string(frames) +
        " pattern=ball ! video/x-raw,width=160,height=120,framerate=30/1 ! jpegenc ! avimux ! filesink location=\"" +
        clip.string() + "\"";
    GError* error = nullptr;
    GstRef<GstElement> pipeline = Adopt(gst_parse_launch(description.c_str(), &error));
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    if (!pipeline)
        return {};
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    GstMessage* message = gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    EXPECT_TRUE(message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS);
    if (message)
        gst_message_unref(message);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return clip.string();
}

struct Frame {
    int width = 0;
    int height = 0;
    GstClockTime pts = GST_CLOCK_TIME_NONE;
    std::vector<guint8> pixels;
};

// camera ! capsfilter(caps) ! appsink, played until `count` frames came.
class CameraRun {
public:
    CameraRun(GstElement* camera, const char* caps)
    {
        m_pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
        m_sink = gst_element_factory_make("appsink", nullptr);
        GstCaps* filterCaps = gst_caps_from_string(caps);
        g_object_set(filter, "caps", filterCaps, nullptr);
        gst_caps_unref(filterCaps);
        g_object_set(m_sink, "sync", FALSE, "max-buffers", 200u, nullptr);
        gst_bin_add_many(GST_BIN(m_pipeline.get()), camera, filter, m_sink, nullptr);
        m_linked = gst_element_link_many(camera, filter, m_sink, nullptr);
        m_bus.reset(gst_element_get_bus(m_pipeline.get()));
    }
    ~CameraRun() { gst_element_set_state(m_pipeline.get(), GST_STATE_NULL); }

    bool Play() { return m_linked && gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }

    std::vector<Frame> Take(int count)
    {
        std::vector<Frame> frames;
        while (static_cast<int>(frames.size()) < count) {
            GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), 5 * GST_SECOND);
            if (!sample) {
                ADD_FAILURE() << "no frame within 5 s after " << frames.size() << ": " << BusError();
                break;
            }
            Frame frame;
            const GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
            gst_structure_get_int(s, "width", &frame.width);
            gst_structure_get_int(s, "height", &frame.height);
            GstBuffer* buffer = gst_sample_get_buffer(sample);
            frame.pts = GST_BUFFER_PTS(buffer);
            GstMapInfo map;
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                frame.pixels.assign(map.data, map.data + map.size);
                gst_buffer_unmap(buffer, &map);
            }
            gst_sample_unref(sample);
            frames.push_back(std::move(frame));
        }
        return frames;
    }

    std::string BusError()
    {
        GstMessage* message = gst_bus_pop_filtered(m_bus.get(), GST_MESSAGE_ERROR);
        if (!message)
            return "no error on the bus";
        GError* error = nullptr;
        gchar* debug = nullptr;
        gst_message_parse_error(message, &error, &debug);
        std::string text = std::string(error ? error->message : "") + " / " + (debug ? debug : "");
        g_clear_error(&error);
        g_free(debug);
        gst_message_unref(message);
        return text;
    }

    GstElement* Pipeline() const { return m_pipeline.get(); }

private:
    GstRef<GstElement> m_pipeline;
    GstRef<GstBus> m_bus;
    GstElement* m_sink = nullptr;
    bool m_linked = false;
};

void ExpectRunningTimes(const std::vector<Frame>& frames)
{
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_TRUE(GST_CLOCK_TIME_IS_VALID(frames[i].pts));
        EXPECT_GT(frames[i].pts, frames[i - 1].pts) << "frame " << i;
    }
}

GstRef<GstDevice> OnlyCamera(std::string& name)
{
    bool ok = false;
    std::vector<ListedDevice> listed = ListDevices("Video/Source", ok);
    EXPECT_TRUE(ok);
    if (listed.size() != 1) {
        ADD_FAILURE() << listed.size() << " cameras listed";
        return {};
    }
    name = listed[0].name;
    return std::move(listed[0].device);
}

TEST(FileCamera, RefusesFilesThatAreNeitherPictureNorVideo)
{
    std::filesystem::create_directories(kScratch);
    const std::string text = (kScratch / "notes.txt").string();
    std::ofstream(text) << "not a picture, not a video\n";
    const struct {
        std::string path;
        const char* mentions;
    } cases[] = {
        {(kScratch / "missing.png").string(), "ファイルが見つかりません"},
        {kScratch.string(), "ファイルが見つかりません"},
        {text, "画像または動画として読み込めませんでした"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(RegisterFileCamera(c.path, error)) << c.path;
        EXPECT_NE(error.find(c.mentions), std::string::npos) << error;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
    }
    EXPECT_FALSE(FileCameraActive());
}

TEST(FileCamera, PictureIsTheOnlyCameraAndMovesAtTheAskedSize)
{
    std::string error;
    ASSERT_TRUE(RegisterFileCamera(kPicture, error)) << error;
    EXPECT_TRUE(FileCameraActive());

    // Every other provider of cameras is out of the monitors' reach.
    GList* factories = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_DEVICE_PROVIDER_FACTORY);
    for (GList* item = factories; item; item = item->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(item->data);
        const char* name = gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory));
        if (g_strcmp0(name, kFileCameraProviderName) != 0 &&
            gst_device_provider_factory_has_classes(factory, "Video/Source")) {
            EXPECT_EQ(gst_plugin_feature_get_rank(GST_PLUGIN_FEATURE(factory)), GST_RANK_NONE) << name;
        }
    }
    gst_plugin_feature_list_free(factories);

    std::string name;
    GstRef<GstDevice> device = OnlyCamera(name);
    ASSERT_TRUE(device);
    EXPECT_EQ(name, "ファイル: astronaut.png");
    GstCaps* caps = gst_device_get_caps(device.get());
    int width = 0;
    gst_structure_get_int(gst_caps_get_structure(caps, 0), "width", &width);
    EXPECT_EQ(width, 640);
    gst_caps_unref(caps);

    const struct {
        const char* caps;
        int width;
        int height;
    } sizes[] = {
        {"video/x-raw, format=BGRx", 640, 480},
        {"video/x-raw, format=BGRx, width=320, height=240", 320, 240},
        {"video/x-raw, format=I420, width=1280, height=720, framerate=15/1", 1280, 720},
    };
    for (const auto& size : sizes) {
        SCOPED_TRACE(size.caps);
        CameraRun run(gst_device_create_element(device.get(), "Capture Filter"), size.caps);
        ASSERT_TRUE(run.Play());
        const std::vector<Frame> frames = run.Take(12);
        ASSERT_EQ(frames.size(), 12u);
        for (const Frame& frame : frames) {
            EXPECT_EQ(frame.width, size.width);
            EXPECT_EQ(frame.height, size.height);
        }
        ExpectRunningTimes(frames);
        // The picture glides: the first and the last frame differ.
        EXPECT_NE(frames.front().pixels, frames.back().pixels);
    }
}

TEST(FileCamera, VideoLoopsPastItsEndWithRunningTimestamps)
{
    const std::string clip = MakeClip(10);  // a third of a second
    ASSERT_FALSE(clip.empty());
    std::string error;
    ASSERT_TRUE(RegisterFileCamera(clip, error)) << error;
    std::string name;
    GstRef<GstDevice> device = OnlyCamera(name);
    ASSERT_TRUE(device);
    EXPECT_EQ(name, "ファイル: " + std::filesystem::path(clip).filename().string());
    GstCaps* caps = gst_device_get_caps(device.get());
    const GstStructure* first = gst_caps_get_structure(caps, 0);
    int width = 0;
    int height = 0;
    int rateNum = 0;
    int rateDen = 0;
    gst_structure_get_int(first, "width", &width);
    gst_structure_get_int(first, "height", &height);
    gst_structure_get_fraction(first, "framerate", &rateNum, &rateDen);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    EXPECT_EQ(rateNum * 1, rateDen * 30);
    gst_caps_unref(caps);

    CameraRun run(gst_device_create_element(device.get(), "Capture Filter"),
                  "video/x-raw, format=BGRx, width=320, height=240");
    ASSERT_TRUE(run.Play());
    // Three times the clip's length.
    const std::vector<Frame> frames = run.Take(30);
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_EQ(frames.back().width, 320);
    ExpectRunningTimes(frames);
    EXPECT_GT(frames.back().pts - frames.front().pts, 600 * GST_MSECOND);
}

TEST(FileCamera, StopsAndStartsAgainAndReportsAnUnreadableVideo)
{
    const std::string clip = MakeClip(10);
    for (const std::string& path : {kPicture, clip}) {
        SCOPED_TRACE(path);
        CameraRun run(CreateFileCameraElement(path, "cam"), "video/x-raw, width=64, height=48");
        for (int round = 0; round < 2; ++round) {
            ASSERT_TRUE(run.Play());
            EXPECT_EQ(run.Take(3).size(), 3u);
            gst_element_set_state(run.Pipeline(), GST_STATE_READY);
        }
        ASSERT_TRUE(run.Play());
        EXPECT_EQ(run.Take(2).size(), 2u);
    }  // and torn down while playing

    // Files that break after the check: the camera posts an error, whether
    // the decoder reports one or just never brings a frame.
    std::filesystem::create_directories(kScratch);
    const std::string text = (kScratch / "changed.txt").string();
    std::ofstream(text) << "no longer a video";
    const std::string broken = (kScratch / "broken.avi").string();
    std::ofstream(broken) << "RIFF0000AVI garbage";
    for (const std::string& path : {text, broken}) {
        SCOPED_TRACE(path);
        CameraRun run(CreateFileCameraElement(path, "cam"), "video/x-raw");
        run.Play();
        GstRef<GstBus> bus(gst_element_get_bus(run.Pipeline()));
        GstMessage* message = gst_bus_timed_pop_filtered(bus.get(), 8 * GST_SECOND, GST_MESSAGE_ERROR);
        ASSERT_NE(message, nullptr);
        EXPECT_STREQ(GST_OBJECT_NAME(GST_MESSAGE_SRC(message)), "cam");
        gst_message_unref(message);
    }
}

}  // namespace
}  // namespace quell

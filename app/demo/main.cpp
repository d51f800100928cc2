// quellfx-preview: shows the quellfx element live in a window, fed by the
// camera when one is attached and by the moving demo picture otherwise.
#include "demo/DemoPicture.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 30;

struct DemoFeed {
    std::unique_ptr<quell::CDemoPicture> picture;
    guint64 frame = 0;
};

// appsrc asks for data: render the next frame of the demo picture.
void OnNeedData(GstAppSrc* src, guint, gpointer data)
{
    auto* feed = static_cast<DemoFeed*>(data);
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kWidth * kHeight * 4, nullptr);
    GstMapInfo map;
    if (gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        cv::Mat canvas(kHeight, kWidth, CV_8UC4, map.data);
        feed->picture->Render(canvas, feed->frame * 1000.0 / kFps);
        gst_buffer_unmap(buffer, &map);
    }
    GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(feed->frame, GST_SECOND, kFps);
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, kFps);
    ++feed->frame;
    gst_app_src_push_buffer(src, buffer);
}

bool HasCamera()
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        if (entry.path().filename().string().rfind("video", 0) == 0)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe").parent_path();
    // The plugin sits beside this program.
    gst_registry_scan_path(gst_registry_get(), self.c_str());
    const std::string dataDir = (self / "data").string();

    const bool camera = HasCamera() && !(argc > 1 && std::string(argv[1]) == "--demo");
    const std::string source = camera ? "v4l2src ! decodebin ! videoconvert ! videoscale"
                                      : "appsrc name=demo is-live=true format=time";
    const std::string description = source +
                                    " ! video/x-raw,format=BGRx ! quellfx name=fx data-dir=\"" + dataDir +
                                    "\" ! videoconvert ! autovideosink";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline) {
        std::cerr << "Cannot build the preview: " << (error ? error->message : "unknown error") << "\n";
        g_clear_error(&error);
        return 1;
    }
    g_clear_error(&error);

    DemoFeed feed;
    if (!camera) {
        feed.picture = std::make_unique<quell::CDemoPicture>(dataDir + "/astronaut.png");
        if (!feed.picture->Valid()) {
            std::cerr << "Cannot read the demo picture " << dataDir << "/astronaut.png\n";
            gst_object_unref(pipeline);
            return 1;
        }
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "demo");
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                            kWidth, "height", G_TYPE_INT, kHeight, "framerate", GST_TYPE_FRACTION,
                                            kFps, 1, nullptr);
        g_object_set(src, "caps", caps, nullptr);
        gst_caps_unref(caps);
        GstAppSrcCallbacks callbacks{};
        callbacks.need_data = OnNeedData;
        gst_app_src_set_callbacks(GST_APP_SRC(src), &callbacks, &feed, nullptr);
        gst_object_unref(src);
    }
    std::cout << "Showing the effect on " << (camera ? "the camera" : "the demo picture")
              << "; close the window or press Ctrl+C to stop.\n";

    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    int status = 0;
    for (;;) {
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, GST_CLOCK_TIME_NONE, static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
            GError* err = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(msg, &err, &debug);
            std::cerr << "Error: " << err->message << "\n" << (debug ? debug : "") << "\n";
            g_clear_error(&err);
            g_free(debug);
            status = 1;
        }
        gst_message_unref(msg);
        break;
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
    return status;
}

// The file camera: its source bin with the feeds that fill it, its device and
// its device provider.
#include "graph/FileCamera.h"

#include "demo/DemoPicture.h"
#include "graph/GstRef.h"

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace quell {
namespace {

constexpr int kStillWidth = 640;
constexpr int kStillHeight = 480;
constexpr int kStillRate = 30;
constexpr GstClockTime kFrameDuration = GST_SECOND / kStillRate;
// How long the check of a video file may take to show its first frame.
constexpr GstClockTime kProbeTimeout = 10 * GST_SECOND;
// A playing video file that brings no frame for this long has failed.
constexpr auto kStallTimeout = std::chrono::seconds(5);
constexpr GstClockTime kWatchInterval = 500 * GST_MSECOND;

std::string ToUri(const std::string& path)
{
    GError* error = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &error);
    g_clear_error(&error);
    std::string text = uri ? uri : "";
    g_free(uri);
    return text;
}

// Something that pushes frames into the bin's appsrc between Start and Stop.
class IFeed {
public:
    virtual ~IFeed() = default;
    virtual bool Start() = 0;
    virtual void Stop() = 0;
};

// A still picture in motion: a thread renders the scene 30 times a second.
class CStillFeed : public IFeed {
public:
    CStillFeed(const CDemoPicture& picture, GstAppSrc* appsrc) : m_picture(picture), m_appsrc(appsrc) {}
    ~CStillFeed() override { Stop(); }

    bool Start() override
    {
        m_stop = false;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    void Stop() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void Run()
    {
        using Clock = std::chrono::steady_clock;
        const auto start = Clock::now();
        const auto period = std::chrono::nanoseconds(kFrameDuration);
        auto next = start;
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            lock.unlock();
            const double timeMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            PushFrame(timeMs);
            lock.lock();
            next += period;
            const auto now = Clock::now();
            if (next < now)  // fell behind: no burst of frames to catch up
                next = now;
            m_wake.wait_until(lock, next, [this] { return m_stop; });
        }
    }

    void PushFrame(double timeMs)
    {
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, kStillWidth * kStillHeight * 4, nullptr);
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            gst_buffer_unref(buffer);
            return;
        }
        cv::Mat canvas(kStillHeight, kStillWidth, CV_8UC4, map.data, kStillWidth * 4);
        m_picture.Render(canvas, timeMs);
        gst_buffer_unmap(buffer, &map);
        gst_app_src_push_buffer(m_appsrc, buffer);  // takes the buffer; refused while flushing
    }

    const CDemoPicture& m_picture;
    GstAppSrc* m_appsrc;  // borrowed from the bin, which outlives the feed
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};

// The decoding pipeline of a video file: uridecodebin ! videoconvert !
// appsink (BGRx), with the decoder's video pad linked when it appears.
GstElement* MakeDecodePipeline(const std::string& uri, bool sync, GstElement** sinkOut)
{
    GstElement* pipeline = gst_pipeline_new("file-camera-decode");
    GstElement* decoder = gst_element_factory_make("uridecodebin", "decoder");
    GstElement* convert = gst_element_factory_make("videoconvert", "convert");
    GstElement* sink = gst_element_factory_make("appsink", "sink");
    if (!decoder || !convert || !sink) {
        for (GstElement* element : {decoder, convert, sink})
            if (element)
                gst_object_unref(gst_object_ref_sink(element));
        gst_object_unref(gst_object_ref_sink(pipeline));
        return nullptr;
    }
    GstCaps* caps = gst_caps_from_string("video/x-raw, format=(string)BGRx");
    g_object_set(sink, "caps", caps, "sync", sync, "max-buffers", 2u, "drop", TRUE, nullptr);
    gst_caps_unref(caps);
    g_object_set(decoder, "uri", uri.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), decoder, convert, sink, nullptr);
    gst_element_link(convert, sink);
    g_signal_connect(decoder, "pad-added", G_CALLBACK(+[](GstElement*, GstPad* pad, gpointer data) {
                         GstPad* target = gst_element_get_static_pad(GST_ELEMENT(data), "sink");
                         GstCaps* padCaps = gst_pad_query_caps(pad, nullptr);
                         const GstStructure* s = padCaps && !gst_caps_is_empty(padCaps) && !gst_caps_is_any(padCaps)
                                                     ? gst_caps_get_structure(padCaps, 0)
                                                     : nullptr;
                         if (s && g_str_has_prefix(gst_structure_get_name(s), "video/") && !gst_pad_is_linked(target))
                             gst_pad_link(pad, target);
                         if (padCaps)
                             gst_caps_unref(padCaps);
                         gst_object_unref(target);
                     }),
                     convert);
    *sinkOut = sink;
    return pipeline;
}

// A video file played in a loop: its own pipeline decodes it at its own pace
// and hands every frame to the appsrc, which stamps it with the outer
// pipeline's running time, so the time keeps running across the loops. A
// thread of the feed watches the inner pipeline's bus and rewinds it at the
// end of the file.
class CVideoFeed : public IFeed {
public:
    CVideoFeed(std::string uri, GstAppSrc* appsrc, GstElement* owner)
        : m_uri(std::move(uri)), m_appsrc(appsrc), m_owner(owner)
    {
    }
    ~CVideoFeed() override { Stop(); }

    bool Start() override
    {
        GstElement* sink = nullptr;
        m_pipeline = Adopt(MakeDecodePipeline(m_uri, true, &sink));
        if (!m_pipeline)
            return false;
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = &CVideoFeed::OnSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        m_bus.reset(gst_element_get_bus(m_pipeline.get()));
        if (gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            ForwardError(nullptr);
            m_bus.reset();
            m_pipeline.reset();
            return false;
        }
        m_thread = std::thread([this] { Watch(); });
        return true;
    }

    void Stop() override
    {
        if (!m_pipeline)
            return;
        gst_bus_post(m_bus.get(), gst_message_new_application(nullptr, gst_structure_new_empty("stop")));
        if (m_thread.joinable())
            m_thread.join();
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        m_bus.reset();
        m_pipeline.reset();
        if (m_caps) {
            gst_caps_unref(m_caps);
            m_caps = nullptr;
        }
    }

private:
    static GstFlowReturn OnSample(GstAppSink* sink, gpointer data)
    {
        auto* self = static_cast<CVideoFeed*>(data);
        GstSample* sample = gst_app_sink_pull_sample(sink);
        if (!sample)
            return GST_FLOW_OK;
        GstCaps* caps = gst_sample_get_caps(sample);
        if (caps && (!self->m_caps || !gst_caps_is_equal(caps, self->m_caps))) {
            gst_caps_replace(&self->m_caps, caps);
            gst_app_src_set_caps(self->m_appsrc, caps);
        }
        if (GstBuffer* buffer = gst_sample_get_buffer(sample)) {
            ++self->m_frames;
            // The file's own times restart at every loop; the appsrc stamps
            // the frames afresh.
            buffer = gst_buffer_copy(buffer);
            GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
            GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
            GST_BUFFER_DURATION(buffer) = GST_CLOCK_TIME_NONE;
            GST_BUFFER_OFFSET(buffer) = GST_BUFFER_OFFSET_NONE;
            GST_BUFFER_FLAG_UNSET(buffer, GST_BUFFER_FLAG_DISCONT);
            gst_app_src_push_buffer(self->m_appsrc, buffer);
        }
        gst_sample_unref(sample);
        return GST_FLOW_OK;
    }

    // Rewinds at the end of the file; gives up with an error when the inner
    // pipeline fails, when a pass through the file brings no frame (nothing
    // to loop) or when frames stop coming (a decoder can swallow its
    // element's error while it is being tried).
    void Watch()
    {
        const auto types = static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_APPLICATION);
        std::uint64_t framesAtRewind = 0;
        std::uint64_t framesSeen = 0;
        auto lastProgress = std::chrono::steady_clock::now();
        bool failed = false;
        for (;;) {
            GstMessage* message = gst_bus_timed_pop_filtered(m_bus.get(), kWatchInterval, types);
            const std::uint64_t frames = m_frames.load();
            if (frames != framesSeen) {
                framesSeen = frames;
                lastProgress = std::chrono::steady_clock::now();
            }
            if (!message) {
                if (!failed && std::chrono::steady_clock::now() - lastProgress > kStallTimeout) {
                    ForwardError(nullptr);
                    failed = true;
                }
                continue;
            }
            const GstMessageType type = GST_MESSAGE_TYPE(message);
            if (type == GST_MESSAGE_APPLICATION) {
                gst_message_unref(message);
                return;
            }
            if (!failed && type == GST_MESSAGE_ERROR) {
                ForwardError(message);
                failed = true;
            } else if (!failed && type == GST_MESSAGE_EOS) {
                if (frames == framesAtRewind) {
                    ForwardError(nullptr);
                    failed = true;
                } else {
                    framesAtRewind = frames;
                    Rewind();
                }
            }
            gst_message_unref(message);
        }
    }

    void Rewind()
    {
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT);
        if (gst_element_seek_simple(m_pipeline.get(), GST_FORMAT_TIME, flags, 0))
            return;
        // Not seekable: start the file again from scratch.
        gst_element_set_state(m_pipeline.get(), GST_STATE_READY);
        gst_element_set_state(m_pipeline.get(), GST_STATE_PLAYING);
    }

    // The inner pipeline's failure becomes the camera's, on the program's bus.
    void ForwardError(GstMessage* message)
    {
        GError* error = nullptr;
        gchar* debug = nullptr;
        if (message)
            gst_message_parse_error(message, &error, &debug);
        gst_element_message_full(m_owner, GST_MESSAGE_ERROR, GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                 g_strdup(error ? error->message : "映像ファイルを再生できませんでした"),
                                 g_strdup_printf("%s (%s)", m_uri.c_str(), debug ? debug : ""), __FILE__,
                                 GST_FUNCTION, __LINE__);
        g_clear_error(&error);
        g_free(debug);
    }

    const std::string m_uri;
    GstAppSrc* m_appsrc;   // borrowed from the bin, which outlives the feed
    GstElement* m_owner;   // the bin
    GstRef<GstElement> m_pipeline;
    GstRef<GstBus> m_bus;
    GstCaps* m_caps = nullptr;  // what the appsrc was last told; streaming thread only
    std::atomic<std::uint64_t> m_frames{0};  // frames handed on so far
    std::thread m_thread;
};

}  // namespace
}  // namespace quell

// ---- the source bin -------------------------------------------------------

G_BEGIN_DECLS
#define QUELL_TYPE_FILE_CAMERA_SRC (quell_file_camera_src_get_type())
G_DECLARE_FINAL_TYPE(QuellFileCameraSrc, quell_file_camera_src, QUELL, FILE_CAMERA_SRC, GstBin)
G_END_DECLS

namespace quell {
namespace {

struct FileCameraSrcState {
    std::string uri;
    std::unique_ptr<CDemoPicture> picture;  // set for a still picture
    GstAppSrc* appsrc = nullptr;            // child of the bin
    std::unique_ptr<IFeed> feed;            // between READY->PAUSED and PAUSED->READY
};

}  // namespace
}  // namespace quell

struct _QuellFileCameraSrc {
    GstBin parent;
    quell::FileCameraSrcState* state;
};

G_DEFINE_TYPE(QuellFileCameraSrc, quell_file_camera_src, GST_TYPE_BIN)

static GstStateChangeReturn quell_file_camera_src_change_state(GstElement* element, GstStateChange transition)
{
    auto* self = QUELL_FILE_CAMERA_SRC(element);
    quell::FileCameraSrcState& state = *self->state;
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY && state.feed) {
        state.feed->Stop();
        state.feed.reset();
    }
    const GstStateChangeReturn result =
        GST_ELEMENT_CLASS(quell_file_camera_src_parent_class)->change_state(element, transition);
    if (result == GST_STATE_CHANGE_FAILURE)
        return result;
    // The feed starts once the appsrc takes buffers (it refuses them below PAUSED).
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        if (state.picture)
            state.feed = std::make_unique<quell::CStillFeed>(*state.picture, state.appsrc);
        else
            state.feed = std::make_unique<quell::CVideoFeed>(state.uri, state.appsrc, element);
        if (!state.feed->Start()) {
            state.feed.reset();
            return GST_STATE_CHANGE_FAILURE;
        }
    }
    return result;
}

static void quell_file_camera_src_finalize(GObject* object)
{
    auto* self = QUELL_FILE_CAMERA_SRC(object);
    delete self->state;
    self->state = nullptr;
    G_OBJECT_CLASS(quell_file_camera_src_parent_class)->finalize(object);
}

static void quell_file_camera_src_class_init(QuellFileCameraSrcClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = quell_file_camera_src_finalize;
    GST_ELEMENT_CLASS(klass)->change_state = quell_file_camera_src_change_state;
}

static void quell_file_camera_src_init(QuellFileCameraSrc* self)
{
    self->state = new quell::FileCameraSrcState;
}

// ---- the device and its provider -----------------------------------------

G_BEGIN_DECLS
#define QUELL_TYPE_FILE_CAMERA_DEVICE (quell_file_camera_device_get_type())
G_DECLARE_FINAL_TYPE(QuellFileCameraDevice, quell_file_camera_device, QUELL, FILE_CAMERA_DEVICE, GstDevice)
#define QUELL_TYPE_FILE_CAMERA_PROVIDER (quell_file_camera_provider_get_type())
G_DECLARE_FINAL_TYPE(QuellFileCameraProvider, quell_file_camera_provider, QUELL, FILE_CAMERA_PROVIDER,
                     GstDeviceProvider)
G_END_DECLS

struct _QuellFileCameraDevice {
    GstDevice parent;
    gchar* path;
};

G_DEFINE_TYPE(QuellFileCameraDevice, quell_file_camera_device, GST_TYPE_DEVICE)

static GstElement* quell_file_camera_device_create_element(GstDevice* device, const gchar* name)
{
    return quell::CreateFileCameraElement(QUELL_FILE_CAMERA_DEVICE(device)->path, name);
}

static void quell_file_camera_device_finalize(GObject* object)
{
    g_free(QUELL_FILE_CAMERA_DEVICE(object)->path);
    G_OBJECT_CLASS(quell_file_camera_device_parent_class)->finalize(object);
}

static void quell_file_camera_device_class_init(QuellFileCameraDeviceClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = quell_file_camera_device_finalize;
    GST_DEVICE_CLASS(klass)->create_element = quell_file_camera_device_create_element;
}

static void quell_file_camera_device_init(QuellFileCameraDevice* self)
{
    self->path = nullptr;
}

namespace quell {
namespace {

// The registered file: what the provider lists. Set by RegisterFileCamera
// on the program's main thread, read by providers on any thread.
struct FileCameraRegistration {
    std::mutex mutex;
    bool registered = false;  // the plugin is known to GStreamer
    std::string path;         // empty until a file was accepted
    std::string displayName;
    std::string caps;
};

FileCameraRegistration& Registration()
{
    static FileCameraRegistration* registration = new FileCameraRegistration;  // as long as the plugin
    return *registration;
}

}  // namespace
}  // namespace quell

struct _QuellFileCameraProvider {
    GstDeviceProvider parent;
};

G_DEFINE_TYPE(QuellFileCameraProvider, quell_file_camera_provider, GST_TYPE_DEVICE_PROVIDER)

static GList* quell_file_camera_provider_probe(GstDeviceProvider*)
{
    quell::FileCameraRegistration& registration = quell::Registration();
    std::lock_guard lock(registration.mutex);
    if (registration.path.empty())
        return nullptr;
    GstCaps* caps = gst_caps_from_string(registration.caps.c_str());
    auto* device = static_cast<QuellFileCameraDevice*>(
        g_object_new(QUELL_TYPE_FILE_CAMERA_DEVICE, "display-name", registration.displayName.c_str(), "device-class",
                     "Video/Source", "caps", caps, nullptr));
    gst_caps_unref(caps);
    device->path = g_strdup(registration.path.c_str());
    return g_list_append(nullptr, device);
}

static void quell_file_camera_provider_class_init(QuellFileCameraProviderClass* klass)
{
    GstDeviceProviderClass* providerClass = GST_DEVICE_PROVIDER_CLASS(klass);
    providerClass->probe = quell_file_camera_provider_probe;
    gst_device_provider_class_set_static_metadata(providerClass, "File camera", "Source/Video",
                                                  "A picture or a video file shown as a camera", "Quellvisor");
}

static void quell_file_camera_provider_init(QuellFileCameraProvider*) {}

static gboolean file_camera_plugin_init(GstPlugin* plugin)
{
    return gst_device_provider_register(plugin, quell::kFileCameraProviderName, GST_RANK_PRIMARY,
                                        QUELL_TYPE_FILE_CAMERA_PROVIDER);
}

// ---- the program-facing functions ---------------------------------------

namespace quell {
namespace {

struct VideoFormat {
    int width = 0;
    int height = 0;
    int rateNum = 0;
    int rateDen = 1;
};

// Decodes the file up to its first frame; false when that does not happen.
bool ProbeVideo(const std::string& uri, VideoFormat& format, std::string& why)
{
    GstElement* sink = nullptr;
    GstRef<GstElement> pipeline = Adopt(MakeDecodePipeline(uri, false, &sink));
    if (!pipeline) {
        why = "decoder elements missing";
        return false;
    }
    GstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    bool ok = false;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PAUSED) != GST_STATE_CHANGE_FAILURE) {
        GstMessage* message = gst_bus_timed_pop_filtered(
            bus.get(), kProbeTimeout, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
        if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ASYNC_DONE) {
            GstPad* pad = gst_element_get_static_pad(sink, "sink");
            if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
                const GstStructure* s = gst_caps_get_structure(caps, 0);
                ok = gst_structure_get_int(s, "width", &format.width) &&
                     gst_structure_get_int(s, "height", &format.height);
                gst_structure_get_fraction(s, "framerate", &format.rateNum, &format.rateDen);
                gst_caps_unref(caps);
            }
            gst_object_unref(pad);
        } else if (message && GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gst_message_parse_error(message, &error, nullptr);
            why = error ? error->message : "";
            g_clear_error(&error);
        }
        if (message)
            gst_message_unref(message);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return ok;
}

// The formats the device offers: its own size first, then common ones,
// all at its own frame rate (the bin scales and retimes to any of them).
std::string DeviceCaps(const VideoFormat& format)
{
    const int rateNum = format.rateNum > 0 ? format.rateNum : kStillRate;
    const int rateDen = format.rateNum > 0 ? format.rateDen : 1;
    std::vector<std::pair<int, int>> sizes{{format.width, format.height}};
    for (const std::pair<int, int>& size : {std::pair{320, 240}, std::pair{640, 480}, std::pair{1280, 720}})
        if (size != sizes.front())
            sizes.push_back(size);
    std::string caps;
    for (const auto& [width, height] : sizes) {
        gchar* one = g_strdup_printf(
            "video/x-raw, format=(string)BGRx, width=(int)%d, height=(int)%d, framerate=(fraction)%d/%d", width,
            height, rateNum, rateDen);
        if (!caps.empty())
            caps += "; ";
        caps += one;
        g_free(one);
    }
    return caps;
}

}  // namespace

GstElement* CreateFileCameraElement(const std::string& path, const char* name)
{
    const std::string uri = ToUri(path);
    if (uri.empty())
        return nullptr;
    auto picture = std::make_unique<CDemoPicture>(path);

    auto* bin = static_cast<QuellFileCameraSrc*>(g_object_new(QUELL_TYPE_FILE_CAMERA_SRC, "name", name, nullptr));
    GstElement* appsrc = gst_element_factory_make("appsrc", "frames");
    GstElement* convert = gst_element_factory_make("videoconvert", "convert");
    GstElement* scale = gst_element_factory_make("videoscale", "scale");
    GstElement* rate = gst_element_factory_make("videorate", "rate");
    if (!appsrc || !convert || !scale || !rate) {
        for (GstElement* element : {appsrc, convert, scale, rate})
            if (element)
                gst_object_unref(gst_object_ref_sink(element));
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    // Live like a camera: stamped with the running time when taken, newest
    // frames kept when the pipeline does not take them (paused).
    g_object_set(appsrc, "is-live", TRUE, "do-timestamp", TRUE, "format", GST_FORMAT_TIME, "min-latency",
                 static_cast<gint64>(kFrameDuration), nullptr);
    gst_app_src_set_max_buffers(GST_APP_SRC(appsrc), 2);
    gst_app_src_set_leaky_type(GST_APP_SRC(appsrc), GST_APP_LEAKY_TYPE_DOWNSTREAM);
    if (picture->Valid()) {
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                            kStillWidth, "height", G_TYPE_INT, kStillHeight, "framerate",
                                            GST_TYPE_FRACTION, kStillRate, 1, nullptr);
        gst_app_src_set_caps(GST_APP_SRC(appsrc), caps);
        gst_caps_unref(caps);
        bin->state->picture = std::move(picture);
    }
    bin->state->uri = uri;
    bin->state->appsrc = GST_APP_SRC(appsrc);
    gst_bin_add_many(GST_BIN(bin), appsrc, convert, scale, rate, nullptr);
    gst_element_link_many(appsrc, convert, scale, rate, nullptr);
    GstPad* target = gst_element_get_static_pad(rate, "src");
    gst_element_add_pad(GST_ELEMENT(bin), gst_ghost_pad_new("src", target));
    gst_object_unref(target);
    return GST_ELEMENT(bin);
}

void HideOtherCameraProviders()
{
    GList* factories = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_DEVICE_PROVIDER_FACTORY);
    for (GList* item = factories; item; item = item->next) {
        auto* factory = GST_DEVICE_PROVIDER_FACTORY(item->data);
        if (g_strcmp0(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), kFileCameraProviderName) != 0 &&
            gst_device_provider_factory_has_classes(factory, "Video/Source"))
            gst_plugin_feature_set_rank(GST_PLUGIN_FEATURE(factory), GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(factories);
}

bool RegisterFileCamera(const std::string& path, std::string& error)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "ファイルが見つかりません: " + path;
        return false;
    }
    VideoFormat format;
    if (CDemoPicture(path).Valid()) {
        format = VideoFormat{kStillWidth, kStillHeight, kStillRate, 1};
    } else {
        std::string why;
        if (!ProbeVideo(ToUri(path), format, why)) {
            error = "画像または動画として読み込めませんでした: " + path;
            if (!why.empty())
                error += " (" + why + ")";
            return false;
        }
    }

    FileCameraRegistration& registration = Registration();
    {
        std::lock_guard lock(registration.mutex);
        if (!registration.registered) {
            registration.registered =
                gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "quellfilecamera",
                                           "A file shown as a camera", file_camera_plugin_init, "1.0", "LGPL",
                                           "quellvisor", "quellvisor", "https://quellvisor.invalid");
            if (!registration.registered) {
                error = "ファイルカメラを登録できませんでした";
                return false;
            }
        }
        registration.path = path;
        registration.displayName = "ファイル: " + std::filesystem::path(path).filename().string();
        registration.caps = DeviceCaps(format);
    }
    HideOtherCameraProviders();
    return true;
}

bool FileCameraActive()
{
    FileCameraRegistration& registration = Registration();
    std::lock_guard lock(registration.mutex);
    return !registration.path.empty();
}

}  // namespace quell

// The test suite's device provider and its devices, registered in-process.
#include "support/TestDeviceProvider.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace {

constexpr const char* kDefaultRawCaps =
    "video/x-raw, format=(string)YUY2, width=(int)640, height=(int)480, framerate=(fraction)30/1; "
    "video/x-raw, format=(string)YUY2, width=(int)320, height=(int)240, framerate=(fraction)30/1; "
    "video/x-raw, format=(string)YUY2, width=(int)1280, height=(int)720, framerate=(fraction)10/1";
constexpr const char* kDefaultJpegCaps =
    "image/jpeg, width=(int)640, height=(int)480, framerate=(fraction)30/1; "
    "image/jpeg, width=(int)320, height=(int)240, framerate=(fraction)30/1; "
    "image/jpeg, width=(int)1280, height=(int)720, framerate=(fraction)10/1";
constexpr const char* kDefaultAudioCaps =
    "audio/x-raw, format=(string)S16LE, layout=(string)interleaved, rate=(int)48000, channels=(int)2";

}  // namespace

// ---- the device ----------------------------------------------------------

G_BEGIN_DECLS
#define QUELL_TYPE_TEST_DEVICE (quell_test_device_get_type())
G_DECLARE_FINAL_TYPE(QuellTestDevice, quell_test_device, QUELL, TEST_DEVICE, GstDevice)
G_END_DECLS

struct _QuellTestDevice {
    GstDevice parent;
    int id;  // the entry of the device list it stands for
    int pattern;
    gboolean audio;
    gboolean mjpeg;
    gboolean broken;
    gboolean ownCaps;  // a caps string was given: the camera offers only those
};

G_DEFINE_TYPE(QuellTestDevice, quell_test_device, GST_TYPE_DEVICE)

static GstElement* quell_test_device_create_element(GstDevice* device, const gchar* name)
{
    QuellTestDevice* self = QUELL_TEST_DEVICE(device);
    if (self->broken)
        return nullptr;
    if (self->audio) {
        GstElement* src = gst_element_factory_make("audiotestsrc", name);
        if (src)
            g_object_set(src, "is-live", TRUE, "wave", self->pattern, nullptr);
        return src;
    }
    if (!self->mjpeg && !self->ownCaps) {
        GstElement* src = gst_element_factory_make("videotestsrc", name);
        if (src)
            g_object_set(src, "is-live", TRUE, "pattern", self->pattern, nullptr);
        return src;
    }
    if (!self->mjpeg) {
        // A raw camera with a caps string of its own offers only those formats.
        GstElement* bin = gst_bin_new(name);
        GstElement* src = gst_element_factory_make("videotestsrc", "testsrc");
        GstElement* filter = gst_element_factory_make("capsfilter", "testcaps");
        GstCaps* caps = gst_device_get_caps(device);
        g_object_set(src, "is-live", TRUE, "pattern", self->pattern, nullptr);
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
        gst_bin_add_many(GST_BIN(bin), src, filter, nullptr);
        gst_element_link(src, filter);
        GstPad* filtered = gst_element_get_static_pad(filter, "src");
        gst_element_add_pad(bin, gst_ghost_pad_new("src", filtered));
        gst_object_unref(filtered);
        return bin;
    }
    // An MJPEG camera: only encoded frames leave the bin.
    GstElement* bin = gst_bin_new(name);
    GstElement* src = gst_element_factory_make("videotestsrc", "testsrc");
    GstElement* enc = gst_element_factory_make("jpegenc", "testenc");
    if (!src || !enc) {
        if (src)
            gst_object_unref(gst_object_ref_sink(src));
        if (enc)
            gst_object_unref(gst_object_ref_sink(enc));
        gst_object_unref(gst_object_ref_sink(bin));
        return nullptr;
    }
    g_object_set(src, "is-live", TRUE, "pattern", self->pattern, nullptr);
    gst_bin_add_many(GST_BIN(bin), src, enc, nullptr);
    gst_element_link(src, enc);
    GstPad* encSrc = gst_element_get_static_pad(enc, "src");
    gst_element_add_pad(bin, gst_ghost_pad_new("src", encSrc));
    gst_object_unref(encSrc);
    return bin;
}

static void quell_test_device_class_init(QuellTestDeviceClass* klass)
{
    GST_DEVICE_CLASS(klass)->create_element = quell_test_device_create_element;
}

static void quell_test_device_init(QuellTestDevice* self)
{
    self->id = -1;
    self->pattern = 0;
    self->audio = FALSE;
    self->mjpeg = FALSE;
    self->broken = FALSE;
}

// ---- the list shared by every provider instance ---------------------------

namespace {

struct Entry {
    int id;
    quell::test::TestDevice device;
};

// A running provider and the devices it announced, so that hot-plug can add
// and remove them without asking the provider (whose start lock is held
// while our start() runs: lock order provider start lock -> State::mutex ->
// provider object lock).
struct Running {
    GstDeviceProvider* provider;  // borrowed; removed in stop() and finalize
    std::vector<std::pair<int, GstDevice*>> devices;  // one reference each
};

struct State {
    std::mutex mutex;
    std::vector<Entry> entries;
    std::vector<Running> running;
    int nextId = 0;
    bool startFails = false;
};

State& TheState()
{
    static State* state = new State;  // lives as long as the process, like the plugin
    return *state;
}

GstDevice* MakeDevice(const Entry& entry)
{
    const quell::test::TestDevice& spec = entry.device;
    const bool audio = spec.kind == quell::test::TestDeviceKind::Audio;
    const char* capsText = !spec.caps.empty() ? spec.caps.c_str()
                           : audio           ? kDefaultAudioCaps
                           : spec.mjpeg      ? kDefaultJpegCaps
                                             : kDefaultRawCaps;
    GstCaps* caps = gst_caps_from_string(capsText);
    if (!caps)
        caps = gst_caps_new_any();
    GstStructure* properties = nullptr;
    if (!spec.properties.empty()) {
        properties = gst_structure_new_empty("quelltestdevice-props");
        for (const auto& [key, value] : spec.properties)
            gst_structure_set(properties, key.c_str(), G_TYPE_STRING, value.c_str(), nullptr);
    }
    auto* device = static_cast<QuellTestDevice*>(g_object_new(
        QUELL_TYPE_TEST_DEVICE, "display-name", spec.name ? spec.name->c_str() : nullptr, "device-class",
        audio ? "Audio/Source" : "Video/Source", "caps", caps, "properties", properties, nullptr));
    gst_caps_unref(caps);
    if (properties)
        gst_structure_free(properties);
    device->id = entry.id;
    device->pattern = spec.pattern;
    device->audio = audio;
    device->mjpeg = spec.mjpeg;
    device->broken = spec.broken;
    device->ownCaps = !audio && !spec.mjpeg && !spec.caps.empty();
    return GST_DEVICE(device);  // floating
}

// Announces one device on a running provider. Caller holds State::mutex.
void Announce(Running& running, const Entry& entry)
{
    GstDevice* device = MakeDevice(entry);
    gst_object_ref_sink(device);
    gst_device_provider_device_add(running.provider, device);
    running.devices.emplace_back(entry.id, device);
}

void Withdraw(Running& running, int id)
{
    auto it = std::find_if(running.devices.begin(), running.devices.end(),
                           [id](const auto& announced) { return announced.first == id; });
    if (it == running.devices.end())
        return;
    gst_device_provider_device_remove(running.provider, it->second);
    gst_object_unref(it->second);
    running.devices.erase(it);
}

void Forget(GstDeviceProvider* provider)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    auto it = std::find_if(state.running.begin(), state.running.end(),
                           [provider](const Running& running) { return running.provider == provider; });
    if (it == state.running.end())
        return;
    for (auto& announced : it->devices)
        gst_object_unref(announced.second);
    state.running.erase(it);
}

}  // namespace

// ---- the provider ---------------------------------------------------------

G_BEGIN_DECLS
#define QUELL_TYPE_TEST_DEVICE_PROVIDER (quell_test_device_provider_get_type())
G_DECLARE_FINAL_TYPE(QuellTestDeviceProvider, quell_test_device_provider, QUELL, TEST_DEVICE_PROVIDER,
                     GstDeviceProvider)
G_END_DECLS

struct _QuellTestDeviceProvider {
    GstDeviceProvider parent;
};

G_DEFINE_TYPE(QuellTestDeviceProvider, quell_test_device_provider, GST_TYPE_DEVICE_PROVIDER)

static GList* quell_test_device_provider_probe(GstDeviceProvider*)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    GList* devices = nullptr;
    for (const Entry& entry : state.entries)
        devices = g_list_append(devices, MakeDevice(entry));
    return devices;
}

static gboolean quell_test_device_provider_start(GstDeviceProvider* provider)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    if (state.startFails)
        return FALSE;
    state.running.push_back(Running{provider, {}});
    for (const Entry& entry : state.entries)
        Announce(state.running.back(), entry);
    return TRUE;
}

static void quell_test_device_provider_stop(GstDeviceProvider* provider)
{
    Forget(provider);
}

static void quell_test_device_provider_finalize(GObject* object)
{
    Forget(GST_DEVICE_PROVIDER(object));
    G_OBJECT_CLASS(quell_test_device_provider_parent_class)->finalize(object);
}

static void quell_test_device_provider_class_init(QuellTestDeviceProviderClass* klass)
{
    GstDeviceProviderClass* providerClass = GST_DEVICE_PROVIDER_CLASS(klass);
    providerClass->probe = quell_test_device_provider_probe;
    providerClass->start = quell_test_device_provider_start;
    providerClass->stop = quell_test_device_provider_stop;
    G_OBJECT_CLASS(klass)->finalize = quell_test_device_provider_finalize;
    gst_device_provider_class_set_static_metadata(providerClass, "Test devices", "Source/Video/Audio",
                                                  "Cameras and audio inputs that tests set up",
                                                  "Quellvisor tests");
}

static void quell_test_device_provider_init(QuellTestDeviceProvider*) {}

static gboolean test_devices_plugin_init(GstPlugin* plugin)
{
    return gst_device_provider_register(plugin, quell::test::kTestProviderName, GST_RANK_PRIMARY,
                                        QUELL_TYPE_TEST_DEVICE_PROVIDER);
}

// ---- the test-facing functions --------------------------------------------

namespace quell::test {

TestDevice Camera(std::optional<std::string> name, int pattern, bool mjpeg)
{
    TestDevice device;
    device.name = std::move(name);
    device.kind = TestDeviceKind::Video;
    device.pattern = pattern;
    device.mjpeg = mjpeg;
    return device;
}

TestDevice Microphone(std::optional<std::string> name, int wave)
{
    TestDevice device;
    device.name = std::move(name);
    device.kind = TestDeviceKind::Audio;
    device.pattern = wave;
    return device;
}

bool RegisterTestDeviceProvider()
{
    static const bool registered =
        gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "quelltestdevices",
                                   "Devices for the test suite", test_devices_plugin_init, "1.0", "LGPL",
                                   "quelltests", "quelltests", "https://quellvisor.invalid");
    return registered;
}

void HideOtherDeviceProviders()
{
    GList* factories = gst_registry_get_feature_list(gst_registry_get(), GST_TYPE_DEVICE_PROVIDER_FACTORY);
    for (GList* item = factories; item; item = item->next) {
        auto* feature = GST_PLUGIN_FEATURE(item->data);
        if (g_strcmp0(gst_plugin_feature_get_name(feature), kTestProviderName) != 0)
            gst_plugin_feature_set_rank(feature, GST_RANK_NONE);
    }
    gst_plugin_feature_list_free(factories);
}

void SetTestProviderStartFails(bool fails)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    state.startFails = fails;
}

void SetTestDevices(std::vector<TestDevice> devices)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    for (Running& running : state.running)
        for (const Entry& entry : state.entries)
            Withdraw(running, entry.id);
    state.entries.clear();
    for (TestDevice& device : devices)
        state.entries.push_back(Entry{state.nextId++, std::move(device)});
    for (Running& running : state.running)
        for (const Entry& entry : state.entries)
            Announce(running, entry);
}

void AddTestDevice(TestDevice device)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    state.entries.push_back(Entry{state.nextId++, std::move(device)});
    for (Running& running : state.running)
        Announce(running, state.entries.back());
}

bool RemoveTestDevice(const std::string& name)
{
    State& state = TheState();
    std::lock_guard lock(state.mutex);
    auto it = std::find_if(state.entries.begin(), state.entries.end(),
                           [&name](const Entry& entry) { return entry.device.name == name; });
    if (it == state.entries.end())
        return false;
    for (Running& running : state.running)
        Withdraw(running, it->id);
    state.entries.erase(it);
    return true;
}

int TestPattern(GstElement* element)
{
    if (!element)
        return -1;
    GstElementFactory* factory = gst_element_get_factory(element);
    const char* factoryName = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : "";
    int pattern = -1;
    if (g_strcmp0(factoryName, "videotestsrc") == 0) {
        g_object_get(element, "pattern", &pattern, nullptr);
        return pattern;
    }
    if (g_strcmp0(factoryName, "audiotestsrc") == 0) {
        g_object_get(element, "wave", &pattern, nullptr);
        return pattern;
    }
    if (!GST_IS_BIN(element))
        return -1;
    GstIterator* it = gst_bin_iterate_recurse(GST_BIN(element));
    GValue item = G_VALUE_INIT;
    bool done = false;
    while (!done && pattern < 0) {
        switch (gst_iterator_next(it, &item)) {
        case GST_ITERATOR_OK:
            pattern = TestPattern(GST_ELEMENT(g_value_get_object(&item)));
            g_value_reset(&item);
            break;
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(it);
            break;
        default:
            done = true;
            break;
        }
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return pattern;
}

}  // namespace quell::test

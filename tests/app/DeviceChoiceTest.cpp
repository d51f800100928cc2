// Device listing, numbering and the camera and audio choice over the test
// suite's own devices, with the user's answers scripted.
#include "graph/DeviceChoice.h"
#include "support/TestDeviceProvider.h"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace quell {
namespace {

using namespace quell::test;
using Names = std::vector<std::string>;

class DevicesEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterTestDeviceProvider());
        HideOtherDeviceProviders();
    }
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new DevicesEnvironment);

// One answer of the device dialog: OK with a selection, or cancel/close.
struct Answer {
    bool ok;
    int selection;
};
constexpr Answer Cancel{false, -1};
constexpr Answer Ok(int selection) { return Answer{true, selection}; }

struct DialogCall {
    Names names;
    int initial;
    bool cancellable;
};

class ScriptedPrompts : public IPrompts {
public:
    explicit ScriptedPrompts(std::vector<Answer> answers = {}) : m_answers(answers.begin(), answers.end()) {}

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    bool RunDeviceDialog(const Names& names, int initial, bool cancellable, int& selection) override
    {
        dialogs.push_back(DialogCall{names, initial, cancellable});
        if (m_answers.empty()) {
            // Ends the camera's endless choice in a failing test.
            ADD_FAILURE() << "device dialog shown more often than scripted";
            selection = 0;
            return true;
        }
        const Answer answer = m_answers.front();
        m_answers.pop_front();
        selection = answer.selection;
        return answer.ok;
    }

    Names messages;
    std::vector<DialogCall> dialogs;

private:
    std::deque<Answer> m_answers;
};

std::string ElementName(GstElement* element)
{
    gchar* name = gst_object_get_name(GST_OBJECT(element));
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

TEST(NumberDuplicateNames, NumbersEveryMemberOfAGroupInOrder)
{
    const struct {
        Names in;
        Names out;
    } cases[] = {
        {{}, {}},
        {{"A"}, {"A"}},
        {{"A", "B", "A", "A"}, {"A (1)", "B", "A (2)", "A (3)"}},
        {{"Cam", "cam"}, {"Cam", "cam"}},  // exact, case-sensitive comparison
        {{"B", "A", "B", "A"}, {"B (1)", "A (1)", "B (2)", "A (2)"}},
        {{kNoAudioName, "Mic", "Mic"}, {kNoAudioName, "Mic (1)", "Mic (2)"}},
        {{"", ""}, {" (1)", " (2)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NumberDuplicateNames(c.in), c.out) << ::testing::PrintToString(c.in);
}

TEST(ListDevices, KeepsNamesAndDevicesInStepAcrossUnreadableNames)
{
    SetTestDevices({Camera(std::nullopt, kPatternSmpte), Camera("Cam", kPatternSnow), Microphone("Mic"),
                    Camera("", kPatternBlack), Camera("Cam", kPatternWhite), Camera("Other", kPatternRed)});
    bool ok = false;
    const std::vector<ListedDevice> listed = ListDevices("Video/Source", ok);
    ASSERT_TRUE(ok);
    Names names;
    for (const auto& device : listed)
        names.push_back(device.name);
    EXPECT_EQ(names, (Names{"Cam (1)", "Cam (2)", "Other"}));

    const int patterns[] = {kPatternSnow, kPatternWhite, kPatternRed};
    for (std::size_t i = 0; i < listed.size(); ++i) {
        GstRef<GstElement> element = Adopt(gst_device_create_element(listed[i].device.get(), nullptr));
        EXPECT_EQ(TestPattern(element.get()), patterns[i]) << listed[i].name;
    }
}

TEST(ListDevices, MonitorThatCannotStartIsAFailureAndNoProviderIsNoDevice)
{
    SetTestDevices({Camera("Cam")});
    bool ok = true;
    SetTestProviderStartFails(true);
    EXPECT_TRUE(ListDevices("Video/Source", ok).empty());
    EXPECT_FALSE(ok);
    SetTestProviderStartFails(false);

    GstPluginFeature* factory = gst_registry_lookup_feature(gst_registry_get(), kTestProviderName);
    ASSERT_NE(factory, nullptr);
    gst_plugin_feature_set_rank(factory, GST_RANK_NONE);
    ok = false;
    EXPECT_TRUE(ListDevices("Video/Source", ok).empty());
    EXPECT_TRUE(ok);
    gst_plugin_feature_set_rank(factory, GST_RANK_PRIMARY);
    gst_object_unref(factory);

    EXPECT_EQ(ListDevices("Video/Source", ok).size(), 1u);
    EXPECT_TRUE(ok);
}

struct CameraCase {
    const char* what;
    std::vector<TestDevice> devices;
    bool reuse;
    std::string saved;
    std::vector<Answer> answers;
    // Expected:
    std::vector<DialogCall> dialogs;
    std::string name;
    int pattern;
    bool changed;
};

TEST(SelectCamera, ChoosesTheSavedTheOnlyOrTheAskedCamera)
{
    const std::vector<TestDevice> two = {Camera("A", kPatternSnow), Camera("B", kPatternRed)};
    const std::vector<TestDevice> twins = {Camera("Cam", kPatternSnow), Camera("Cam", kPatternRed)};
    const CameraCase cases[] = {
        {"one camera, nothing saved: taken without a dialog", {Camera("Solo", kPatternBall)}, false, "", {},
         {}, "Solo", kPatternBall, false},
        {"one camera, another saved: taken, marked changed", {Camera("Solo", kPatternBall)}, true, "Gone", {},
         {}, "Solo", kPatternBall, true},
        {"saved camera present: reused without a dialog", two, true, "B", {}, {}, "B", kPatternRed, false},
        {"saved camera missing: asked, marked changed", two, true, "Gone", {Ok(1)},
         {{{"A", "B"}, 0, false}}, "B", kPatternRed, true},
        {"asked anew: the saved camera preselected", two, false, "B", {Ok(0)}, {{{"A", "B"}, 1, false}}, "A",
         kPatternSnow, false},
        {"twins are numbered and saved with the number", twins, false, "", {Ok(1)},
         {{{"Cam (1)", "Cam (2)"}, 0, false}}, "Cam (2)", kPatternRed, false},
        {"numbered name found again", twins, true, "Cam (2)", {}, {}, "Cam (2)", kPatternRed, false},
        {"names differing in case do not match", two, true, "b", {Ok(1)}, {{{"A", "B"}, 0, false}}, "B",
         kPatternRed, true},
        {"cancel, close and OK without an entry ask again", two, false, "", {Cancel, Cancel, Ok(-1), Ok(1)},
         {{{"A", "B"}, 0, false}, {{"A", "B"}, 0, false}, {{"A", "B"}, 0, false}, {{"A", "B"}, 0, false}}, "B",
         kPatternRed, false},
        {"a selection past the list asks again", two, false, "", {Ok(2), Ok(0)},
         {{{"A", "B"}, 0, false}, {{"A", "B"}, 0, false}}, "A", kPatternSnow, false},
        {"unnamed devices left out, the chosen name makes its own device",
         {Camera(std::nullopt, kPatternSmpte), Camera("A", kPatternSnow), Camera("", kPatternBlack),
          Camera("B", kPatternRed)},
         false, "", {Ok(1)}, {{{"A", "B"}, 0, false}}, "B", kPatternRed, false},
        {"only one named camera among unnamed ones: no dialog",
         {Camera(std::nullopt, kPatternSmpte), Camera("A", kPatternSnow)}, false, "", {}, {}, "A", kPatternSnow,
         false},
        {"an MJPEG camera", {Camera("Jpeg", kPatternBall, true)}, false, "", {}, {}, "Jpeg", kPatternBall, false},
    };
    for (const CameraCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetTestDevices(c.devices);
        ScriptedPrompts prompts(c.answers);
        CDeviceChooser chooser(prompts);
        bool changed = !c.changed;
        std::string name = c.saved;
        GstRef<GstElement> camera;
        ASSERT_TRUE(chooser.SelectCamera(c.reuse, changed, name, camera));
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(changed, c.changed);
        ASSERT_TRUE(camera);
        EXPECT_EQ(ElementName(camera.get()), "Capture Filter");
        EXPECT_EQ(TestPattern(camera.get()), c.pattern);
        EXPECT_TRUE(prompts.messages.empty()) << prompts.messages.front();
        ASSERT_EQ(prompts.dialogs.size(), c.dialogs.size());
        for (std::size_t i = 0; i < c.dialogs.size(); ++i) {
            EXPECT_EQ(prompts.dialogs[i].names, c.dialogs[i].names);
            EXPECT_EQ(prompts.dialogs[i].initial, c.dialogs[i].initial);
            EXPECT_EQ(prompts.dialogs[i].cancellable, c.dialogs[i].cancellable);
        }
    }
}

TEST(SelectCamera, FailuresShowTheirMessage)
{
    const struct {
        const char* what;
        std::vector<TestDevice> devices;
        bool startFails;
        const char* message;
    } cases[] = {
        {"no camera, only audio", {Microphone("Mic")}, false, "映像入力デバイスが見つかりませんでした"},
        {"no device at all", {}, false, "映像入力デバイスが見つかりませんでした"},
        {"no camera has a readable name", {Camera(std::nullopt), Camera("")}, false,
         "映像入力デバイスの名前を読み取れませんでした。"},
        {"the monitor cannot start", {Camera("Cam")}, true, "ERROR: CoCreateInstance SystemDeviceEnum"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetTestDevices(c.devices);
        SetTestProviderStartFails(c.startFails);
        ScriptedPrompts prompts;
        CDeviceChooser chooser(prompts);
        bool changed = true;
        std::string name = "Saved";
        GstRef<GstElement> camera;
        EXPECT_FALSE(chooser.SelectCamera(true, changed, name, camera));
        SetTestProviderStartFails(false);
        EXPECT_EQ(prompts.messages, Names{c.message});
        EXPECT_TRUE(prompts.dialogs.empty());
        EXPECT_FALSE(changed);
        EXPECT_EQ(name, "Saved");
        EXPECT_FALSE(camera);
    }
}

TEST(SelectCamera, ElementThatCannotBeMadeIsReportedAndTheChoiceGoesOn)
{
    TestDevice broken = Camera("Broken");
    broken.broken = true;
    SetTestDevices({broken});
    ScriptedPrompts prompts;
    CDeviceChooser chooser(prompts);
    bool changed = false;
    std::string name;
    GstRef<GstElement> camera;
    EXPECT_TRUE(chooser.SelectCamera(false, changed, name, camera));
    EXPECT_EQ(prompts.messages, Names{"ERROR: BindToObject"});
    EXPECT_EQ(name, "Broken");
    EXPECT_FALSE(camera);
}

struct AudioCase {
    const char* what;
    std::vector<TestDevice> devices;
    bool reuse;
    std::string saved;
    std::vector<Answer> answers;
    // Expected:
    bool result;
    std::vector<DialogCall> dialogs;
    std::string name;
    int wave;  // -1: no audio element
};

TEST(SelectAudioDevice, NoSoundFirstAndCancellable)
{
    const std::vector<TestDevice> mics = {Camera("Cam"), Microphone("Mic", 1), Microphone("Line", 2)};
    const std::vector<TestDevice> twins = {Microphone("Mic", 3), Microphone("Mic", 4)};
    const Names micNames = {kNoAudioName, "Mic", "Line"};
    const AudioCase cases[] = {
        {"no audio input at all: nothing asked, the name kept", {Camera("Cam")}, false, "Mic", {}, true, {},
         "Mic", -1},
        {"no sound saved: reused without asking", mics, true, kNoAudioName, {}, true, {}, kNoAudioName, -1},
        {"saved input reused", mics, true, "Line", {}, true, {}, "Line", 2},
        {"asked anew: no sound chosen", mics, false, "Line", {Ok(0)}, true, {{micNames, 2, true}}, kNoAudioName,
         -1},
        {"saved input missing: asked from the first entry", mics, true, "Gone", {Ok(1)}, true,
         {{micNames, 0, true}}, "Mic", 1},
        {"cancel ends the choice", mics, false, "Mic", {Cancel}, false, {{micNames, 1, true}}, "Mic", 5},
        {"OK without an entry asks again", mics, false, "", {Ok(-1), Ok(2)}, true,
         {{micNames, 0, true}, {micNames, 0, true}}, "Line", 2},
        {"twins numbered after no sound", twins, false, "", {Ok(2)}, true,
         {{{kNoAudioName, "Mic (1)", "Mic (2)"}, 0, true}}, "Mic (2)", 4},
        {"unnamed inputs left out in step",
         {Microphone(std::nullopt, 6), Microphone("Mic", 7), Microphone("", 8), Microphone("Line", 9)}, false,
         "", {Ok(2)}, true, {{micNames, 0, true}}, "Line", 9},
        {"no input has a name: no sound without a dialog", {Microphone(std::nullopt), Microphone("")}, true,
         "Mic", {}, true, {}, kNoAudioName, -1},
    };
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetTestDevices(c.devices);
        ScriptedPrompts prompts(c.answers);
        CDeviceChooser chooser(prompts);
        std::string name = c.saved;
        // An element from an earlier build that the choice must replace or clear.
        GstRef<GstElement> audio = Adopt(gst_element_factory_make("audiotestsrc", nullptr));
        g_object_set(audio.get(), "wave", 5, nullptr);
        EXPECT_EQ(chooser.SelectAudioDevice(c.reuse, name, audio), c.result);
        EXPECT_EQ(name, c.name);
        EXPECT_TRUE(prompts.messages.empty());
        if (c.wave < 0) {
            EXPECT_FALSE(audio);
        } else {
            ASSERT_TRUE(audio);
            EXPECT_EQ(TestPattern(audio.get()), c.wave);
            if (c.result) {
                EXPECT_EQ(ElementName(audio.get()), "Audio Capture");
            }
        }
        ASSERT_EQ(prompts.dialogs.size(), c.dialogs.size());
        for (std::size_t i = 0; i < c.dialogs.size(); ++i) {
            EXPECT_EQ(prompts.dialogs[i].names, c.dialogs[i].names);
            EXPECT_EQ(prompts.dialogs[i].initial, c.dialogs[i].initial);
            EXPECT_EQ(prompts.dialogs[i].cancellable, c.dialogs[i].cancellable);
        }
    }
}

TEST(SelectAudioDevice, FailuresShowTheirMessage)
{
    TestDevice broken = Microphone("Broken");
    broken.broken = true;
    SetTestDevices({broken});
    ScriptedPrompts prompts({Ok(1)});
    CDeviceChooser chooser(prompts);
    std::string name;
    GstRef<GstElement> audio;
    EXPECT_TRUE(chooser.SelectAudioDevice(false, name, audio));
    EXPECT_EQ(prompts.messages, Names{"ERROR: BindToObject"});
    EXPECT_EQ(name, "Broken");
    EXPECT_FALSE(audio);

    SetTestProviderStartFails(true);
    ScriptedPrompts failing;
    CDeviceChooser failingChooser(failing);
    name = "Mic";
    EXPECT_FALSE(failingChooser.SelectAudioDevice(true, name, audio));
    SetTestProviderStartFails(false);
    EXPECT_EQ(failing.messages, Names{"ERROR: CoCreateInstance SystemDeviceEnum"});
    EXPECT_EQ(name, "Mic");
}

// The provider itself, as the other tests of the program rely on it.
TEST(TestDeviceProvider, HotPlugReachesARunningMonitor)
{
    SetTestDevices({Camera("First")});
    GstRef<GstDeviceMonitor> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), "Video/Source", nullptr);
    GstRef<GstBus> bus(gst_device_monitor_get_bus(monitor.get()));
    ASSERT_TRUE(gst_device_monitor_start(monitor.get()));

    auto nextDevice = [&bus](GstMessageType type) {
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus.get(), GST_SECOND, static_cast<GstMessageType>(type));
        std::string name;
        if (message) {
            GstDevice* device = nullptr;
            if (type == GST_MESSAGE_DEVICE_ADDED)
                gst_message_parse_device_added(message, &device);
            else
                gst_message_parse_device_removed(message, &device);
            gchar* text = gst_device_get_display_name(device);
            name = text ? text : "";
            g_free(text);
            gst_object_unref(device);
            gst_message_unref(message);
        }
        return name;
    };
    // The devices present at start are announced too.
    EXPECT_EQ(nextDevice(GST_MESSAGE_DEVICE_ADDED), "First");
    AddTestDevice(Camera("Second"));
    AddTestDevice(Microphone("Mic"));  // not of the filtered class
    EXPECT_EQ(nextDevice(GST_MESSAGE_DEVICE_ADDED), "Second");
    EXPECT_TRUE(RemoveTestDevice("First"));
    EXPECT_FALSE(RemoveTestDevice("Never"));
    EXPECT_EQ(nextDevice(GST_MESSAGE_DEVICE_REMOVED), "First");

    GList* devices = gst_device_monitor_get_devices(monitor.get());
    ASSERT_EQ(g_list_length(devices), 1u);
    gchar* name = gst_device_get_display_name(GST_DEVICE(devices->data));
    EXPECT_STREQ(name, "Second");
    g_free(name);
    g_list_free_full(devices, gst_object_unref);
    gst_device_monitor_stop(monitor.get());
}

TEST(TestDeviceProvider, MjpegCameraDeliversJpegFramesAtTheAskedSize)
{
    SetTestDevices({Camera("Jpeg", kPatternBall, true)});
    bool ok = false;
    std::vector<ListedDevice> listed = ListDevices("Video/Source", ok);
    ASSERT_EQ(listed.size(), 1u);
    GstRef<GstElement> pipeline(gst_pipeline_new(nullptr));
    GstElement* camera = gst_device_create_element(listed[0].device.get(), "cam");
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    GstCaps* caps = gst_caps_from_string("image/jpeg, width=320, height=240");
    g_object_set(filter, "caps", caps, nullptr);
    gst_caps_unref(caps);
    gst_bin_add_many(GST_BIN(pipeline.get()), camera, filter, sink, nullptr);
    ASSERT_TRUE(gst_element_link_many(camera, filter, sink, nullptr));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    GstMessage* message = gst_bus_timed_pop_filtered(bus.get(), 5 * GST_SECOND,
                                                     static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(GST_MESSAGE_TYPE(message), GST_MESSAGE_ASYNC_DONE);
    gst_message_unref(message);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    GstCaps* current = gst_pad_get_current_caps(pad);
    ASSERT_NE(current, nullptr);
    GstStructure* s = gst_caps_get_structure(current, 0);
    EXPECT_STREQ(gst_structure_get_name(s), "image/jpeg");
    int width = 0;
    gst_structure_get_int(s, "width", &width);
    EXPECT_EQ(width, 320);
    gst_caps_unref(current);
    gst_object_unref(pad);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
}

}  // namespace
}  // namespace quell

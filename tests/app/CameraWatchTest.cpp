// Cameras that come and go while the main window runs, on the test suite's
// hot-plug devices: the camera in use unplugged (also while recording) and
// plugged in again, twins told apart by their stable ids, and CAM_ID.
#include "graph/DeviceChoice.h"
#include "shell/CaptureDlg.h"
#include "shell/Commands.h"
#include "shell/Settings.h"
#include "shell/VideoWidget.h"
#include "support/AviProbe.h"
#include "support/QtWait.h"
#include "support/TestDeviceProvider.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace quell {
namespace {

using namespace quell::test;

constexpr const char* kCameraLost = "カメラが使えなくなりました。";

class CScriptedPrompts : public IPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string& text) override
    {
        messages.push_back(text);
        return false;
    }
    bool RunDeviceDialog(const std::vector<std::string>&, int initial, bool, int& selection) override
    {
        ++dialogs;
        selection = initial;
        return true;
    }
    bool ChooseCameraFormat(const std::vector<CameraFormatChoice>&, int current, int& chosen) override
    {
        ++formatPages;
        chosen = current;
        return true;
    }

    std::vector<std::string> messages;
    int dialogs = 0;
    int formatPages = 0;
};

TestDevice CameraWithId(const std::string& name, int pattern, const std::string& key, const std::string& id)
{
    TestDevice device = Camera(name, pattern);
    device.properties = {{key, id}};
    return device;
}

// The pattern of the running pipeline's camera, -1 without one.
int PipelineCameraPattern(CCaptureDlg& window)
{
    if (!window.Graph().Built())
        return -1;
    GstRef<GstElement> camera(gst_bin_get_by_name(GST_BIN(window.Graph().Pipeline()), "Capture Filter"));
    return TestPattern(camera.get());
}

// ---- the stable id and the choice it steers (no pipeline) ----------------

TEST(CameraId, ComesFromTheFirstStablePropertyTheDeviceGives)
{
    struct Case {
        std::vector<std::pair<std::string, std::string>> properties;
        const char* id;
    };
    const Case cases[] = {
        {{}, ""},
        {{{"device.path", "/dev/video2"}}, "/dev/video2"},
        {{{"object.path", "v4l2:/dev/video0"}}, "v4l2:/dev/video0"},
        {{{"device.serial", "Maker_Cam_0001"}}, "Maker_Cam_0001"},
        // The USB port beats the node, which beats a serial twins may share.
        {{{"device.serial", "Maker_Cam"}, {"device.path", "/dev/video0"}, {"api.v4l2.cap.bus_info", "usb-1.2"}},
         "usb-1.2"},
        {{{"device.serial", "Maker_Cam"}, {"api.v4l2.path", "/dev/video4"}}, "/dev/video4"},
        {{{"device.path", ""}, {"device.serial", "S1"}}, "S1"},  // an empty value names nothing
    };
    for (const Case& c : cases) {
        TestDevice camera = Camera("Cam");
        camera.properties = c.properties;
        SetTestDevices({camera});
        bool ok = false;
        const std::vector<ListedDevice> listed = ListDevices("Video/Source", ok);
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(StableDeviceId(listed[0].device.get()), c.id);
    }
}

TEST(CameraId, SavedIdFindsTheSameTwinWhereverTheNumberingMoved)
{
    struct Case {
        const char* what;
        std::vector<TestDevice> devices;
        const char* savedName;
        const char* savedId;
        int pattern;           // of the camera taken
        const char* name;      // saved afterwards
        const char* id;
    };
    const Case cases[] = {
        {"first twin unplugged: Cam (2) is now Cam",
         {CameraWithId("Cam", kPatternSnow, "api.v4l2.cap.bus_info", "usb-2")}, "Cam (2)", "usb-2", kPatternSnow,
         "Cam", "usb-2"},
        {"twins listed the other way round",
         {CameraWithId("Cam", kPatternSnow, "device.path", "/dev/video2"),
          CameraWithId("Cam", kPatternBall, "device.path", "/dev/video0")},
         "Cam (2)", "/dev/video2", kPatternSnow, "Cam (1)", "/dev/video2"},
        {"twins sharing a serial: the name decides",
         {CameraWithId("Cam", kPatternBall, "device.serial", "Maker_Cam"),
          CameraWithId("Cam", kPatternSnow, "device.serial", "Maker_Cam")},
         "Cam (2)", "Maker_Cam", kPatternSnow, "Cam (2)", "Maker_Cam"},
        {"the id now on another model: the name decides",
         {CameraWithId("Other", kPatternRed, "device.path", "/dev/video0"),
          CameraWithId("Cam", kPatternBall, "device.path", "/dev/video1")},
         "Cam", "/dev/video0", kPatternBall, "Cam", "/dev/video1"},
        {"a camera without an id",
         {Camera("Cam", kPatternBall), Camera("Other", kPatternRed)}, "Cam", "usb-9", kPatternBall, "Cam", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetTestDevices(c.devices);
        CScriptedPrompts prompts;
        CDeviceChooser chooser(prompts);
        std::string name = c.savedName;
        std::string id = c.savedId;
        bool changed = true;
        GstRef<GstElement> camera;
        ASSERT_TRUE(chooser.SelectCamera(true, changed, name, camera, &id));
        EXPECT_FALSE(changed);
        EXPECT_EQ(prompts.dialogs, 0);
        EXPECT_EQ(TestPattern(camera.get()), c.pattern);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(id, c.id);
        EXPECT_NE(chooser.ChosenCamera(), nullptr);
    }
}

// A rebuild nobody asked for never opens a dialog: a saved camera that is
// gone fails quietly, a saved microphone that is gone means no sound.
TEST(CameraId, AskNothingNeverOpensADialog)
{
    SetTestDevices({Camera("A"), Camera("B"), Microphone("Mic")});
    CScriptedPrompts prompts;
    CDeviceChooser chooser(prompts);
    chooser.SetAskNothing(true);
    std::string name = "Gone";
    bool changed = false;
    GstRef<GstElement> camera;
    EXPECT_FALSE(chooser.SelectCamera(true, changed, name, camera));
    EXPECT_EQ(name, "Gone");

    std::string audioName = "Headset";
    GstRef<GstElement> audio;
    EXPECT_TRUE(chooser.SelectAudioDevice(true, audioName, audio));
    EXPECT_FALSE(audio);
    EXPECT_EQ(audioName, "Headset");
    EXPECT_EQ(prompts.dialogs, 0);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST(CameraId, KeptInSetupIniBesideTheNumberedName)
{
    struct Case {
        const char* before;   // the file's [DEVICE] lines before the save
        const char* id;
        bool keyAfter;
        const char* line;
    };
    const Case cases[] = {
        {"", "usb-1.2", true, "CAM_ID=usb-1.2\n"},
        {"CAM_ID=usb-1.2\n", "", true, "CAM_ID=\n"},  // another camera's id does not linger
        {"", "", false, ""},                           // no id: the file as before
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("setup.ini").toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.before);
        {
            std::ofstream ini(path);
            ini << "[DEVICE]\n" << c.before;
        }
        CaptureSettings settings;
        settings.cameraName = "Cam (2)";
        settings.cameraId = c.id;
        std::string error;
        ASSERT_TRUE(SaveSettings(path, settings, error)) << error;
        const std::string text = ReadFile(path);
        EXPECT_NE(text.find("CAM_SELECT=Cam (2)\n"), std::string::npos) << text;
        EXPECT_EQ(text.find("CAM_ID") != std::string::npos, c.keyAfter) << text;
        if (c.keyAfter) {
            EXPECT_NE(text.find(c.line), std::string::npos) << text;
        }
        CaptureSettings loaded;
        LoadSettings(path, loaded);
        EXPECT_EQ(loaded.cameraId, c.id);
    }
}

// ---- the main window with cameras coming and going -------------------------

class CameraWatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_places.settingsFile = m_dir.filePath("setup.ini").toStdString();
        m_places.videoFolder = m_dir.filePath("video").toStdString();
        m_programFolder = m_dir.filePath("program").toStdString() + "/";
        std::filesystem::create_directories(m_programFolder);
        std::filesystem::create_directory_symlink(std::string(QUELL_OUTPUT_DIR) + "/data", m_programFolder + "data");
    }

    // A later start with `camera` saved, no sound and a small picture, so
    // that no question stands in the way and the files stay small.
    std::unique_ptr<CCaptureDlg> StartWindow(const std::string& camera, const std::string& id = "")
    {
        {
            std::ofstream ini(m_places.settingsFile);
            ini << "[DEVICE]\nCAM_SELECT=" << camera << "\nCAM_ID=" << id
                << "\nAUDIO_SELECT=録音なし\nWIDTH=320\nHEIGHT=240\nFRAMERATE=333333\n";
        }
        auto window = std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
        if (!window->Initialise())
            return nullptr;
        return window;
    }

    bool FramesFlow(CCaptureDlg& window)
    {
        const auto before = window.Video().FramesShown();
        return WaitFor([&] { return window.Video().FramesShown() > before + 3; });
    }

    std::vector<std::string> Recordings() const { return FilesIn(m_places.videoFolder); }

    QTemporaryDir m_dir;
    std::string m_programFolder;
    StoragePlaces m_places;
    CScriptedPrompts m_prompts;
};

TEST_F(CameraWatchTest, OnlyTheCameraInUseGoingAwayIsReported)
{
    struct Case {
        const char* what;
        std::vector<TestDevice> devices;
        const char* inUse;
        const char* unplugged;  // the first device of this name goes
        bool lost;
    };
    const Case cases[] = {
        {"the only camera", {Camera("Cam")}, "Cam", "Cam", true},
        {"another camera", {Camera("Cam"), Camera("Other")}, "Cam", "Other", false},
        {"the twin in use", {Camera("Cam"), Camera("Cam")}, "Cam (1)", "Cam", true},
        {"the other twin, no ids", {Camera("Cam"), Camera("Cam")}, "Cam (2)", "Cam", false},
        {"the other twin, with ids",
         {CameraWithId("Cam", kPatternBall, "device.path", "/dev/video0"),
          CameraWithId("Cam", kPatternSnow, "device.path", "/dev/video2")},
         "Cam (2)", "Cam", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetTestDevices(c.devices);
        m_prompts = CScriptedPrompts();
        auto window = StartWindow(c.inUse);
        ASSERT_TRUE(window);
        ASSERT_TRUE(FramesFlow(*window));

        ASSERT_TRUE(RemoveTestDevice(c.unplugged));
        if (c.lost) {
            ASSERT_TRUE(WaitFor([&] { return !m_prompts.messages.empty(); }));
            Pump(300);  // nothing more follows
            EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCameraLost});
            EXPECT_FALSE(window->Graph().Built());
            EXPECT_TRUE(window->CameraAway());
            EXPECT_TRUE(window->isVisible());
        } else {
            Pump(300);
            EXPECT_TRUE(m_prompts.messages.empty());
            EXPECT_TRUE(window->Graph().Built());
            EXPECT_FALSE(window->CameraAway());
            EXPECT_TRUE(FramesFlow(*window));
        }
        window->close();
    }
}

TEST_F(CameraWatchTest, CameraOfTheSameNameComingBackIsTakenWithoutAsking)
{
    SetTestDevices({Camera("Cam", kPatternBall)});
    auto window = StartWindow("Cam");
    ASSERT_TRUE(window);
    ASSERT_TRUE(RemoveTestDevice("Cam"));
    ASSERT_TRUE(WaitFor([&] { return window->CameraAway(); }));

    // A camera of another name is not taken up.
    AddTestDevice(Camera("Other", kPatternRed));
    Pump(1500);
    EXPECT_FALSE(window->Graph().Built());

    AddTestDevice(Camera("Cam", kPatternSnow));
    ASSERT_TRUE(WaitFor([&] { return window->Graph().Built(); }));
    EXPECT_FALSE(window->CameraAway());
    EXPECT_EQ(PipelineCameraPattern(*window), kPatternSnow);
    EXPECT_TRUE(FramesFlow(*window));
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCameraLost});
    EXPECT_EQ(m_prompts.dialogs, 0);
    EXPECT_EQ(m_prompts.formatPages, 0);
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (320x240) :  ");

    // And it is watched again.
    ASSERT_TRUE(RemoveTestDevice("Cam"));
    ASSERT_TRUE(WaitFor([&] { return window->CameraAway(); }));
    EXPECT_EQ(m_prompts.messages.size(), 2u);
    window->close();
}

// The twin that went is the one taken up again, although it comes back
// listed second: by its id, and without ids by the device itself.
TEST_F(CameraWatchTest, TwinComingBackIsTheOneTaken)
{
    for (const bool ids : {true, false}) {
        SCOPED_TRACE(ids ? "with ids" : "without ids");
        auto twin = [ids](int pattern, const char* port) {
            return ids ? CameraWithId("Cam", pattern, "api.v4l2.cap.bus_info", port) : Camera("Cam", pattern);
        };
        SetTestDevices({twin(kPatternBall, "usb-1"), twin(kPatternSnow, "usb-2")});
        m_prompts = CScriptedPrompts();
        auto window = StartWindow("Cam (1)");
        ASSERT_TRUE(window);
        ASSERT_EQ(PipelineCameraPattern(*window), kPatternBall);

        ASSERT_TRUE(RemoveTestDevice("Cam"));  // the first twin, in use
        ASSERT_TRUE(WaitFor([&] { return window->CameraAway(); }));
        AddTestDevice(twin(kPatternBall, "usb-1"));
        ASSERT_TRUE(WaitFor([&] { return window->Graph().Built(); }));
        EXPECT_EQ(PipelineCameraPattern(*window), kPatternBall);
        EXPECT_EQ(window->Settings().cameraName, "Cam (2)");
        EXPECT_EQ(window->Settings().cameraId, ids ? "usb-1" : "");
        EXPECT_EQ(m_prompts.dialogs, 0);
        EXPECT_EQ(m_prompts.formatPages, 0);
        window->close();
    }
}

TEST_F(CameraWatchTest, RecordingGoesOnInANewFileWhenTheCameraIsBack)
{
    SetTestDevices({Camera("Cam", kPatternBall)});
    auto window = StartWindow("Cam");
    ASSERT_TRUE(window);
    window->OnCommand(kCmdRecordStart);
    const std::string first = window->Graph().RecordingPath();
    ASSERT_FALSE(first.empty());
    Pump(1000);

    ASSERT_TRUE(RemoveTestDevice("Cam"));
    ASSERT_TRUE(WaitFor([&] { return !m_prompts.messages.empty(); }));
    EXPECT_EQ(m_prompts.messages, std::vector<std::string>{kCameraLost});
    EXPECT_TRUE(window->Recording());
    // The first file is complete and readable as soon as the camera is gone.
    const AviContents before = ProbeAvi(first);
    EXPECT_TRUE(before.finished);
    EXPECT_TRUE(before.valid);
    EXPECT_GT(before.videoFrames, 10);
    EXPECT_EQ(before.videoFrames, static_cast<int>(window->Graph().LastRecording().framesWritten));

    AddTestDevice(Camera("Cam", kPatternBall));
    ASSERT_TRUE(WaitFor([&] { return window->Graph().Built(); }));
    const std::string second = window->Graph().RecordingPath();
    EXPECT_FALSE(second.empty());
    EXPECT_NE(second, first);
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (320x240) :  録画中");
    Pump(1000);
    window->close();

    EXPECT_EQ(Recordings(), (std::vector<std::string>{std::min(first, second), std::max(first, second)}));
    const AviContents after = ProbeAvi(second);
    EXPECT_TRUE(after.finished);
    EXPECT_TRUE(after.valid);
    EXPECT_GT(after.videoFrames, 10);
    EXPECT_EQ(after.width, 320);
    EXPECT_EQ(m_prompts.dialogs, 0);
}

// Saved as the second of two twins; the first is unplugged before the start,
// so the second is now "Cam": its id finds it, no question, the format kept.
TEST_F(CameraWatchTest, StartFindsTheSavedTwinByIdAfterTheOtherWasUnplugged)
{
    SetTestDevices({CameraWithId("Cam", kPatternBall, "device.path", "/dev/video0"),
                    CameraWithId("Cam", kPatternSnow, "device.path", "/dev/video2")});
    ASSERT_TRUE(RemoveTestDevice("Cam"));
    auto window = StartWindow("Cam (2)", "/dev/video2");
    ASSERT_TRUE(window);
    EXPECT_EQ(PipelineCameraPattern(*window), kPatternSnow);
    EXPECT_EQ(m_prompts.dialogs, 0);
    EXPECT_EQ(m_prompts.formatPages, 0);
    window->close();

    const std::string ini = ReadFile(m_places.settingsFile);
    EXPECT_NE(ini.find("CAM_SELECT=Cam\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("CAM_ID=/dev/video2\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("WIDTH=320\n"), std::string::npos) << ini;
}

}  // namespace
}  // namespace quell

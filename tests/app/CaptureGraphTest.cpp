// The capture pipeline on the test suite's devices: preview, recordings read
// back from their files (with and without sound, with a display that cannot
// keep up), a rebuild while recording, the MJPEG camera through the decoder,
// the high score from element to element, the asked camera format, a camera
// failing while running, and a start without a camera.
#include "graph/CaptureGraph.h"
#include "graph/Caption.h"
#include "graph/DeviceChoice.h"
#include "graph/GraphRefs.h"
#include "support/AviProbe.h"
#include "support/TestDeviceProvider.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace quell {
namespace {

using namespace quell::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Answers from a script and records what the user was told.
class CScriptedPrompts : public IPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    bool RunDeviceDialog(const std::vector<std::string>&, int initial, bool, int& selection) override
    {
        ++dialogs;
        selection = initial;
        return true;
    }

    std::vector<std::string> messages;
    int dialogs = 0;
};

// The main window's side: a display sink that counts frames and can be made
// slow (a display that cannot keep up), the caption, size and saves.
class CFakeHost : public IGraphHost {
public:
    explicit CFakeHost(std::string folder) : folder(std::move(folder)) {}

    IPrompts& Prompts() override { return prompts; }
    GstElement* CreateVideoRenderer() override
    {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", TRUE, "qos", TRUE, "signal-handoffs", TRUE, nullptr);
        // A display that lags: every frame reaches it late, so that it asks
        // upstream (QoS) to drop frames.
        if (slowDisplayMs > 0)
            g_object_set(sink, "ts-offset", gint64(-500 * GST_MSECOND), nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(&CFakeHost::OnFrame), this);
        return sink;
    }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetClientSize(int width, int height) override
    {
        clientWidth = width;
        clientHeight = height;
    }
    void SaveSettings() override { ++saves; }
    std::string VideoFolder() override { return folder; }

    CScriptedPrompts prompts;
    std::atomic<int> frames{0};
    std::atomic<int> slowDisplayMs{0};
    std::string caption;
    int clientWidth = 0;
    int clientHeight = 0;
    int saves = 0;
    std::string folder;

private:
    static void OnFrame(GstElement*, GstBuffer*, GstPad*, gpointer self)
    {
        auto* host = static_cast<CFakeHost*>(self);
        host->frames.fetch_add(1);
        if (const int ms = host->slowDisplayMs.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

// Runs the event loop (which dispatches the bus watch) for a while.
void Pump(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(duration.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Pump(20ms);
    }
    return true;
}

class CaptureGraphTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quell-graph-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_host = std::make_unique<CFakeHost>(m_folder);
        m_devices = std::make_unique<CDeviceChooser>(m_host->prompts);
        settings.cameraName = "Cam";
        settings.audioName = kNoAudioName;
        // A small picture keeps the uncompressed files small.
        settings.width = 320;
        settings.height = 240;
        settings.frameTime = 333333;
        SetTestDevices({Camera("Cam", kPatternBall), Microphone("Mic")});
        m_graph = std::make_unique<CCaptureGraph>(*m_host, *m_devices, settings, highScore);
    }

    void TearDown() override
    {
        m_graph.reset();
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    CFakeHost& Host() { return *m_host; }
    CCaptureGraph& Graph() { return *m_graph; }

    GstRef<GstElement> Child(const char* name)
    {
        return GstRef<GstElement>(Graph().Pipeline() ? gst_bin_get_by_name(GST_BIN(Graph().Pipeline()), name)
                                                     : nullptr);
    }

    // Frames reach the display.
    bool FramesFlow(int count = 10)
    {
        const int start = Host().frames.load();
        return PumpUntil([&] { return Host().frames.load() >= start + count; });
    }

    CaptureSettings settings;
    std::int64_t highScore = 0;

private:
    std::string m_folder;
    std::unique_ptr<CFakeHost> m_host;
    std::unique_ptr<CDeviceChooser> m_devices;
    std::unique_ptr<CCaptureGraph> m_graph;
};

TEST_F(CaptureGraphTest, PreviewShowsFramesWithTheFiltersNamedAndTheAudioInputOutside)
{
    settings.audioName = "Mic";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_TRUE(FramesFlow());

    for (const char* name :
         {"Capture Filter", "TransEffectFilter", "AVI Decompressor", "Color Space Converter", "SmartTee", "Video Renderer"})
        EXPECT_TRUE(Child(name)) << name;
    // The microphone was chosen but is kept out of the preview pipeline: a
    // live source with nowhere to go would stop it with not-linked.
    EXPECT_FALSE(Child("Audio Capture"));
    EXPECT_FALSE(Child("AVI Mux"));
    EXPECT_EQ(Host().caption, MakeCaption("Cam", 320, 240, false));
    EXPECT_EQ(Host().saves, 1);
    EXPECT_TRUE(Graph().RecordingPath().empty());

    // Running on for a while brings no error from the idle audio input.
    Pump(500ms);
    EXPECT_TRUE(Host().prompts.messages.empty()) << Host().prompts.messages.front();
    EXPECT_TRUE(Graph().Built());

    Graph().ReleaseCaptureGraph();
    EXPECT_FALSE(Graph().Built());
    EXPECT_EQ(Graph().EffectFilter(), nullptr);
}

struct RecordingCase {
    const char* label;
    bool audio;
    int slowDisplayMs;
};

void PrintTo(const RecordingCase& c, std::ostream* os)
{
    *os << c.label;
}

class RecordingTest : public CaptureGraphTest, public ::testing::WithParamInterface<RecordingCase> {};

// A recording stopped by the rebuild into preview: the file is complete,
// holds every frame that entered the tee, sound only when chosen, and a slow
// display drops only its own frames.
TEST_P(RecordingTest, StopCompletesThePlayableFile)
{
    const RecordingCase& c = GetParam();
    settings.audioName = c.audio ? "Mic" : kNoAudioName;
    Host().slowDisplayMs = c.slowDisplayMs;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    EXPECT_EQ(Host().caption, MakeCaption("Cam", 320, 240, true));
    EXPECT_EQ(static_cast<bool>(Child("Audio Capture")), c.audio);
    const std::string path = Graph().RecordingPath();
    ASSERT_FALSE(path.empty());
    Pump(2500ms);
    const int displayed = Host().frames.load();
    const CCaptureGraph::RecordingStats running = Graph().RecordingFrames();
    EXPECT_EQ(running.path, path);
    EXPECT_GT(running.framesWritten, 0u);
    EXPECT_FALSE(running.completed);

    Host().slowDisplayMs = 0;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));  // Stop
    EXPECT_EQ(Host().caption, MakeCaption("Cam", 320, 240, false));
    EXPECT_TRUE(Graph().RecordingPath().empty());
    EXPECT_TRUE(Host().prompts.messages.empty()) << Host().prompts.messages.front();

    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_EQ(stats.path, path);
    EXPECT_TRUE(stats.completed);
    std::printf("[ %s ] camera %llu, pushed %llu, written %llu, displayed %d\n", c.label,
                static_cast<unsigned long long>(stats.cameraFrames), static_cast<unsigned long long>(stats.framesPushed),
                static_cast<unsigned long long>(stats.framesWritten), displayed);
    // 30 frames a second for 2.5 s, with room for a loaded machine.
    EXPECT_GT(stats.framesWritten, 30u);
    EXPECT_EQ(stats.framesPushed, stats.cameraFrames);
    EXPECT_EQ(stats.framesWritten, stats.framesPushed);
    if (c.slowDisplayMs > 0) {
        EXPECT_LT(displayed, static_cast<int>(stats.framesWritten) / 2);
    }
    Graph().ReleaseCaptureGraph();  // the reading below gets the machine to itself

    const AviContents avi = ProbeAvi(path);
    EXPECT_TRUE(avi.valid);
    EXPECT_TRUE(avi.finished);
    EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_EQ(avi.width, 320);
    EXPECT_EQ(avi.height, 240);
    EXPECT_EQ(avi.audioBuffers > 0, c.audio);
    // The file lasts as long as its frames at the camera's 30 frames a
    // second; the sound may begin a little before the first frame.
    const double seconds = static_cast<double>(avi.durationNs) / 1e9;
    EXPECT_GE(seconds, avi.videoFrames / 30.0 - 0.1);
    EXPECT_LE(seconds, avi.videoFrames / 30.0 + (c.audio ? 0.5 : 0.1));
}

INSTANTIATE_TEST_SUITE_P(Forms, RecordingTest,
                         ::testing::Values(RecordingCase{"video only", false, 0},
                                           RecordingCase{"with sound", true, 0},
                                           RecordingCase{"slow display", false, 150}),
                         [](const auto& info) {
                             return std::string(info.param.audio ? "WithSound" : "VideoOnly") +
                                    (info.param.slowDisplayMs ? "SlowDisplay" : "");
                         });

TEST_F(CaptureGraphTest, RebuildWhileRecordingCompletesTheFileAndStartsANewOne)
{
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string first = Graph().RecordingPath();
    Pump(1200ms);
    // A device command while recording rebuilds the recording form.
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string second = Graph().RecordingPath();
    const CCaptureGraph::RecordingStats firstStats = Graph().LastRecording();
    EXPECT_EQ(firstStats.path, first);
    EXPECT_TRUE(firstStats.completed);
    ASSERT_NE(second, first);
    // Started within the same minute: the second file is numbered, never
    // written over the first.
    const std::string stem = first.substr(0, first.size() - 4);
    if (second.rfind(stem, 0) == 0) {
        EXPECT_EQ(second, stem + " (2).avi");
    }

    Pump(1200ms);
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    const CCaptureGraph::RecordingStats secondStats = Graph().LastRecording();
    EXPECT_EQ(secondStats.path, second);
    Graph().ReleaseCaptureGraph();

    const AviContents one = ProbeAvi(first);
    const AviContents two = ProbeAvi(second);
    EXPECT_TRUE(one.valid && one.finished);
    EXPECT_TRUE(two.valid && two.finished);
    EXPECT_EQ(one.videoFrames, static_cast<int>(firstStats.framesWritten));
    EXPECT_EQ(two.videoFrames, static_cast<int>(secondStats.framesWritten));
    EXPECT_GT(one.videoFrames, 10);
    EXPECT_GT(two.videoFrames, 10);
}

TEST_F(CaptureGraphTest, MjpegCameraGoesThroughTheDecoder)
{
    SetTestDevices({Camera("Jpeg", kPatternBall, true)});
    settings.cameraName = "Jpeg";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    EXPECT_TRUE(FramesFlow());

    GstRef<GstElement> decoder = Child("AVI Decompressor");
    ASSERT_TRUE(decoder);
    GstElementFactory* factory = gst_element_get_factory(decoder.get());
    EXPECT_STREQ(GST_OBJECT_NAME(factory), "jpegdec");
    GstRef<GstPad> decoded(gst_element_get_static_pad(decoder.get(), "src"));
    GstRef<GstPad> converter(gst_pad_get_peer(decoded.get()));
    ASSERT_TRUE(converter);
    EXPECT_STREQ(GST_OBJECT_NAME(GST_OBJECT_PARENT(converter.get())), "Color Space Converter");

    const std::string path = Graph().RecordingPath();
    Pump(1000ms);
    Graph().ReleaseCaptureGraph();
    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_TRUE(stats.completed);
    EXPECT_EQ(stats.framesWritten, stats.framesPushed);
    const AviContents avi = ProbeAvi(path);
    EXPECT_TRUE(avi.valid && avi.finished);
    EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_EQ(avi.width, 320);
}

TEST_F(CaptureGraphTest, HighScoreGoesFromElementToElement)
{
    highScore = 1234;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    GstElement* first = Graph().EffectFilter();
    ASSERT_NE(first, nullptr);
    guint64 value = 0;
    g_object_get(first, "high-score", &value, nullptr);
    EXPECT_EQ(value, 1234u);

    // The element reached a higher score while it ran.
    g_object_set(first, "high-score", guint64(987654321), nullptr);
    EXPECT_EQ(Graph().FetchHighScore(), 987654321);
    Graph().ResetFaces();

    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_EQ(highScore, 987654321);
    ASSERT_NE(Graph().EffectFilter(), nullptr);
    g_object_get(Graph().EffectFilter(), "high-score", &value, nullptr);
    EXPECT_EQ(value, 987654321u);

    // Beyond the main window's signed range it stays at the largest value.
    g_object_set(Graph().EffectFilter(), "high-score", G_MAXUINT64, nullptr);
    EXPECT_EQ(Graph().FetchHighScore(), G_MAXINT64);
    Graph().ReleaseCaptureGraph();
    EXPECT_EQ(Graph().FetchHighScore(), highScore);
}

TEST_F(CaptureGraphTest, AskedFormatTakesTheCamerasFormatAndSizesTheWindow)
{
    struct Case {
        int width, height;
        std::int64_t frameTime;
        int expectWidth, expectHeight;
        std::int64_t expectFrameTime;
        const char* caps;
    } cases[] = {
        // Offered: taken as saved.
        {320, 240, 666666, 320, 240, 666666, "video/x-raw, width=(int)320, height=(int)240, framerate=(fraction)15/1"},
        // No saved rate: the camera's own, nearest to 30 frames a second.
        {320, 240, 0, 320, 240, 333333, "video/x-raw, width=(int)320, height=(int)240, framerate=(fraction)30/1"},
    };
    for (const Case& c : cases) {
        settings.width = c.width;
        settings.height = c.height;
        settings.frameTime = c.frameTime;
        ASSERT_TRUE(Graph().BuildCaptureGraph(true, false, true, false));
        EXPECT_EQ(settings.width, c.expectWidth);
        EXPECT_EQ(settings.height, c.expectHeight);
        EXPECT_EQ(settings.frameTime, c.expectFrameTime);
        EXPECT_EQ(Host().clientWidth, c.expectWidth);
        EXPECT_EQ(Host().clientHeight, c.expectHeight);
        GstRef<GstElement> format = Child("Camera Format");
        ASSERT_TRUE(format);
        GstCaps* caps = nullptr;
        g_object_get(format.get(), "caps", &caps, nullptr);
        CapsRef held(caps);
        GCharRef text(gst_caps_to_string(caps));
        EXPECT_STREQ(text.get(), c.caps);
        EXPECT_TRUE(FramesFlow());
    }
    EXPECT_TRUE(Host().prompts.messages.empty());
}

// A camera that changed: the format is asked for although it was to be reused.
TEST_F(CaptureGraphTest, ChangedCameraAsksForTheFormat)
{
    settings.cameraName = "Gone";
    Host().clientWidth = 0;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_EQ(settings.cameraName, "Cam");
    EXPECT_EQ(Host().clientWidth, 320);
    EXPECT_EQ(Host().clientHeight, 240);
}

// The camera's streaming thread fails (as when the device is unplugged):
// the recording is completed, the user told, and the window can build again.
TEST_F(CaptureGraphTest, CameraFailingWhileRecordingKeepsTheFileAndReports)
{
    settings.audioName = "Mic";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    Pump(1000ms);

    std::atomic<bool> fail{false};
    GstRef<GstElement> camera = Child("Capture Filter");
    GstRef<GstPad> out(gst_element_get_static_pad(camera.get(), "src"));
    gst_pad_add_probe(
        out.get(), GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo* info, gpointer flag) {
            if (!static_cast<std::atomic<bool>*>(flag)->load())
                return GST_PAD_PROBE_OK;
            gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
            GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
            return GST_PAD_PROBE_HANDLED;
        },
        &fail, nullptr);
    out.reset();
    camera.reset();
    fail = true;

    ASSERT_TRUE(PumpUntil([&] { return !Host().prompts.messages.empty(); }));
    EXPECT_EQ(Host().prompts.messages.front().rfind("カメラが使えなくなりました。", 0), 0u)
        << Host().prompts.messages.front();
    EXPECT_FALSE(Graph().Built());
    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_TRUE(stats.completed);
    EXPECT_EQ(stats.framesWritten, stats.framesPushed);
    const AviContents avi = ProbeAvi(path);
    EXPECT_TRUE(avi.valid && avi.finished);
    EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_GT(avi.audioBuffers, 0);

    // The window stays usable: the next command builds and runs again.
    Host().prompts.messages.clear();
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_TRUE(FramesFlow());
    EXPECT_TRUE(Host().prompts.messages.empty());
}

// The file cannot be written: the start fails, the failure is reported
// without waiting for a file that can never be completed, and the window
// can build again.
TEST_F(CaptureGraphTest, UnwritableRecordingFolderIsReported)
{
    Host().folder = "/nonexistent/quell-graph";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    ASSERT_TRUE(PumpUntil([&] { return !Host().prompts.messages.empty(); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
    EXPECT_EQ(Host().prompts.messages.front().rfind("録画ファイルに書き込めませんでした。", 0), 0u)
        << Host().prompts.messages.front();
    EXPECT_FALSE(Graph().Built());
    EXPECT_FALSE(Graph().LastRecording().completed);

    Host().prompts.messages.clear();
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_TRUE(FramesFlow());
    EXPECT_TRUE(Host().prompts.messages.empty());
}

TEST_F(CaptureGraphTest, NoCameraEndsTheBuildWithItsMessage)
{
    SetTestDevices({});
    EXPECT_FALSE(Graph().BuildCaptureGraph(true, true, true, false));
    ASSERT_EQ(Host().prompts.messages.size(), 1u);
    EXPECT_EQ(Host().prompts.messages[0], "映像入力デバイスが見つかりませんでした");
    EXPECT_TRUE(Host().caption.empty());
    EXPECT_EQ(Host().saves, 0);
    Graph().ReleaseCaptureGraph();
    EXPECT_FALSE(Graph().Built());
}

// A camera whose element cannot be made: the build ends at the format step
// and the window keeps its caption.
TEST_F(CaptureGraphTest, BrokenCameraEndsTheBuild)
{
    TestDevice broken = Camera("Cam");
    broken.broken = true;
    SetTestDevices({broken});
    EXPECT_FALSE(Graph().BuildCaptureGraph(true, true, true, true));
    ASSERT_FALSE(Host().prompts.messages.empty());
    EXPECT_EQ(Host().prompts.messages.back(), "ERROR: AddFilter");
    EXPECT_TRUE(Host().caption.empty());
    EXPECT_EQ(Host().saves, 0);
}

}  // namespace
}  // namespace quell

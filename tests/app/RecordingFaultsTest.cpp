// Faults while recording: a disk that fills up, a file system that fails, a
// folder removed, a camera or sound input that fails or vanishes, SIGINT,
// the mending of cut-off files (also beyond the first gigabyte), and many
// start/stop cycles and camera changes without a leak. In every case the
// user is told, the program goes on (the preview runs, a new recording
// starts) and what was recorded before the fault plays.
#include "graph/AviRepair.h"
#include "graph/CaptureGraph.h"
#include "graph/Caption.h"
#include "graph/DeviceChoice.h"
#include "graph/GraphRefs.h"
#include "shell/CaptureDlg.h"
#include "shell/Commands.h"
#include "shell/SignalCloser.h"
#include "shell/VideoWidget.h"
#include "support/AviCheck.h"
#include "support/AviProbe.h"
#include "support/TestDeviceProvider.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quell {
namespace {

using namespace quell::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kFileLost = "録画ファイルに書き込めませんでした。";
constexpr const char* kCameraLost = "カメラが使えなくなりました。";
constexpr const char* kAudioLost = "録音デバイスが使えなくなりました。";

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// ---- what the process holds ------------------------------------------------

int CountEntries(const char* folder)
{
    std::error_code error;
    int count = 0;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

int OpenFds()
{
    return CountEntries("/proc/self/fd");
}

int Threads()
{
    return CountEntries("/proc/self/task");
}

long ResidentKb()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// ---- reading a file back ----------------------------------------------------

// What gst-discoverer-1.0 says of the file, with its duration in seconds
// (-1 when it gave none).
std::string Discover(const std::string& path, double& seconds)
{
    seconds = -1;
    std::string output;
    const std::string command = "gst-discoverer-1.0 '" + path + "' 2>&1";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            output += line;
        ::pclose(pipe);
    }
    const std::size_t at = output.find("Duration: ");
    int hours = 0, minutes = 0;
    double rest = 0;
    if (at != std::string::npos &&
        std::sscanf(output.c_str() + at + 10, "%d:%d:%lf", &hours, &minutes, &rest) == 3)
        seconds = hours * 3600.0 + minutes * 60.0 + rest;
    return output;
}

// ---- the main window's side of the graph -----------------------------------

class CScriptedPrompts : public IPrompts {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    bool AskYesNo(const std::string&) override { return false; }
    bool RunDeviceDialog(const std::vector<std::string>& names, int initial, bool, int& selection) override
    {
        ++dialogs;
        // A camera change picks the next camera in the list.
        selection = nextCamera && names.size() > 1 ? (initial + 1) % static_cast<int>(names.size()) : initial;
        return true;
    }

    std::vector<std::string> messages;
    int dialogs = 0;
    bool nextCamera = false;
};

class CFakeHost : public IGraphHost {
public:
    IPrompts& Prompts() override { return prompts; }
    GstElement* CreateVideoRenderer() override
    {
        GstElement* sink = gst_element_factory_make("fakesink", nullptr);
        g_object_set(sink, "sync", TRUE, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                             static_cast<std::atomic<int>*>(n)->fetch_add(1);
                         }),
                         &frames);
        return sink;
    }
    void SetCaption(const std::string& text) override { caption = text; }
    void SetClientSize(int, int) override {}
    void SaveSettings() override {}
    std::string VideoFolder() override
    {
        std::error_code ignored;
        fs::create_directories(folder, ignored);
        return folder;
    }
    // As the main window does: leave recording and show the preview.
    void RecordingEnded() override
    {
        ++recordingsEnded;
        if (onEnded)
            onEnded();
    }

    CScriptedPrompts prompts;
    std::atomic<int> frames{0};
    std::string caption;
    std::string folder;
    int recordingsEnded = 0;
    std::function<void()> onEnded;
};

void Pump(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(duration.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 15s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Pump(20ms);
    }
    return true;
}

// Makes the next buffer through `pad` fail as a device that went away
// does: an element error from `element` (when `readError`), then the flow
// error that stops its streaming thread.
struct CFailure {
    std::atomic<bool> armed{false};
    std::atomic<bool> posted{false};
    GstElement* element = nullptr;
    bool readError = true;

    void Attach(GstElement* source, bool withReadError)
    {
        element = source;
        readError = withReadError;
        GstRef<GstPad> out(gst_element_get_static_pad(source, "src"));
        gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, &CFailure::Probe, this, nullptr);
    }

    static GstPadProbeReturn Probe(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        auto* self = static_cast<CFailure*>(data);
        if (!self->armed.load())
            return GST_PAD_PROBE_OK;
        if (self->readError && !self->posted.exchange(true)) {
            GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ,
                                                "Could not read from resource.");
            gst_element_post_message(self->element,
                                     gst_message_new_error(GST_OBJECT(self->element), error, "device gone"));
            g_error_free(error);
        }
        gst_buffer_unref(GST_PAD_PROBE_INFO_BUFFER(info));
        GST_PAD_PROBE_INFO_FLOW_RETURN(info) = GST_FLOW_ERROR;
        return GST_PAD_PROBE_HANDLED;
    }
};

class RecordingFaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/quell-faults-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        host.folder = m_root + "/video";
        fs::create_directories(host.folder);
        m_devices = std::make_unique<CDeviceChooser>(host.prompts);
        settings.cameraName = "Cam";
        settings.audioName = kNoAudioName;
        // Small pictures keep the uncompressed files small.
        settings.width = 320;
        settings.height = 240;
        settings.frameTime = 333333;
        SetTestDevices({Camera("Cam", kPatternBall), Microphone("Mic")});
        m_graph = std::make_unique<CCaptureGraph>(host, *m_devices, settings, highScore);
        host.onEnded = [this] { EXPECT_TRUE(Graph().BuildCaptureGraph(true, true, true, false)); };
    }

    void TearDown() override
    {
        m_graph.reset();
        for (auto it = m_mounts.rbegin(); it != m_mounts.rend(); ++it) {
            if (::umount2(it->c_str(), 0) != 0)
                ::umount2(it->c_str(), MNT_DETACH);
        }
        std::error_code ignored;
        fs::remove_all(m_root, ignored);
    }

    // A tmpfs of `size` bytes on `folder`; false when the machine refuses it.
    bool MountTmpfs(const std::string& folder, std::size_t size)
    {
        fs::create_directories(folder);
        const std::string options = "size=" + std::to_string(size);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            m_refused = std::strerror(errno);
            return false;
        }
        m_mounts.push_back(folder);
        return true;
    }

    // An ext4 file system in a file, through a loop device, on `folder`.
    bool MountExt4(const std::string& folder, int megabytes)
    {
        const std::string image = m_root + "/disk.img";
        fs::create_directories(folder);
        const std::string make = "truncate -s " + std::to_string(megabytes) + "M '" + image +
                                 "' && mkfs.ext4 -q -F '" + image + "' >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) {
            m_refused = "mkfs.ext4 failed";
            return false;
        }
        const std::string mount = "mount -o loop '" + image + "' '" + folder + "' 2>&1";
        if (std::system(mount.c_str()) != 0) {
            m_refused = "a loop mount was refused";
            return false;
        }
        m_mounts.push_back(folder);
        return true;
    }

    bool FramesFlow(int count = 10)
    {
        const int start = host.frames.load();
        return PumpUntil([&] { return host.frames.load() >= start + count; });
    }

    GstRef<GstElement> Child(const char* name)
    {
        return GstRef<GstElement>(Graph().Pipeline() ? gst_bin_get_by_name(GST_BIN(Graph().Pipeline()), name)
                                                     : nullptr);
    }

    // After a fault: the preview runs, no recording, no further message.
    void ExpectPreviewRuns()
    {
        EXPECT_TRUE(Graph().Built());
        EXPECT_TRUE(Graph().RecordingPath().empty());
        EXPECT_EQ(host.caption, MakeCaption(settings.cameraName, settings.width, settings.height, false));
        EXPECT_TRUE(FramesFlow());
    }

    // A new recording into `folder` records and completes its file.
    void ExpectNewRecordingPlays(const std::string& folder)
    {
        host.folder = folder;
        host.prompts.messages.clear();
        ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
        const std::string path = Graph().RecordingPath();
        Pump(1000ms);
        ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
        EXPECT_TRUE(host.prompts.messages.empty()) << host.prompts.messages.front();
        const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
        EXPECT_EQ(stats.path, path);
        EXPECT_TRUE(stats.completed);
        const AviContents avi = ProbeAvi(path);
        EXPECT_TRUE(avi.valid && avi.finished);
        EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
        EXPECT_GT(avi.videoFrames, 10);
    }

    // The file plays to its end, through the demultiplexer and through a
    // decoder, with its index and sizes in place.
    static AviContents ExpectPlayable(const std::string& path)
    {
        const AviContents avi = ProbeAvi(path);
        EXPECT_TRUE(avi.valid) << path;
        EXPECT_TRUE(avi.finished) << path;
        const Decoded decoded = DecodeAvi(path);
        EXPECT_TRUE(decoded.ok) << path;
        EXPECT_EQ(decoded.videoFrames, avi.videoFrames) << path;
        return avi;
    }

    CCaptureGraph& Graph() { return *m_graph; }

    CFakeHost host;
    CaptureSettings settings;
    std::int64_t highScore = 0;
    std::string m_root;
    std::string m_refused;

private:
    std::vector<std::string> m_mounts;
    std::unique_ptr<CDeviceChooser> m_devices;
    std::unique_ptr<CCaptureGraph> m_graph;
};

// ---- the disk fills up -------------------------------------------------------

struct FullDiskCase {
    const char* label;
    bool audio;
};

void PrintTo(const FullDiskCase& c, std::ostream* os)
{
    *os << c.label;
}

class FullDiskTest : public RecordingFaultsTest, public ::testing::WithParamInterface<FullDiskCase> {};

// The file writer fails with ENOSPC: the user is told, the file is mended
// to hold every complete frame that reached the disk, the preview comes
// back and a recording elsewhere works.
TEST_P(FullDiskTest, FileIsMendedUpToTheLastFrameAndThePreviewComesBack)
{
    constexpr std::size_t kDisk = 8u << 20;
    if (!MountTmpfs(host.folder, kDisk))
        GTEST_SKIP() << "mounting a tmpfs was refused: " << m_refused;
    settings.audioName = GetParam().audio ? "Mic" : kNoAudioName;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }));
    ASSERT_EQ(host.prompts.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(host.prompts.messages[0], std::string(kFileLost) + "\n")) << host.prompts.messages[0];
    EXPECT_EQ(host.recordingsEnded, 1);
    ExpectPreviewRuns();

    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_EQ(stats.path, path);
    EXPECT_FALSE(stats.completed);
    const AviContents avi = ExpectPlayable(path);
    // Only the frame cut off by the full disk is lost (and, when the index
    // would not fit, the few before it).
    constexpr std::uintmax_t kFrame = 320 * 240 * 4 + 8;
    EXPECT_GT(avi.videoFrames, 0);
    EXPECT_LE(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_GE(fs::file_size(path), kDisk - 3 * kFrame);
    EXPECT_EQ(avi.audioBuffers > 0, GetParam().audio);
    std::printf("[ %s ] %d of %llu frames kept, %ju bytes\n", GetParam().label, avi.videoFrames,
                static_cast<unsigned long long>(stats.framesWritten), fs::file_size(path));

    ExpectNewRecordingPlays(m_root + "/elsewhere");
}

INSTANTIATE_TEST_SUITE_P(Forms, FullDiskTest,
                         ::testing::Values(FullDiskCase{"video only", false}, FullDiskCase{"with sound", true}),
                         [](const auto& info) { return std::string(info.param.audio ? "WithSound" : "VideoOnly"); });

// ---- the file system fails, the folder goes ----------------------------------

// The disk under the folder fails (an ext4 shut down as a pulled device
// is): writes end with EIO. The user is told and the preview comes back;
// what reached the disk before the fault still plays once the disk is
// back, though the program could not mend it there.
TEST_F(RecordingFaultsTest, FailingFileSystemIsReportedAndTheProgramGoesOn)
{
    const std::string disk = host.folder;
    if (!MountExt4(disk, 64))
        GTEST_SKIP() << "an ext4 loop mount is not available: " << m_refused;
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    Pump(1500ms);
    const std::uint64_t before = Graph().RecordingFrames().framesWritten;
    {
        const int folder = ::open(disk.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        // EXT4_IOC_SHUTDOWN with its default: data is flushed, then every
        // further write fails.
        std::uint32_t flags = 0;
        const int shut = ::ioctl(folder, _IOR('X', 125, std::uint32_t), &flags);
        ::close(folder);
        ASSERT_EQ(shut, 0) << std::strerror(errno);
    }
    ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }));
    EXPECT_TRUE(StartsWith(host.prompts.messages[0], std::string(kFileLost) + "\n")) << host.prompts.messages[0];
    EXPECT_EQ(host.recordingsEnded, 1);
    ExpectPreviewRuns();
    ExpectNewRecordingPlays(m_root + "/elsewhere");

    // The disk back: the demultiplexer reads the frames up to the fault by
    // scanning the chunks; mending gives the file its index.
    Graph().ReleaseCaptureGraph();
    ASSERT_EQ(::umount2(disk.c_str(), 0), 0) << std::strerror(errno);
    ASSERT_EQ(std::system(("mount -o loop '" + m_root + "/disk.img' '" + disk + "'").c_str()), 0);
    const AviContents cut = ProbeAvi(path);
    EXPECT_TRUE(cut.valid);
    EXPECT_GE(cut.videoFrames, static_cast<int>(before) - 2);
    const AviRepairReport report = RepairAviFile(path);
    EXPECT_TRUE(report.mended) << report.error;
    const AviContents mended = ExpectPlayable(path);
    EXPECT_EQ(mended.videoFrames, cut.videoFrames);
}

// A folder nobody may write into, root included (immutable): the file
// cannot be made, so the start fails with the file's message, no file is
// left behind, and the preview comes back.
TEST_F(RecordingFaultsTest, ImmutableFolderFailsTheStartAndThePreviewComesBack)
{
    if (!MountTmpfs(host.folder, 64u << 20))
        GTEST_SKIP() << "mounting a tmpfs was refused: " << m_refused;
    if (std::system(("chattr +i '" + host.folder + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "chattr +i is not available here";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }, 5s));
    std::system(("chattr -i '" + host.folder + "'").c_str());
    ASSERT_EQ(host.prompts.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(host.prompts.messages[0], std::string(kFileLost) + "\n")) << host.prompts.messages[0];
    EXPECT_EQ(host.recordingsEnded, 1);
    ExpectPreviewRuns();
    EXPECT_EQ(CountEntries(host.folder.c_str()), 0);
    ExpectNewRecordingPlays(host.folder);
}

// The folder is removed (rm -rf) while the recording writes into it. The
// open file would take the recording with it: the recording is ended, its
// file completed and put back in a folder made again, and the user told.
// Stopped before that is noticed, the file is put back all the same.
TEST_F(RecordingFaultsTest, RemovedFolderIsReportedAndTheRecordingPutBack)
{
    settings.audioName = "Mic";
    for (const bool stopAtOnce : {false, true}) {
        SCOPED_TRACE(stopAtOnce ? "stopped at once" : "noticed while recording");
        host.prompts.messages.clear();
        host.recordingsEnded = 0;
        ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
        const std::string path = Graph().RecordingPath();
        Pump(1200ms);
        fs::remove_all(host.folder);
        if (stopAtOnce) {
            ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
            EXPECT_TRUE(host.prompts.messages.empty());
        } else {
            ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }, 5s));
            ASSERT_EQ(host.prompts.messages.size(), 1u);
            EXPECT_EQ(host.prompts.messages[0], std::string(kFileLost) + "\n" + path + ": " + g_strerror(ENOENT));
            EXPECT_EQ(host.recordingsEnded, 1);
        }
        ExpectPreviewRuns();

        const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
        EXPECT_TRUE(stats.completed);
        EXPECT_EQ(stats.path, path);
        ASSERT_TRUE(fs::exists(path));
        const AviContents avi = ExpectPlayable(path);
        EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
        EXPECT_GT(avi.videoFrames, 20);
        EXPECT_GT(avi.audioBuffers, 0);
    }
    ExpectNewRecordingPlays(host.folder);
}

// ---- the camera or the sound input goes --------------------------------------

struct DeviceCase {
    const char* label;
    bool mjpeg;
};

void PrintTo(const DeviceCase& c, std::ostream* os)
{
    *os << c.label;
}

class CameraGoneTest : public RecordingFaultsTest, public ::testing::WithParamInterface<DeviceCase> {};

// The camera is unplugged: it leaves the device list and its element fails
// with a read error. The file is completed with every frame, the user told,
// and the window keeps its recording state for the camera's return; a
// recording with the camera back works.
TEST_P(CameraGoneTest, FileIsCompletedAndARecordingWorksWithTheCameraBack)
{
    SetTestDevices({Camera("Cam", kPatternBall, GetParam().mjpeg), Microphone("Mic")});
    settings.audioName = "Mic";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    Pump(1000ms);

    CFailure failure;
    GstRef<GstElement> camera = Child("Capture Filter");
    ASSERT_TRUE(camera);
    failure.Attach(camera.get(), true);
    camera.reset();
    ASSERT_TRUE(RemoveTestDevice("Cam"));
    failure.armed = true;

    ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }));
    EXPECT_TRUE(StartsWith(host.prompts.messages[0], kCameraLost)) << host.prompts.messages[0];
    EXPECT_EQ(host.recordingsEnded, 0);
    EXPECT_FALSE(Graph().Built());
    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_TRUE(stats.completed);
    EXPECT_EQ(stats.framesWritten, stats.framesPushed);
    const AviContents avi = ExpectPlayable(path);
    EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_GT(avi.audioBuffers, 0);

    AddTestDevice(Camera("Cam", kPatternSmpte, GetParam().mjpeg));
    ExpectNewRecordingPlays(host.folder);
}

INSTANTIATE_TEST_SUITE_P(Cameras, CameraGoneTest,
                         ::testing::Values(DeviceCase{"raw camera", false}, DeviceCase{"MJPEG camera", true}),
                         [](const auto& info) { return std::string(info.param.mjpeg ? "Mjpeg" : "Raw"); });

// The sound input fails and leaves the device list while recording with
// sound: the file is completed (sound up to the fault), the user told
// that the sound device went, and the camera's preview comes back.
TEST_F(RecordingFaultsTest, SoundInputGoneCompletesTheFileAndThePreviewComesBack)
{
    settings.audioName = "Mic";
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    Pump(1000ms);

    CFailure failure;
    GstRef<GstElement> microphone = Child("Audio Capture");
    ASSERT_TRUE(microphone);
    failure.Attach(microphone.get(), true);
    microphone.reset();
    ASSERT_TRUE(RemoveTestDevice("Mic"));
    failure.armed = true;

    ASSERT_TRUE(PumpUntil([&] { return !host.prompts.messages.empty(); }));
    ASSERT_EQ(host.prompts.messages.size(), 1u);
    EXPECT_TRUE(StartsWith(host.prompts.messages[0], std::string(kAudioLost) + "\n")) << host.prompts.messages[0];
    EXPECT_EQ(host.recordingsEnded, 1);
    ExpectPreviewRuns();

    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_TRUE(stats.completed);
    const AviContents avi = ExpectPlayable(path);
    EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten));
    EXPECT_GT(avi.audioBuffers, 0);

    // Without the microphone the next recording goes without sound.
    ExpectNewRecordingPlays(host.folder);
}

// ---- mending cut-off files -----------------------------------------------------

// Records with avimux into `path` as the capture graph does, and stops the
// way a failed recording stops: no end of stream, the pipeline taken down
// once `stopAtBytes` reached the file. Later buffers never reach it, so the
// file ends at a chunk's end.
void RecordCutOff(const std::string& path, int width, int height, bool audio, std::uint64_t stopAtBytes)
{
    std::string description = "videotestsrc pattern=solid-color ! video/x-raw,format=BGRx,width=" +
                              std::to_string(width) + ",height=" + std::to_string(height) +
                              ",framerate=30/1 ! queue ! avimux name=mux ! filesink name=file location=\"" + path +
                              "\"";
    if (audio)
        description += " audiotestsrc ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! queue ! mux.";
    GError* raw = nullptr;
    GstRef<GstElement> pipeline = Adopt(gst_parse_launch(description.c_str(), &raw));
    ErrorRef error(raw);
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    struct Cut {
        std::uint64_t limit;
        std::atomic<std::uint64_t> bytes{0};
        std::atomic<bool> reached{false};
    } cut{stopAtBytes};
    GstRef<GstElement> file(gst_bin_get_by_name(GST_BIN(pipeline.get()), "file"));
    GstRef<GstPad> in(gst_element_get_static_pad(file.get(), "sink"));
    gst_pad_add_probe(in.get(), GST_PAD_PROBE_TYPE_BUFFER,
                      [](GstPad*, GstPadProbeInfo* info, gpointer data) {
                          // The first buffer beyond the limit is held back; the
                          // ones before it have been written by then.
                          auto* c = static_cast<Cut*>(data);
                          if (c->bytes.load() >= c->limit) {
                              c->reached = true;
                              return GST_PAD_PROBE_DROP;
                          }
                          c->bytes += gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
                          return GST_PAD_PROBE_OK;
                      },
                      &cut, nullptr);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstRef<GstBus> bus(gst_element_get_bus(pipeline.get()));
    const auto end = std::chrono::steady_clock::now() + 120s;
    while (!cut.reached.load() && std::chrono::steady_clock::now() < end) {
        MessageRef message(gst_bus_timed_pop_filtered(bus.get(), 10 * GST_MSECOND, GST_MESSAGE_ERROR));
        ASSERT_FALSE(message) << "recording failed";
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    ASSERT_TRUE(cut.reached.load());
}

struct MendCase {
    const char* label;
    int width, height;
    bool audio;
    std::uint64_t stopAtBytes;
    std::uint64_t cutBytes;   // taken off the end afterwards: a chunk cut in two
    bool fillDisk;            // no room left on the disk for the index
    int parts;                // RIFF parts of the mended file
};

void PrintTo(const MendCase& c, std::ostream* os)
{
    *os << c.label;
}

class MendTest : public RecordingFaultsTest, public ::testing::WithParamInterface<MendCase> {};

// A cut-off recording gets its sizes, counts and index back and then plays
// every frame the demultiplexer finds by scanning the cut-off file.
TEST_P(MendTest, CutOffFilePlaysEveryCompleteFrame)
{
    const MendCase& c = GetParam();
    std::string folder = m_root;
    if (c.fillDisk) {
        folder = m_root + "/small";
        if (!MountTmpfs(folder, 4u << 20))
            GTEST_SKIP() << "mounting a tmpfs was refused: " << m_refused;
    }
    const std::string path = folder + "/cut.avi";
    RecordCutOff(path, c.width, c.height, c.audio, c.stopAtBytes);
    if (HasFatalFailure())
        return;
    if (c.cutBytes)
        fs::resize_file(path, fs::file_size(path) - c.cutBytes);
    // What the demultiplexer finds by scanning the chunks of the cut-off
    // file (a file cut before its first frame has nothing to find).
    const bool frames = c.stopAtBytes > 4096;
    int parts = 0;
    bool superIndex = false;
    EXPECT_TRUE(!frames || !AviStructureOk(path, parts, superIndex));
    const Decoded before = frames ? DecodeAvi(path) : Decoded{true, 0, 0, 0};
    EXPECT_TRUE(before.ok);
    if (c.fillDisk) {
        // Every byte left taken: the index needs the room of a frame or two.
        std::ofstream filler(folder + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size()))
            filler.flush();
    }

    const auto start = std::chrono::steady_clock::now();
    const AviRepairReport report = RepairAviFile(path);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_TRUE(report.mended) << report.error;
    EXPECT_EQ(report.droppedChunks > 0, c.fillDisk);

    EXPECT_TRUE(AviStructureOk(path, parts, superIndex));
    EXPECT_EQ(parts, c.parts);
    EXPECT_EQ(superIndex, c.parts > 1);
    const int expected = before.videoFrames - (c.fillDisk ? static_cast<int>(report.droppedChunks) : 0);
    EXPECT_EQ(static_cast<int>(report.videoFrames), expected);
    if (frames) {
        const Decoded decoded = DecodeAvi(path);
        EXPECT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.videoFrames, expected);
        // The scan of a file without index misses sound chunks; the index finds them.
        EXPECT_GE(decoded.audioBytes, before.audioBytes);
        EXPECT_EQ(decoded.audioBuffers > 0, c.audio);
        // The file lasts as long as its longer stream: the sound runs ahead
        // of the pictures in the multiplexer's interleave.
        double duration = -1;
        const std::string discovered = Discover(path, duration);
        EXPECT_NEAR(duration, std::max(expected / 30.0, static_cast<double>(decoded.audioBytes) / 192000.0), 0.05)
            << discovered;
    }
    std::printf("[ %s ] %d frames, %d part(s), %ju bytes, mended in %.3f s\n", c.label, expected, parts,
                fs::file_size(path), seconds);

    // Mending a mended file changes nothing it says.
    const AviRepairReport again = RepairAviFile(path);
    EXPECT_TRUE(again.mended) << again.error;
    EXPECT_EQ(again.videoFrames, report.videoFrames);
}

constexpr std::uint64_t kMiB = 1u << 20;

INSTANTIATE_TEST_SUITE_P(
    Cuts, MendTest,
    ::testing::Values(MendCase{"between frames", 160, 120, false, 2 * kMiB, 0, false, 1},
                      MendCase{"inside a frame", 160, 120, false, 2 * kMiB, 1000, false, 1},
                      MendCase{"inside a chunk header", 160, 120, false, 2 * kMiB, 76800 + 4, false, 1},
                      MendCase{"with sound", 160, 120, true, 2 * kMiB, 333, false, 1},
                      MendCase{"before the first frame", 160, 120, false, 1, 0, false, 1},
                      MendCase{"no room for the index", 32, 24, false, 3 * kMiB, 0, true, 1},
                      MendCase{"beyond the first gigabyte", 1280, 720, true, 1100 * kMiB, 5000, false, 2}),
    [](const auto& info) {
        std::string name;
        for (const char* p = info.param.label; *p; ++p)
            if (std::isalnum(static_cast<unsigned char>(*p)))
                name += (name.empty() || p[-1] == ' ') ? static_cast<char>(std::toupper(*p)) : *p;
        return name;
    });

// A file that is not an AVI recording, or has no complete header, is left
// as it is.
TEST(AviRepair, LeavesFilesWithoutAHeaderAlone)
{
    char pattern[] = "/tmp/quell-mend-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const struct {
        const char* label;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"not RIFF", std::string(64, 'x')},
        {"header cut off", std::string("RIFF\x10\x00\x00\x00" "AVI LIST\xf8\x02\x00\x00hdrl", 24)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string path = folder + "/file.avi";
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out << c.bytes;
        }
        const AviRepairReport report = RepairAviFile(path);
        EXPECT_FALSE(report.mended);
        EXPECT_FALSE(report.error.empty());
        std::ifstream in(path, std::ios::binary);
        const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(after, c.bytes);
    }
    EXPECT_FALSE(RepairAviFile(folder + "/missing.avi").mended);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// ---- many recordings ------------------------------------------------------------

// 200 recordings started and stopped, every fourth started by a camera
// change: no file left incomplete, nothing hangs, the descriptors and
// threads come back to what they were, the heap in use stays where it was
// after warm-up, and the resident size stays bounded.
TEST_F(RecordingFaultsTest, ManyRecordingsAndCameraChangesLeakNothing)
{
    const std::string small = "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1";
    TestDevice cam = Camera("Cam", kPatternBall);
    TestDevice other = Camera("Other", kPatternSmpte);
    cam.caps = other.caps = small;
    SetTestDevices({cam, other});
    settings.width = 160;
    settings.height = 120;

    struct Figures {
        long residentKb = 0;
        std::size_t heapKb = 0;
        int threads = 0;
        int fds = 0;
    };
    const auto measure = [] {
        Figures figures;
        figures.residentKb = ResidentKb();
        const struct mallinfo2 heap = mallinfo2();
        figures.heapKb = (heap.uordblks + heap.hblkhd) / 1024;
        figures.threads = Threads();
        figures.fds = OpenFds();
        return figures;
    };
#if defined(__SANITIZE_ADDRESS__)
    // A cycle takes seconds under AddressSanitizer, whose leak check at the
    // end does the counting there.
    constexpr int kCycles = 24;
#else
    constexpr int kCycles = 200;
#endif
    constexpr int kWarmUp = 10;
    constexpr int kChangeEvery = 4;
    Figures warm, half;
    std::vector<CCaptureGraph::RecordingStats> recordings;
    const auto start = std::chrono::steady_clock::now();
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const bool change = cycle % kChangeEvery == kChangeEvery - 1;
        host.prompts.nextCamera = change;
        const std::string camera = settings.cameraName;
        ASSERT_TRUE(Graph().BuildCaptureGraph(!change, true, true, true)) << "cycle " << cycle;
        host.prompts.nextCamera = false;
        if (change) {
            EXPECT_NE(settings.cameraName, camera) << "cycle " << cycle;
        }
        ASSERT_TRUE(PumpUntil([&] { return Graph().RecordingFrames().framesWritten >= 3; }, 10s))
            << "cycle " << cycle;
        ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false)) << "cycle " << cycle;
        recordings.push_back(Graph().LastRecording());
        EXPECT_TRUE(recordings.back().completed) << "cycle " << cycle;
        if (cycle + 1 == kWarmUp || cycle + 1 == kCycles / 2) {
            Graph().ReleaseCaptureGraph();
            Pump(200ms);
            (cycle + 1 == kWarmUp ? warm : half) = measure();
        }
    }
    Graph().ReleaseCaptureGraph();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Threads of GStreamer's pools end a little after their last task.
    EXPECT_TRUE(PumpUntil([&] { return Threads() <= warm.threads && OpenFds() <= warm.fds; }, 5s))
        << "threads " << Threads() << " (" << warm.threads << "), descriptors " << OpenFds() << " (" << warm.fds
        << ")";
    const Figures last = measure();
    std::printf("%d cycles in %.1f s; after warm-up / half-way / end: resident %ld / %ld / %ld kB, heap in use "
                "%zu / %zu / %zu kB, threads %d / %d / %d, descriptors %d / %d / %d\n",
                kCycles, seconds, warm.residentKb, half.residentKb, last.residentKb, warm.heapKb, half.heapKb,
                last.heapKb, warm.threads, half.threads, last.threads, warm.fds, half.fds, last.fds);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // The sanitizers keep freed blocks in quarantine and count their own.
    // A frame of 160x120 left behind per cycle would be 7.5 MB of heap.
    EXPECT_LT(last.heapKb, warm.heapKb + 1024);
    // The arenas of the many streaming threads stay fragmented: their
    // resident size grows by some ten megabytes, then levels off.
    EXPECT_LT(last.residentKb, warm.residentKb + 96 * 1024);
#endif

    ASSERT_EQ(recordings.size(), static_cast<std::size_t>(kCycles));
    for (const CCaptureGraph::RecordingStats& stats : recordings) {
        const AviContents avi = ProbeAvi(stats.path);
        EXPECT_TRUE(avi.valid && avi.finished) << stats.path;
        EXPECT_EQ(avi.videoFrames, static_cast<int>(stats.framesWritten)) << stats.path;
        EXPECT_EQ(avi.width, 160);
    }
}

// ---- beyond the first gigabyte ------------------------------------------------

// Uncompressed 640x480 at 30 frames a second passes a gigabyte in about
// 30 seconds; the multiplexer then goes on in OpenDML parts. The file plays
// to its end with every frame. Registered on its own with the label "long".
TEST_F(RecordingFaultsTest, LongRecordingBeyondOneGigabytePlaysToItsEnd)
{
    constexpr std::uintmax_t kBeyond = 1100u << 20;
    settings.width = 640;
    settings.height = 480;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, true));
    const std::string path = Graph().RecordingPath();
    std::error_code error;
    ASSERT_TRUE(PumpUntil([&] { return fs::file_size(path, error) > kBeyond; }, 240s));
    ASSERT_TRUE(Graph().BuildCaptureGraph(true, true, true, false));
    EXPECT_TRUE(host.prompts.messages.empty()) << host.prompts.messages.front();
    const CCaptureGraph::RecordingStats stats = Graph().LastRecording();
    EXPECT_TRUE(stats.completed);
    EXPECT_EQ(stats.framesWritten, stats.framesPushed);
    Graph().ReleaseCaptureGraph();
    const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    int parts = 0;
    bool superIndex = false;
    EXPECT_TRUE(AviStructureOk(path, parts, superIndex));
    EXPECT_GE(parts, 2);
    EXPECT_TRUE(superIndex);
    const Decoded decoded = DecodeAvi(path);
    EXPECT_TRUE(decoded.ok);
    EXPECT_EQ(decoded.videoFrames, static_cast<int>(stats.framesWritten));
    double duration = -1;
    const std::string discovered = Discover(path, duration);
    EXPECT_EQ(discovered.find("rror"), std::string::npos) << discovered;
    EXPECT_NEAR(duration, decoded.videoFrames / 30.0, 0.1) << discovered;
    const double total = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d frames, %ju bytes in %d parts; recorded in %.1f s, checked in %.1f s\n", decoded.videoFrames,
                fs::file_size(path), parts, recorded, total - recorded);
}

// ---- the main window ------------------------------------------------------------

class WindowFaultsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_places.settingsFile = m_dir.filePath("setup.ini").toStdString();
        m_places.videoFolder = m_dir.filePath("video").toStdString();
        // The program folder holds the build's data folder; the element is
        // registered in-process already.
        m_programFolder = m_dir.filePath("program").toStdString() + "/";
        fs::create_directories(m_programFolder);
        fs::create_directory_symlink(std::string(QUELL_OUTPUT_DIR) + "/data", m_programFolder + "data");
        SetTestDevices({Camera("Cam"), Microphone("Mic")});
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=録音なし\nWIDTH=320\nHEIGHT=240\nFRAMERATE=333333\n";
    }

    void TearDown() override
    {
        if (m_mounted)
            ::umount2(m_places.videoFolder.c_str(), MNT_DETACH);
        // The window made its program folder the current directory.
        if (::chdir(QUELL_OUTPUT_DIR) != 0)
            ADD_FAILURE() << "chdir";
    }

    std::vector<std::string> Recordings() const
    {
        std::vector<std::string> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_places.videoFolder, error))
            if (entry.path().extension() == ".avi")
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }

    QTemporaryDir m_dir;
    std::string m_programFolder;
    StoragePlaces m_places;
    CScriptedPrompts m_prompts;
    bool m_mounted = false;
};

// SIGINT (Ctrl+C in the terminal) while recording closes the window as its
// close button does: the file is complete and plays.
TEST_F(WindowFaultsTest, SigintWhileRecordingCompletesTheFile)
{
    auto window = std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
    CSignalCloser closer([&window] { window->close(); });
    ASSERT_TRUE(window->Initialise());
    window->OnCommand(kCmdRecordStart);
    Pump(1500ms);
    std::raise(SIGINT);
    EXPECT_TRUE(PumpUntil([&] { return !window->isVisible(); }, 10s));
    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    const AviContents avi = ProbeAvi(files[0]);
    EXPECT_TRUE(avi.valid && avi.finished);
    EXPECT_GT(avi.videoFrames, 20);
    EXPECT_TRUE(m_prompts.messages.empty());
}

// A full disk through the window: the window leaves recording, its picture
// goes on, and the start command records again once there is room.
TEST_F(WindowFaultsTest, FullDiskLeavesRecordingAndTheStartCommandRecordsAgain)
{
    fs::create_directories(m_places.videoFolder);
    if (::mount("tmpfs", m_places.videoFolder.c_str(), "tmpfs", 0, "size=6m") != 0)
        GTEST_SKIP() << "mounting a tmpfs was refused: " << std::strerror(errno);
    m_mounted = true;
    auto window = std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
    ASSERT_TRUE(window->Initialise());
    window->OnCommand(kCmdRecordStart);
    ASSERT_TRUE(window->Recording());
    ASSERT_TRUE(PumpUntil([&] { return !m_prompts.messages.empty(); }));
    EXPECT_TRUE(StartsWith(m_prompts.messages[0], std::string(kFileLost) + "\n")) << m_prompts.messages[0];
    EXPECT_FALSE(window->Recording());
    EXPECT_EQ(window->windowTitle().toStdString(), "Quellvisor - Cam (320x240) :  ");
    const std::uint64_t shown = window->Video().FramesShown();
    EXPECT_TRUE(PumpUntil([&] { return window->Video().FramesShown() > shown + 10; }));
    const std::vector<std::string> first = Recordings();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(ProbeAvi(first[0]).finished);

    // Room again: the start command is not taken for a running recording.
    ASSERT_EQ(::mount("tmpfs", m_places.videoFolder.c_str(), "tmpfs", MS_REMOUNT, "size=64m"), 0);
    m_prompts.messages.clear();
    window->OnCommand(kCmdRecordStart);
    EXPECT_TRUE(window->Recording());
    Pump(1000ms);
    window->OnCommand(kCmdRecordStop);
    EXPECT_TRUE(m_prompts.messages.empty());
    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& file : files) {
        const AviContents avi = ProbeAvi(file);
        EXPECT_TRUE(avi.valid && avi.finished) << file;
        EXPECT_GT(avi.videoFrames, 10) << file;
    }
    window->close();
}

// The sound input goes while the window records with sound, another one
// still there: the window leaves recording and shows its picture again
// without asking for a sound input.
TEST_F(WindowFaultsTest, SoundInputGoneLeavesRecordingWithoutAQuestion)
{
    SetTestDevices({Camera("Cam"), Microphone("Mic"), Microphone("Other Mic")});
    {
        std::ofstream ini(m_places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=Mic\nWIDTH=320\nHEIGHT=240\nFRAMERATE=333333\n";
    }
    auto window = std::make_unique<CCaptureDlg>(m_programFolder, m_places, &m_prompts);
    ASSERT_TRUE(window->Initialise());
    window->OnCommand(kCmdRecordStart);
    Pump(1000ms);
    CFailure failure;
    GstRef<GstElement> microphone(gst_bin_get_by_name(GST_BIN(window->Graph().Pipeline()), "Audio Capture"));
    ASSERT_TRUE(microphone);
    failure.Attach(microphone.get(), true);
    microphone.reset();
    ASSERT_TRUE(RemoveTestDevice("Mic"));
    const int dialogs = m_prompts.dialogs;
    failure.armed = true;

    ASSERT_TRUE(PumpUntil([&] { return !m_prompts.messages.empty(); }));
    EXPECT_TRUE(StartsWith(m_prompts.messages[0], std::string(kAudioLost) + "\n")) << m_prompts.messages[0];
    EXPECT_FALSE(window->Recording());
    EXPECT_EQ(m_prompts.dialogs, dialogs);
    const std::uint64_t shown = window->Video().FramesShown();
    EXPECT_TRUE(PumpUntil([&] { return window->Video().FramesShown() > shown + 10; }));
    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    const AviContents avi = ProbeAvi(files[0]);
    EXPECT_TRUE(avi.valid && avi.finished);
    EXPECT_GT(avi.audioBuffers, 0);
    window->close();
}

}  // namespace
}  // namespace quell

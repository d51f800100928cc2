// Whole pipelines on a moving-face MJPEG clip: the decode chain with identity,
// quellfx (also following the stream's clock, row quellfx-stream, on request)
// or the stock face detector in the middle, at four frame sizes,
// timed once on a quiet machine and once while a busy loop holds one core.
//
//   bench_pipelines [frames] [--peer-frames N] [--repeats N] [--sizes WxH,...]
//                   [--elements a,b,...] [--load quiet|busy|both] [--plugin-dir DIR] [--data-dir DIR]
//                   [--opencv-threads N]
//
// Every row decodes the same clip and converts it once, into the format its
// element takes (BGRx for identity and quellfx, RGB for facedetect), then
// passes a final videoconvert that has nothing left to do:
//
//   filesrc ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=F ! X ! videoconvert ! fakesink sync=false
//
// ms/frame is the time between the first and the last frame reaching the
// sink, over the frames between them; the run time adds start-up and
// teardown. cpu ms/frame is the whole process's user and system time over
// the run, divided by the frames: it shows work done on other threads.
// facedetect searches every whole frame and costs tens of times more, so its
// row runs on the clip's first --peer-frames frames only (same motion).
// The CPU time other processes took during each table is printed with it:
// a table taken while the machine was not quiet says so.
// --opencv-threads N sets OpenCV's thread count for the whole process first,
// as an application may: it shows what the element's parallel loops cost.
#include "support/Scene.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <opencv2/core/utility.hpp>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#ifndef QUELL_BENCH_CLIP_DIR
#error "QUELL_BENCH_CLIP_DIR must name the folder that caches the clips"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFps = 30;
// Targets for quellfx's extra cost over identity at 1920x1080, as a share of
// identity's own time per frame.
constexpr double kQuietTarget = 0.3;
constexpr double kBusyTarget = 0.6;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Options {
    int frames = 480;
    int peerFrames = 30;
    int repeats = 3;
    std::vector<cv::Size> sizes{{640, 480}, {1280, 720}, {1920, 1080}, {3840, 2160}};
    std::vector<std::string> elements{"identity", "quellfx", "facedetect"};
    bool quiet = true;
    bool busy = true;
    fs::path pluginDir;
    fs::path dataDir;
    std::optional<int> opencvThreads;
};

std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::optional<Options> ParseOptions(int argc, char** argv)
{
    Options o;
    o.pluginDir = fs::canonical("/proc/self/exe").parent_path();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--peer-frames" && hasValue) {
            o.peerFrames = std::max(10, std::atoi(argv[++i]));
        } else if (arg == "--repeats" && hasValue) {
            o.repeats = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--sizes" && hasValue) {
            o.sizes.clear();
            for (const std::string& s : SplitCommas(argv[++i])) {
                int w = 0, h = 0;
                if (std::sscanf(s.c_str(), "%dx%d", &w, &h) != 2 || w < 64 || h < 64)
                    return std::nullopt;
                o.sizes.emplace_back(w, h);
            }
        } else if (arg == "--elements" && hasValue) {
            o.elements = SplitCommas(argv[++i]);
        } else if (arg == "--load" && hasValue) {
            const std::string load = argv[++i];
            o.quiet = load == "quiet" || load == "both";
            o.busy = load == "busy" || load == "both";
        } else if (arg == "--plugin-dir" && hasValue) {
            o.pluginDir = fs::absolute(argv[++i]);
        } else if (arg == "--opencv-threads" && hasValue) {
            o.opencvThreads = std::atoi(argv[++i]);
        } else if (arg == "--data-dir" && hasValue) {
            o.dataDir = fs::absolute(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            o.frames = std::max(30, std::atoi(arg.c_str()));
        } else {
            return std::nullopt;
        }
    }
    o.peerFrames = std::min(o.peerFrames, o.frames);
    if (o.dataDir.empty())
        o.dataDir = o.pluginDir / "data";
    if (o.sizes.empty() || o.elements.empty() || (!o.quiet && !o.busy))
        return std::nullopt;
    return o;
}

// ---- The clip -------------------------------------------------------------

// The photograph is 0.95 of the frame height tall, so that the face is about
// a fifth of it, as in front of a webcam, and the detector finds it on the
// reduced copy at every size.
constexpr double kPictureHeight = 0.95;

// Where the photograph sits in frame `i`: it sweeps from the left edge to the
// right one and back every 8 seconds and bobs a little, so that the tracker
// always has motion.
cv::Point2d Placement(cv::Size size, double scale, int i)
{
    const double phase = (i % (8 * kFps)) / (8.0 * kFps);
    const double sweep = phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase;
    const double span = std::max(0.0, size.width - 512.0 * scale);
    return {span * sweep, size.height * (0.025 + 0.02 * std::sin(2.0 * CV_PI * i / (2.0 * kFps)))};
}

GstElement* ParsePipeline(const std::string& description)
{
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (error) {
        std::fprintf(stderr, "cannot build \"%s\": %s\n", description.c_str(), error->message);
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        return nullptr;
    }
    return pipeline;
}

// Waits for the end of the stream or an error; `tick` runs about every 100 ms
// meanwhile. Other messages are dropped as they are popped.
bool WaitForEnd(GstElement* pipeline, const std::function<void()>& tick = {})
{
    GstBus* bus = gst_element_get_bus(pipeline);
    bool ok = false;
    for (;;) {
        GstMessage* msg = gst_bus_timed_pop_filtered(
            bus, 100 * GST_MSECOND,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR | GST_MESSAGE_WARNING));
        if (tick)
            tick();
        if (!msg)
            continue;
        const GstMessageType type = GST_MESSAGE_TYPE(msg);
        if (type == GST_MESSAGE_EOS) {
            ok = true;
        } else {
            GError* error = nullptr;
            gchar* detail = nullptr;
            if (type == GST_MESSAGE_ERROR)
                gst_message_parse_error(msg, &error, &detail);
            else
                gst_message_parse_warning(msg, &error, &detail);
            std::fprintf(stderr, "%s from %s: %s (%s)\n", type == GST_MESSAGE_ERROR ? "error" : "warning",
                         GST_OBJECT_NAME(GST_MESSAGE_SRC(msg)), error ? error->message : "?", detail ? detail : "");
            g_clear_error(&error);
            g_free(detail);
        }
        gst_message_unref(msg);
        if (type != GST_MESSAGE_WARNING)
            break;
    }
    gst_object_unref(bus);
    return ok;
}

// Renders and encodes the clip into `path`, through a temporary file so that
// an interrupted run leaves no half clip in the cache.
bool MakeClip(const quell::test::Scene& scene, cv::Size size, int frames, const fs::path& path)
{
    const fs::path partial = path.string() + ".part";
    const std::string description = "appsrc name=src format=time block=true max-bytes=" +
                                    std::to_string(4 * size.area() * 4) +
                                    " ! queue ! videoconvert ! video/x-raw,format=I420 ! jpegenc quality=85"
                                    " ! avimux ! filesink location=\"" +
                                    partial.string() + "\"";
    GstElement* pipeline = ParsePipeline(description);
    if (!pipeline)
        return false;
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width", G_TYPE_INT,
                                        size.width, "height", G_TYPE_INT, size.height, "framerate",
                                        GST_TYPE_FRACTION, kFps, 1, nullptr);
    g_object_set(src, "caps", caps, nullptr);
    gst_caps_unref(caps);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    const double scale = kPictureHeight * size.height / 512.0;
    bool pushed = true;
    for (int i = 0; i < frames && pushed; ++i) {
        const cv::Point2d at = Placement(size, scale, i);
        const cv::Mat frame = scene.Render(size, scale, at.x, at.y);
        const size_t bytes = frame.total() * frame.elemSize();
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes, nullptr);
        gst_buffer_fill(buffer, 0, frame.data, bytes);
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(i, GST_SECOND, kFps);
        GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, kFps);
        pushed = gst_app_src_push_buffer(GST_APP_SRC(src), buffer) == GST_FLOW_OK;
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    const bool ok = pushed && WaitForEnd(pipeline);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    std::error_code ec;
    if (ok)
        fs::rename(partial, path, ec);
    else
        fs::remove(partial, ec);
    return ok && !ec;
}

// ---- One timed run --------------------------------------------------------

struct RunResult {
    bool ok = false;
    int frames = 0;
    double runS = 0;  // PLAYING requested to end of stream
    double msPerFrame = 0;  // first to last frame at the sink
    double cpuMsPerFrame = 0;
    int threads = 0;  // most threads seen in the process during the run
};

struct SinkProbe {
    std::atomic<int> frames{0};
    std::atomic<int64_t> firstNs{0};
    std::atomic<int64_t> lastNs{0};
};

GstPadProbeReturn OnSinkBuffer(GstPad*, GstPadProbeInfo*, gpointer data)
{
    auto* probe = static_cast<SinkProbe*>(data);
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    if (probe->frames.fetch_add(1) == 0)
        probe->firstNs.store(now);
    probe->lastNs.store(now);
    return GST_PAD_PROBE_OK;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int ThreadCount()
{
    std::error_code ec;
    int n = 0;
    for (fs::directory_iterator it("/proc/self/task", ec), end; !ec && it != end; it.increment(ec))
        ++n;
    return n;
}

struct Row {
    std::string element;
    std::string format;  // what the decoder's output is converted to
    std::string middle;  // the element under test, as a launch description
    bool peer = false;  // runs on the short clip
};

std::optional<Row> RowFor(const std::string& element)
{
    if (element == "identity")
        return Row{element, "BGRx", "identity"};
    if (element == "quellfx")
        return Row{element, "BGRx", "quellfx name=fx"};
    // Following the stream's clock: the frame step waits for each detection
    // pass it hands over.
    if (element == "quellfx-stream")
        return Row{element, "BGRx", "quellfx name=fx clock=stream seed=1"};
    if (element == "facedetect")
        return Row{element, "RGB", "facedetect", true};
    return std::nullopt;
}

RunResult RunOnce(const fs::path& clip, int frames, const Row& row, const Options& options)
{
    const std::string description = "filesrc location=\"" + clip.string() +
                                    "\" ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=" + row.format +
                                    " ! " + row.middle + " ! videoconvert ! fakesink name=sink sync=false";
    RunResult result;
    GstElement* pipeline = ParsePipeline(description);
    if (!pipeline)
        return result;
    if (GstElement* fx = gst_bin_get_by_name(GST_BIN(pipeline), "fx")) {
        g_object_set(fx, "data-dir", options.dataDir.c_str(), nullptr);
        gst_object_unref(fx);
    }
    SinkProbe probe;
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &OnSinkBuffer, &probe, nullptr);
    gst_object_unref(pad);
    gst_object_unref(sink);

    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    int threads = 0;
    result.ok = WaitForEnd(pipeline, [&] { threads = std::max(threads, ThreadCount()); });
    const auto end = Clock::now();
    const double cpu1 = CpuSeconds();
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);

    result.frames = probe.frames.load();
    result.runS = Seconds(end - start);
    if (result.frames > 1)
        result.msPerFrame = (probe.lastNs.load() - probe.firstNs.load()) / 1e6 / (result.frames - 1);
    result.cpuMsPerFrame = result.frames > 0 ? (cpu1 - cpu0) * 1e3 / result.frames : 0;
    result.threads = threads;
    result.ok = result.ok && result.frames == frames;
    return result;
}

// ---- Load -----------------------------------------------------------------

// A child process that spins on one core until it is killed; it dies with
// this program too.
pid_t StartBusyLoop()
{
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        volatile unsigned long n = 0;
        for (;;)
            n = n + 1;
    }
    return pid;
}

void StopBusyLoop(pid_t pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// CPU seconds the whole machine has spent outside idle so far.
double MachineBusySeconds()
{
    std::ifstream in("/proc/stat");
    std::string cpu;
    in >> cpu;
    double total = 0, idle = 0;
    for (int i = 0; i < 8; ++i) {
        double v = 0;
        in >> v;
        total += v;
        if (i == 3 || i == 4)  // idle, iowait
            idle += v;
    }
    return (total - idle) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ChildCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time of every other process over an interval: what this program and
// its busy loop took is left out.
class OthersMeter {
public:
    OthersMeter() : m_start(Clock::now()), m_machine(MachineBusySeconds()), m_own(CpuSeconds() + ChildCpuSeconds()) {}

    // Call after the busy loop, if any, has been reaped.
    void Print() const
    {
        const double wall = Seconds(Clock::now() - m_start);
        const double others = (MachineBusySeconds() - m_machine) - (CpuSeconds() + ChildCpuSeconds() - m_own);
        std::printf("other processes took %.1f CPU s over these %.0f s (%.0f%% of one core)%s\n", others, wall,
                    100.0 * others / wall, others > 0.05 * wall ? ": figures disturbed" : "");
    }

private:
    Clock::time_point m_start;
    double m_machine;
    double m_own;
};

// ---- The table ------------------------------------------------------------

struct Cell {
    RunResult median;
    bool ok = false;
};

using Table = std::map<std::pair<int, std::string>, Cell>;  // (size index, element)

struct Clip {
    fs::path full;  // options.frames frames
    fs::path peer;  // options.peerFrames frames
};

Table Measure(const Options& options, const std::vector<Clip>& clips)
{
    std::vector<std::vector<std::vector<RunResult>>> runs(
        options.sizes.size(), std::vector<std::vector<RunResult>>(options.elements.size()));
    // Repeats go round every row in turn, so that a slow moment of the
    // machine lands on all rows alike rather than on one.
    for (int r = 0; r < options.repeats; ++r)
        for (size_t s = 0; s < options.sizes.size(); ++s)
            for (size_t e = 0; e < options.elements.size(); ++e) {
                const Row row = *RowFor(options.elements[e]);
                runs[s][e].push_back(row.peer ? RunOnce(clips[s].peer, options.peerFrames, row, options)
                                              : RunOnce(clips[s].full, options.frames, row, options));
            }

    Table table;
    for (size_t s = 0; s < options.sizes.size(); ++s) {
        for (size_t e = 0; e < options.elements.size(); ++e) {
            const auto& all = runs[s][e];
            auto pick = [&](auto field) {
                std::vector<double> v;
                for (const RunResult& run : all)
                    v.push_back(field(run));
                return Median(v);
            };
            Cell cell;
            cell.ok = std::all_of(all.begin(), all.end(), [](const RunResult& run) { return run.ok; });
            cell.median.frames = all.front().frames;
            cell.median.runS = pick([](const RunResult& run) { return run.runS; });
            cell.median.msPerFrame = pick([](const RunResult& run) { return run.msPerFrame; });
            cell.median.cpuMsPerFrame = pick([](const RunResult& run) { return run.cpuMsPerFrame; });
            cell.median.threads = static_cast<int>(pick([](const RunResult& run) { return run.threads; }));
            table[{static_cast<int>(s), options.elements[e]}] = cell;
        }
    }
    return table;
}

void PrintTable(const char* title, const Options& options, const Table& table, double target)
{
    std::printf("\n%s; median of %d runs of %d frames (facedetect: %d)\n", title, options.repeats, options.frames,
                options.peerFrames);
    std::printf("%-10s %-14s %8s %9s %8s %11s %9s %8s\n", "size", "element", "run s", "ms/frame", "fps",
                "extra/id", "cpu ms/f", "threads");
    for (size_t s = 0; s < options.sizes.size(); ++s) {
        const cv::Size size = options.sizes[s];
        const auto base = table.find({static_cast<int>(s), "identity"});
        for (const std::string& element : options.elements) {
            const Cell& cell = table.at({static_cast<int>(s), element});
            const RunResult& m = cell.median;
            char extra[32] = "";
            if (base != table.end() && element != "identity" && base->second.median.msPerFrame > 0)
                std::snprintf(extra, sizeof extra, "%.2f",
                              (m.msPerFrame - base->second.median.msPerFrame) / base->second.median.msPerFrame);
            std::printf("%4dx%-5d %-14s %8.2f %9.2f %8.1f %11s %9.2f %8d%s\n", size.width, size.height,
                        element.c_str(), m.runS, m.msPerFrame, m.msPerFrame > 0 ? 1000.0 / m.msPerFrame : 0.0,
                        extra, m.cpuMsPerFrame, m.threads, cell.ok ? "" : "  (failed or short)");
        }
    }
    for (size_t s = 0; s < options.sizes.size(); ++s) {
        if (options.sizes[s] != cv::Size(1920, 1080))
            continue;
        const auto base = table.find({static_cast<int>(s), "identity"});
        const auto fx = table.find({static_cast<int>(s), "quellfx"});
        if (base == table.end() || fx == table.end() || base->second.median.msPerFrame <= 0)
            continue;
        const double id = base->second.median.msPerFrame;
        const double ratio = (fx->second.median.msPerFrame - id) / id;
        std::printf("1920x1080 quellfx extra over identity: %.2f x identity's %.2f ms (target at most %.2f): %s\n",
                    ratio, id, target, ratio <= target ? "met" : "missed");
    }
}

// Sounds would go to the machine's audio output: a sink that emulates a
// device's timing without one takes precedence in automatic selection.
const char* SilenceSounds()
{
    GstPluginFeature* fake = gst_registry_lookup_feature(gst_registry_get(), "fakeaudiosink");
    if (!fake)
        return "default audio output (fakeaudiosink not installed)";
    gst_plugin_feature_set_rank(fake, GST_RANK_PRIMARY + 100);
    gst_object_unref(fake);
    return "fakeaudiosink (ranked first for autoaudiosink)";
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<Options> parsed = ParseOptions(argc, argv);
    if (!parsed) {
        std::fprintf(stderr,
                     "usage: %s [frames] [--repeats N] [--sizes WxH,...]\n"
                     "          [--elements identity,quellfx,quellfx-stream,facedetect] [--load quiet|busy|both]\n"
                     "          [--plugin-dir DIR] [--data-dir DIR] [--opencv-threads N]\n",
                     argv[0]);
        return 2;
    }
    const Options& options = *parsed;
    for (const std::string& element : options.elements) {
        if (!RowFor(element)) {
            std::fprintf(stderr, "unknown element row %s\n", element.c_str());
            return 2;
        }
    }

    if (options.opencvThreads)
        cv::setNumThreads(*options.opencvThreads);
    const fs::path clipDir = QUELL_BENCH_CLIP_DIR;
    std::error_code ec;
    fs::create_directories(clipDir, ec);
    // A registry of this program's own, one per plugin folder, so that the
    // build's plugin never lands in the user's registry and two builds of it
    // never meet in one.
    const fs::path registry =
        clipDir / ("registry-" + std::to_string(std::hash<std::string>{}(options.pluginDir.string())) + ".bin");
    setenv("GST_REGISTRY", registry.c_str(), 0);
    gst_init(&argc, &argv);
    gst_registry_scan_path(gst_registry_get(), options.pluginDir.c_str());
    if (GstPluginFeature* fx = gst_registry_lookup_feature(gst_registry_get(), "quellfx")) {
        gst_object_unref(fx);
    } else if (std::find(options.elements.begin(), options.elements.end(), "quellfx") != options.elements.end()) {
        std::fprintf(stderr, "no quellfx plugin in %s\n", options.pluginDir.c_str());
        return 1;
    }
    const char* audio = SilenceSounds();

    quell::test::Scene scene;
    if (!scene.Valid()) {
        std::fprintf(stderr, "cannot read the test photograph\n");
        return 1;
    }
    auto cached = [&](cv::Size size, int frames) -> fs::path {
        const fs::path clip = clipDir / ("astronaut-" + std::to_string(size.width) + "x" + std::to_string(size.height) +
                                         "-" + std::to_string(frames) + ".avi");
        if (fs::exists(clip))
            return clip;
        std::fprintf(stderr, "making %s\n", clip.c_str());
        return MakeClip(scene, size, frames, clip) ? clip : fs::path();
    };
    const bool peer = std::find(options.elements.begin(), options.elements.end(), "facedetect") !=
                      options.elements.end();
    std::vector<Clip> clips;
    for (const cv::Size size : options.sizes) {
        Clip clip{cached(size, options.frames), peer ? cached(size, options.peerFrames) : fs::path()};
        if (clip.full.empty() || (peer && clip.peer.empty())) {
            std::fprintf(stderr, "cannot make the %dx%d clip\n", size.width, size.height);
            return 1;
        }
        clips.push_back(clip);
    }

    std::printf("pipelines: filesrc ! avidemux ! jpegdec ! videoconvert ! video/x-raw,format=F ! X ! videoconvert "
                "! fakesink sync=false\n");
    std::printf("  identity: F=BGRx X=identity; quellfx: F=BGRx X=quellfx; quellfx-stream: F=BGRx X=quellfx "
                "clock=stream seed=1; facedetect: F=RGB X=facedetect (its defaults)\n");
    std::printf("quellfx from %s, data-dir %s; sounds to %s\n", options.pluginDir.c_str(), options.dataDir.c_str(),
                audio);
    std::printf("%ld cores online; OpenCV threads %d; clips in %s\n", sysconf(_SC_NPROCESSORS_ONLN),
                cv::getNumThreads(), clipDir.c_str());

    if (options.quiet) {
        const OthersMeter others;
        const Table quiet = Measure(options, clips);
        PrintTable("quiet", options, quiet, kQuietTarget);
        others.Print();
    }
    if (options.busy) {
        const OthersMeter others;
        const pid_t busy = StartBusyLoop();
        if (busy < 0) {
            std::perror("fork");
            return 1;
        }
        const Table loaded = Measure(options, clips);
        StopBusyLoop(busy);
        PrintTable("one core busy (a busy-loop child process)", options, loaded, kBusyTarget);
        others.Print();
    }
    return 0;
}

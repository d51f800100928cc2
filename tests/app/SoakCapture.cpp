// A soak run of the main window on the test suite's camera: recordings and
// previews in turns for a while (ten minutes unless told), with the
// process's resident memory, heap, threads and descriptors sampled as it
// goes and every file read back (frames in the file against frames pushed
// and frames shown). Not a CI test: scripts/soak builds and runs it.
//
//   soak_capture [--seconds N] [--record N] [--preview N] [--width W --height H] [--sound]
//
// Exits with 1 when a file does not play to its end with every frame, when
// the resident size after warm-up strays more than 5 % from its value at
// the end of the warm-up, or when threads or descriptors are left behind.
#include "filter/gstquellfx.h"
#include "shell/CaptureDlg.h"
#include "shell/Commands.h"
#include "shell/VideoWidget.h"
#include "support/AviCheck.h"
#include "support/PrivateHome.h"
#include "support/TestDeviceProvider.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gst/gst.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <malloc.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Options {
    int seconds = 600;
    int record = 30;
    int preview = 10;
    // malloc's per-thread arenas grow over the first dozen rebuilds (each
    // starts new streaming threads) and then level off; the warm-up covers
    // them. Unless told: half the run, at most five minutes.
    int warmUp = 0;
    int width = 320;
    int height = 240;
    bool sound = false;
};

struct Sample {
    double seconds = 0;
    long residentKb = 0;
    std::size_t heapKb = 0;
    int threads = 0;
    int fds = 0;
    bool recording = false;
};

int CountEntries(const char* folder)
{
    std::error_code error;
    int count = 0;
    for (auto it = fs::directory_iterator(folder, error); !error && it != fs::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

Sample Measure(double seconds, bool recording)
{
    Sample sample;
    sample.seconds = seconds;
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    sample.residentKb = resident * (::sysconf(_SC_PAGESIZE) / 1024);
    const struct mallinfo2 heap = mallinfo2();
    sample.heapKb = (heap.uordblks + heap.hblkhd) / 1024;
    sample.threads = CountEntries("/proc/self/task");
    sample.fds = CountEntries("/proc/self/fd");
    sample.recording = recording;
    return sample;
}

class CSilentPrompts : public quell::IPrompts {
public:
    void ShowMessage(const std::string& text) override
    {
        std::printf("message: %s\n", text.c_str());
        ++messages;
    }
    bool AskYesNo(const std::string&) override { return false; }
    bool RunDeviceDialog(const std::vector<std::string>&, int initial, bool, int& selection) override
    {
        selection = initial;
        return true;
    }
    int messages = 0;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto number = [&](int& value) {
            if (i + 1 >= argc)
                return false;
            value = std::atoi(argv[++i]);
            return value > 0;
        };
        bool ok = true;
        if (arg == "--seconds")
            ok = number(options.seconds);
        else if (arg == "--record")
            ok = number(options.record);
        else if (arg == "--preview")
            ok = number(options.preview);
        else if (arg == "--warm-up")
            ok = number(options.warmUp);
        else if (arg == "--width")
            ok = number(options.width);
        else if (arg == "--height")
            ok = number(options.height);
        else if (arg == "--sound")
            options.sound = true;
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr,
                         "usage: soak_capture [--seconds N] [--record N] [--preview N] [--warm-up N] "
                         "[--width W --height H] [--sound]\n");
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options))
        return 2;
    if (options.warmUp == 0)
        options.warmUp = std::min(300, options.seconds / 2);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    quell::test::CPrivateHome home("/tmp/quell-soak-home-XXXXXX");
    if (!home.Ok())
        return 2;
    gst_init(&argc, &argv);
    if (!GST_ELEMENT_REGISTER(quellfx, nullptr) || !quell::test::RegisterTestDeviceProvider())
        return 2;
    quell::test::HideOtherDeviceProviders();
    QApplication app(argc, argv);

    using namespace quell;
    using namespace quell::test;
    QTemporaryDir dir;
    StoragePlaces places;
    places.settingsFile = dir.filePath("setup.ini").toStdString();
    places.videoFolder = dir.filePath("video").toStdString();
    const std::string programFolder = dir.filePath("program").toStdString() + "/";
    fs::create_directories(programFolder);
    fs::create_directory_symlink(std::string(QUELL_OUTPUT_DIR) + "/data", programFolder + "data");
    const std::string caps = "video/x-raw,format=YUY2,width=" + std::to_string(options.width) +
                             ",height=" + std::to_string(options.height) + ",framerate=30/1";
    TestDevice camera = Camera("Cam", kPatternBall);
    camera.caps = caps;
    SetTestDevices({camera, Microphone("Mic")});
    {
        std::ofstream ini(places.settingsFile);
        ini << "[DEVICE]\nCAM_SELECT=Cam\nAUDIO_SELECT=" << (options.sound ? "Mic" : kNoAudioName)
            << "\nWIDTH=" << options.width << "\nHEIGHT=" << options.height << "\nFRAMERATE=333333\n";
    }

    CSilentPrompts prompts;
    auto window = std::make_unique<CCaptureDlg>(programFolder, places, &prompts);
    if (!window->Initialise())
        return 1;

    QElapsedTimer clock;
    clock.start();
    const auto elapsed = [&] { return static_cast<double>(clock.elapsed()) / 1000.0; };
    const auto pump = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    std::vector<Sample> samples;
    const auto sampleFor = [&](int seconds) {
        const double end = elapsed() + seconds;
        while (elapsed() < end && elapsed() < options.seconds) {
            pump(std::min(1000, static_cast<int>((end - elapsed()) * 1000) + 1));
            if (samples.empty() || elapsed() - samples.back().seconds >= 10)
                samples.push_back(Measure(elapsed(), window->Recording()));
        }
    };

    std::printf("soak: %d s, recording %d s and preview %d s in turns, %dx%d%s, warm-up %d s\n", options.seconds,
                options.record, options.preview, options.width, options.height, options.sound ? " with sound" : "",
                options.warmUp);
    std::printf("%8s %10s %10s %8s %4s %s\n", "seconds", "rss kB", "heap kB", "threads", "fds", "state");
    std::size_t printed = 0;
    const auto printSamples = [&] {
        for (; printed < samples.size(); ++printed) {
            const Sample& s = samples[printed];
            std::printf("%8.0f %10ld %10zu %8d %4d %s\n", s.seconds, s.residentKb, s.heapKb, s.threads, s.fds,
                        s.recording ? "recording" : "preview");
        }
        std::fflush(stdout);
    };

    bool filesOk = true;
    int files = 0;
    while (elapsed() < options.seconds) {
        const std::uint64_t shownBefore = window->Video().FramesShown();
        window->OnCommand(kCmdRecordStart);
        sampleFor(options.record);
        window->OnCommand(kCmdRecordStop);
        const std::uint64_t shown = window->Video().FramesShown() - shownBefore;
        const CCaptureGraph::RecordingStats stats = window->Graph().LastRecording();
        printSamples();
        if (!stats.path.empty()) {
            // Read back by streaming through it: a whole-file read would
            // swell the very figures this run watches.
            int parts = 0;
            bool superIndex = false;
            const bool whole = AviStructureOk(stats.path, parts, superIndex);
            const Decoded avi = DecodeAvi(stats.path);
            const bool ok = whole && avi.ok && stats.completed &&
                            avi.videoFrames == static_cast<int>(stats.framesWritten) &&
                            stats.framesWritten == stats.cameraFrames;
            filesOk = filesOk && ok;
            ++files;
            std::printf("file %d: camera %llu, pushed %llu, written %llu, in the file %d (%s), shown %llu, "
                        "sound buffers %d\n",
                        files, static_cast<unsigned long long>(stats.cameraFrames),
                        static_cast<unsigned long long>(stats.framesPushed),
                        static_cast<unsigned long long>(stats.framesWritten), avi.videoFrames,
                        ok ? "plays to its end" : "INCOMPLETE", static_cast<unsigned long long>(shown),
                        avi.audioBuffers);
            std::error_code ignored;
            fs::remove(stats.path, ignored);
        }
        sampleFor(options.preview);
        printSamples();
    }
    // Threads of GStreamer's pools end a little after their last task.
    pump(2000);
    samples.push_back(Measure(elapsed(), window->Recording()));
    printSamples();
    window->close();
    window.reset();

    // Flat: after the warm-up the resident size stays within 5 % of its
    // value when the warm-up ended.
    const auto warm = std::find_if(samples.begin(), samples.end(),
                                   [&](const Sample& s) { return s.seconds >= options.warmUp; });
    bool flat = true;
    long low = 0, high = 0;
    if (warm != samples.end()) {
        low = high = warm->residentKb;
        for (auto it = warm; it != samples.end(); ++it) {
            low = std::min(low, it->residentKb);
            high = std::max(high, it->residentKb);
        }
        flat = high <= warm->residentKb * 105 / 100 && low >= warm->residentKb * 95 / 100;
        std::printf("resident after warm-up: %ld kB, then %ld .. %ld kB (%+.1f %% .. %+.1f %%): %s\n",
                    warm->residentKb, low, high, 100.0 * (low - warm->residentKb) / warm->residentKb,
                    100.0 * (high - warm->residentKb) / warm->residentKb, flat ? "flat" : "NOT FLAT");
    }
    const Sample first = samples.front();
    const Sample last = samples.back();
    std::printf("threads %d at the first sample, %d at the end; descriptors %d, %d; heap in use %zu kB, %zu kB\n",
                first.threads, last.threads, first.fds, last.fds, first.heapKb, last.heapKb);
    std::printf("%d files, %s; %d messages\n", files, filesOk ? "each plays to its end with every frame" : "NOT ALL COMPLETE",
                prompts.messages);
    const bool ok = filesOk && flat && prompts.messages == 0 && last.threads <= first.threads + 2 &&
                    last.fds <= first.fds;
    std::printf("soak %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}

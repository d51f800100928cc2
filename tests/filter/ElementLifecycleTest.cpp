// The element's life in real pipelines: no thread of its own in NULL state,
// state cycles with a face in view that leave threads, descriptors and
// memory as they were, sounds silenced when the stream pauses, problems
// with its data files posted on the bus, bounded work for frames of any
// shape, and properties hammered from three threads while frames flow.
#include "filter/gstquellfx.h"

#include "platform/Clock.h"
#include "support/Frames.h"
#include "support/RecordingSoundPlayer.h"

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace quell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

size_t Entries(const char* dir)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
        ++n;
    return n;
}
size_t Threads() { return Entries("/proc/self/task"); }
size_t Descriptors() { return Entries("/proc/self/fd"); }
long ResidentKb()
{
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// A live picture of the test photograph, the face in view.
std::string FacePipeline(const std::string& fx)
{
    return "filesrc location=" QUELL_TESTDATA_DIR "/astronaut.png ! pngdec ! imagefreeze ! videoconvert ! "
           "videoscale ! video/x-raw,format=BGRx,width=320,height=240,framerate=30/1 ! " +
           fx + " ! fakesink sync=false";
}

class Pipeline {
public:
    explicit Pipeline(const std::string& description)
    {
        GError* error = nullptr;
        m_pipeline = gst_parse_launch(description.c_str(), &error);
        if (error) {
            ADD_FAILURE() << error->message;
            g_clear_error(&error);
        }
        m_bus = m_pipeline ? gst_element_get_bus(m_pipeline) : nullptr;
        // The effect's sounds are recorded, not played: a real playbin
        // brings GStreamer's own decoding threads, which are not what these
        // tests are about (the sound player has tests of its own).
        if (GstElement* fx = m_pipeline ? Get("fx") : nullptr) {
            SetElementPlatformForTesting(fx, nullptr, &m_sound);
            gst_object_unref(fx);
        }
    }
    ~Pipeline()
    {
        if (m_pipeline) {
            gst_element_set_state(m_pipeline, GST_STATE_NULL);
            gst_object_unref(m_bus);
            gst_object_unref(m_pipeline);
        }
    }
    bool Valid() const { return m_pipeline != nullptr; }
    bool Set(GstState state)
    {
        if (gst_element_set_state(m_pipeline, state) == GST_STATE_CHANGE_FAILURE)
            return false;
        return gst_element_get_state(m_pipeline, nullptr, nullptr, 10 * GST_SECOND) == GST_STATE_CHANGE_SUCCESS;
    }
    GstElement* Get(const char* name) { return gst_bin_get_by_name(GST_BIN(m_pipeline), name); }
    // The warnings posted so far, as "domain/code: text".
    std::vector<std::string> Warnings()
    {
        while (GstMessage* message = gst_bus_pop_filtered(m_bus, GST_MESSAGE_WARNING)) {
            GError* error = nullptr;
            gst_message_parse_warning(message, &error, nullptr);
            m_warnings.push_back(std::string(error->domain == GST_RESOURCE_ERROR ? "resource" : "other") + "/" +
                                 std::to_string(error->code) + ": " + error->message);
            g_clear_error(&error);
            gst_message_unref(message);
        }
        return m_warnings;
    }

private:
    RecordingSoundPlayer m_sound;  // outlives the pipeline
    GstElement* m_pipeline = nullptr;
    GstBus* m_bus = nullptr;
    std::vector<std::string> m_warnings;
};

TEST(ElementLifecycle, NoThreadOfItsOwnExistsInNullOrReadyState)
{
    const size_t before = Threads();
    std::vector<GstElement*> elements;
    for (int i = 0; i < 4; ++i) {
        elements.push_back(gst_element_factory_make("quellfx", nullptr));
        ASSERT_NE(elements.back(), nullptr);
        g_object_set(elements.back(), "data-dir", "/nonexistent-quell", "high-score", G_GUINT64_CONSTANT(5), nullptr);
    }
    EXPECT_EQ(Threads(), before) << "made in NULL state";
    for (GstElement* element : elements)
        EXPECT_EQ(gst_element_set_state(element, GST_STATE_READY), GST_STATE_CHANGE_SUCCESS);
    EXPECT_EQ(Threads(), before) << "READY";
    for (GstElement* element : elements) {
        gst_element_set_state(element, GST_STATE_NULL);
        gst_object_unref(element);
    }
}

TEST(ElementLifecycle, StateCyclesWithAFaceInViewLeaveNothingBehind)
{
#ifdef QUELL_SANITIZED
    constexpr int kCycles = 12;  // sanitizers make each start ten times slower
#else
    constexpr int kCycles = 100;
#endif
    Pipeline p(FacePipeline("quellfx name=fx"));
    ASSERT_TRUE(p.Valid());
    auto cycle = [&](GstState low) {
        ASSERT_TRUE(p.Set(GST_STATE_PLAYING));
        std::this_thread::sleep_for(30ms);
        ASSERT_TRUE(p.Set(low));
    };
    // The first cycles make what lives as long as the process: GStreamer's
    // thread pools, font caches, the classifier's code.
    for (int i = 0; i < 3; ++i)
        cycle(GST_STATE_NULL);
    // GStreamer and GLib keep a few idle threads in pools and let them end
    // later; a thread left behind per cycle would pass this slack at once.
    const size_t threads = Threads() + 2;
    const size_t fds = Descriptors();
    const long rss = ResidentKb();
    for (int i = 0; i < kCycles; ++i) {
        cycle(GST_STATE_NULL);
        EXPECT_LE(Threads(), threads) << "after PLAYING -> NULL cycle " << i;
    }
    EXPECT_LE(Descriptors(), fds);
    ASSERT_TRUE(p.Set(GST_STATE_PLAYING));
    for (int i = 0; i < kCycles; ++i)
        cycle(GST_STATE_PAUSED);
    ASSERT_TRUE(p.Set(GST_STATE_NULL));
    EXPECT_LE(Threads(), threads) << "pooled threads may end, none may stay behind";
    EXPECT_LE(Descriptors(), fds);
#ifndef QUELL_SANITIZED  // the sanitizers' shadow memory grows on its own
    EXPECT_LT(ResidentKb() - rss, 16 * 1024) << "resident memory grew by more than 16 MB";
#else
    (void)rss;
#endif
    EXPECT_TRUE(p.Warnings().empty());
}

TEST(ElementLifecycle, BrokenDataFilesArePostedOnTheBusOncePerFile)
{
    const fs::path dir = fs::temp_directory_path() / ("quell-bus-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "special1.dat") << "<?xml version=\"1.0\"?><opencv_storage><cascade>garbage";
    std::ofstream(dir / "special2.dat");  // empty
    std::ofstream(dir / "dsdetect.dat") << "not a cascade";
    std::ofstream(dir / "count.wav");  // empty
    Pipeline p(FacePipeline("quellfx name=fx data-dir=" + dir.string()));
    ASSERT_TRUE(p.Valid());
    ASSERT_TRUE(p.Set(GST_STATE_PLAYING));
    // The worker reads the cascades on its own thread: wait for its verdict.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (p.Warnings().size() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);  // time for any duplicate to arrive
    ASSERT_TRUE(p.Set(GST_STATE_NULL));
    const std::string read = "resource/" + std::to_string(GST_RESOURCE_ERROR_READ) + ": ";
    const std::string notFound = "resource/" + std::to_string(GST_RESOURCE_ERROR_NOT_FOUND) + ": ";
    const std::vector<std::string> expected = {
        read + "Data file \"" + (dir / "count.wav").string() + "\" cannot be used.",
        read + "Data file \"" + (dir / "dsdetect.dat").string() + "\" cannot be used.",
        read + "Data file \"" + (dir / "special1.dat").string() + "\" cannot be used.",
        read + "Data file \"" + (dir / "special2.dat").string() + "\" cannot be used.",
        notFound + "Face detection is off: no face cascade could be loaded.",
    };
    EXPECT_EQ(p.Warnings(), expected);
    fs::remove_all(dir);
}

TEST(ElementLifecycle, LeavingPlayingSilencesTheSounds)
{
    GstHarness* h = gst_harness_new("quellfx");
    ManualClock clock{0};
    RecordingSoundPlayer sound;
    SetElementPlatformForTesting(h->element, &clock, &sound);
    gst_harness_set_src_caps_str(h, "video/x-raw,format=BGRx,width=64,height=48,framerate=30/1");
    gst_buffer_unref(gst_harness_push_and_pull(h, gst_buffer_new_allocate(nullptr, 64 * 48 * 4, nullptr)));
    sound.Clear();
    ASSERT_NE(gst_element_set_state(h->element, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    const auto calls = sound.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].path.empty()) << "a stop request";
    gst_harness_teardown(h);
}

// Frames far from any ordinary shape: the worker's copy stays small, so the
// process stays small and teardown waits for one short pass at most.
TEST(ElementLifecycle, TallOrWideFramesKeepMemoryBounded)
{
    for (const auto& [w, h] : {std::pair{1, 4096}, std::pair{4096, 1}, std::pair{4, 4096}}) {
        rusage before{};
        getrusage(RUSAGE_SELF, &before);
        GstHarness* harness = gst_harness_new("quellfx");
        const std::string caps = "video/x-raw,format=BGRx,width=" + std::to_string(w) +
                                 ",height=" + std::to_string(h) + ",framerate=30/1";
        gst_harness_set_src_caps_str(harness, caps.c_str());
        const cv::Mat frame = test::PatternFrame(w, h, 3);
        for (int i = 0; i < 40; ++i) {
            GstBuffer* buffer = gst_buffer_new_allocate(nullptr, frame.total() * 4, nullptr);
            gst_buffer_fill(buffer, 0, frame.data, frame.total() * 4);
            gst_buffer_unref(gst_harness_push_and_pull(harness, buffer));
            std::this_thread::sleep_for(10ms);  // the worker gets frames to search
        }
        gst_harness_teardown(harness);
        rusage after{};
        getrusage(RUSAGE_SELF, &after);
#ifndef QUELL_SANITIZED  // the sanitizers' own bookkeeping keeps freed memory
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << w << "x" << h << ": peak grew by more than 64 MB";
#else
        (void)before;
        (void)after;
#endif
    }
}

TEST(ElementLifecycle, PropertiesFromThreeThreadsWhileAFaceIsFollowed)
{
    Pipeline p(FacePipeline("quellfx name=fx"));
    ASSERT_TRUE(p.Valid());
    GstElement* fx = p.Get("fx");
    ASSERT_TRUE(p.Set(GST_STATE_PLAYING));
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (!done) {
            g_signal_emit_by_name(fx, "reset-faces");
            std::this_thread::sleep_for(1ms);
        }
    });
    threads.emplace_back([&] {
        for (guint64 i = 0; !done; ++i) {
            g_object_set(fx, "high-score", i << 32 | i, nullptr);
            guint64 high = 0, score = 0;
            g_object_get(fx, "high-score", &high, "score", &score, nullptr);
            EXPECT_EQ(high >> 32, high & 0xffffffffu) << "torn 64-bit value";
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; !done; ++i) {
            g_object_set(fx, "data-dir", i % 2 ? "data" : "/nonexistent-quell", nullptr);
            gchar* dir = nullptr;
            g_object_get(fx, "data-dir", &dir, nullptr);
            EXPECT_TRUE(dir != nullptr);
            g_free(dir);
            std::this_thread::sleep_for(5ms);
        }
    });
    std::this_thread::sleep_for(1500ms);
    done = true;
    for (auto& t : threads)
        t.join();
    ASSERT_TRUE(p.Set(GST_STATE_NULL));
    gst_object_unref(fx);
}

}  // namespace
}  // namespace quell

// End to end through the element: the astronaut photograph sways over a
// 640 x 480 canvas for 15 s of test-clock time while the real detection
// worker finds the face; the frames show the marker with its ray ring, the
// thumbnail, the power count-up and the typed profile. One frame is saved
// as golden-frame.png in the test's output folder for review.
#include "filter/gstquellfx.h"

#include "platform/Clock.h"
#include "support/RecordingSoundPlayer.h"
#include "support/Scene.h"

#include <gst/check/gstharness.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <opencv2/imgcodecs.hpp>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

namespace quell {
namespace {

constexpr int kW = 640;
constexpr int kH = 480;
constexpr int kStepsFor15s = 15000 / 33;

// Counts the pixels of `area` that satisfy `test`.
template <typename Test>
int Count(const cv::Mat& frame, const cv::Rect& area, Test test)
{
    int n = 0;
    for (int y = area.y; y < area.y + area.height; ++y)
        for (int x = area.x; x < area.x + area.width; ++x)
            n += test(frame.at<cv::Vec4b>(y, x)) ? 1 : 0;
    return n;
}

bool IsSight(const cv::Vec4b& p) { return p[0] == 222 && p[1] == 255 && p[2] == 222; }
// The rays are drawn with full red, no blue, and green fading round the ring.
bool IsRay(const cv::Vec4b& p) { return p[2] == 255 && p[0] == 0 && p[1] > 0; }
// Text on the dark green panel: far brighter than the panel can be.
bool IsPanelText(const cv::Vec4b& p) { return p[1] > 150; }

class GoldenFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_scene.Valid()) << "astronaut.png not found in " << QUELL_TESTDATA_DIR;
        m_h = gst_harness_new("quellfx");
        ASSERT_NE(m_h, nullptr);
        // A fixed seed: the same face profile and power on every run.
        SetElementPlatformForTesting(m_h->element, &m_clock, &m_sound, [] { return 1765000000u; });
        g_object_set(m_h->element, "data-dir", QUELL_DATA_DIR, nullptr);
        gst_harness_set_src_caps_str(m_h, "video/x-raw,format=BGRx,width=640,height=480,framerate=30/1");
    }
    void TearDown() override
    {
        if (m_h)
            gst_harness_teardown(m_h);
    }

    // Frame `i` of the clip: the photograph sways slowly left and right and
    // a little up and down, as a person before a camera does.
    cv::Mat Frame(int i) const
    {
        const double x = 170.0 + 60.0 * std::sin(i / 40.0);
        const double y = 20.0 + 12.0 * std::sin(i / 23.0);
        return m_scene.Render(cv::Size(kW, kH), 0.75, x, y);
    }

    // Pushes frame `i`, moves the test clock by one animation step and
    // returns the frame that leaves the element.
    cv::Mat PushPull(int i)
    {
        const cv::Mat in = Frame(i);
        const size_t size = in.total() * in.elemSize();
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size, nullptr);
        gst_buffer_fill(buffer, 0, in.data, size);
        GstBuffer* out = gst_harness_push_and_pull(m_h, buffer);
        m_clock.Advance(kStepMs);
        cv::Mat result(kH, kW, CV_8UC4, cv::Scalar::all(0));
        if (out) {
            gst_buffer_extract(out, 0, result.data, size);
            gst_buffer_unref(out);
        }
        return result;
    }

    bool Played(const std::string& name)
    {
        for (const auto& call : m_sound.Calls())
            if (call.path.ends_with("/" + name))
                return true;
        return false;
    }

    uint64_t Score()
    {
        guint64 score = 0;
        g_object_get(m_h->element, "score", &score, nullptr);
        return score;
    }

    test::Scene m_scene;
    GstHarness* m_h = nullptr;
    ManualClock m_clock{0};
    RecordingSoundPlayer m_sound;
};

TEST_F(GoldenFrameTest, AstronautIsMeasuredWithMarkerRingThumbnailPowerAndProfile)
{
    // The worker runs in real time: give it time until it has placed the
    // face, which the counting sound announces in the face's first frame.
    int i = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Played("count.wav") && std::chrono::steady_clock::now() < deadline) {
        PushPull(i++);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(Played("count.wav")) << "the face was not found";
    EXPECT_FALSE(Played("lost.wav"));

    const cv::Rect upper(0, 40, 600, 330);  // below the score line, above the panel, left of the gauge
    const cv::Rect thumbnail(15, kH - 60 - 15, 60, 60);
    const cv::Rect profile(90, 400, 230, 80);
    int ringFrames = 0;
    uint64_t scoreAt8s = 0;
    cv::Mat out;
    for (int k = 1; k <= kStepsFor15s; ++k) {
        out = PushPull(i++);
        const int ms = k * 33;
        if (ms > 1500 && ms < 4500 && Count(out, upper, IsRay) > 50)
            ++ringFrames;
        if (k == 7500 / 33) {
            // The ring is whole and steady, the count-up is running and the
            // profile is nearly typed out.
            // BGRx: the fourth byte is padding, not opacity, so the picture
            // is saved without it.
            cv::Mat bgr;
            cv::cvtColor(out, bgr, cv::COLOR_BGRA2BGR);
            EXPECT_TRUE(cv::imwrite(QUELL_TEST_OUTPUT_DIR "/golden-frame.png", bgr));
            EXPECT_GT(Count(out, upper, IsSight), 150) << "the sight circles and cross";
            EXPECT_GT(Count(out, upper, IsRay), 300) << "the ray ring";
            cv::Scalar mean, sdev;
            cv::meanStdDev(out(thumbnail), mean, sdev);
            EXPECT_GT(mean[1], 1.6 * mean[0]) << "a green-tinted face in the thumbnail";
            EXPECT_GT(sdev[1], 15.0) << "the thumbnail shows a picture, not a flat area";
            EXPECT_GT(Count(out, profile, IsPanelText), 300) << "the profile text";
        }
        if (k == 8000 / 33)
            scoreAt8s = Score();
    }
    EXPECT_GT(ringFrames, 60) << "the ring fills during the measuring phase";
    EXPECT_FALSE(Played("lost.wav")) << "the face was followed throughout";

    // The count-up starts 5 s after placement; 10 s later the power has
    // grown, or, for the smallest classes, has arrived with its result sound.
    const uint64_t scoreAtEnd = Score();
    bool arrived = false;
    for (const char* name : {"point1.wav", "point2.wav", "point3.wav", "point4.wav", "point5.wav", "point6.wav"})
        arrived = arrived || Played(name);
    EXPECT_TRUE(scoreAtEnd > scoreAt8s || arrived) << scoreAt8s << " -> " << scoreAtEnd;
    EXPECT_TRUE(scoreAtEnd > 0 || Played("point1.wav"));
    EXPECT_GT(Count(out, cv::Rect(400, 450, 230, 30), IsPanelText), 100) << "the power text";
    EXPECT_GT(Count(out, profile, IsPanelText), 500) << "the whole profile";
}

}  // namespace
}  // namespace quell

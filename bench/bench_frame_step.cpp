// Times the whole frame step with the overlay on and one followed face whose
// profile is typed out in full, at three frame sizes, against the floor every
// version of the step pays: a BGRx to grey conversion and a grey to BGRx
// write-back of the same frame, measured in the same run. Also times the
// overlay's parts on their own: the two pixel passes, and the texts with
// the gauge; and one detection pass on the 320-pixel-wide copy, which runs
// on the worker thread, outside the frame step.
//
//   bench_frame_step [frames per size]
#include "filter/HudText.h"
#include "filter/TransEffectFilter.h"
#include "support/FilterAccess.h"
#include "support/FilterRig.h"
#include "support/Scene.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace quell {

// The overlay's steps one by one, on a frame that has just been through the
// frame step.
struct HudTestAccess {
    static double PassesMs(CTransEffectFilter& f, cv::Mat& frame);
    static double TextMs(CTransEffectFilter& f, cv::Mat& frame);
    static size_t ProfileShown(CTransEffectFilter& f)
    {
        return f.m_hud ? f.m_hud->ProfileLayout().Text().size() : 0;
    }
    static size_t ProfileLength(CTransEffectFilter& f) { return f.m_hud ? f.m_hud->ProfileText().size() : 0; }
};

}  // namespace quell

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

}  // namespace

namespace quell {

double HudTestAccess::PassesMs(CTransEffectFilter& f, cv::Mat& frame)
{
    std::lock_guard lock(f.m_faceLock);
    f.m_pFrame = cv::Mat(frame.rows, frame.cols, CV_8UC4, frame.data, frame.step);
    const auto start = Clock::now();
    f.TintPass();
    f.ShadePass();
    const double ms = Ms(Clock::now() - start);
    f.m_pFrame = cv::Mat();
    return ms;
}

double HudTestAccess::TextMs(CTransEffectFilter& f, cv::Mat& frame)
{
    std::lock_guard lock(f.m_faceLock);
    f.m_pFrame = cv::Mat(frame.rows, frame.cols, CV_8UC4, frame.data, frame.step);
    CFaceData* current = f.m_faces.empty() ? nullptr : f.m_faces.back().get();
    const auto start = Clock::now();
    f.DrawOverlay(current);
    const double ms = Ms(Clock::now() - start);
    f.m_pFrame = cv::Mat();
    return ms;
}

}  // namespace quell

namespace {

struct Result {
    double floorMs;
    double stepMs;
    double passesMs;
    double textMs;
    int points;
    size_t profileShown;
    size_t profileLength;
};

Result Measure(const quell::test::Scene& scene, cv::Size size, int frames)
{
    // The photograph fills most of the height and sways, so that the face
    // keeps moving and its points stay alive.
    const double scale = 0.8 * size.height / 512.0;
    std::vector<cv::Mat> clip;
    for (int i = 0; i < 40; ++i) {
        const int offset = i < 20 ? 3 * i : 3 * (40 - i);
        clip.push_back(scene.Render(size, scale, size.width / 4.0 + offset, size.height / 10.0 + offset / 3));
    }

    quell::test::FilterRig rig;
    quell::CTransEffectFilter& filter = *rig.filter;
    cv::Mat frame(size, CV_8UC4);
    auto step = [&](int i) {
        clip[i % clip.size()].copyTo(frame);  // the camera's fresh frame, not timed
        const auto start = Clock::now();
        rig.Step(frame);
        return Ms(Clock::now() - start);
    };

    int i = 0;
    for (; i < 40 && filter.FaceCount() == 0; ++i) {
        step(i);
        rig.worker->RunPass();
    }
    // Twelve seconds of frames: the profile is typed out in full.
    for (int k = 0; k < 12000 / 33; ++k)
        step(i++);

    std::vector<double> steps, floors, passes, texts;
    cv::Mat grey;
    for (int k = 0; k < frames; ++k) {
        steps.push_back(step(i++));
        // Keep the worker's hand-off slot busy: detection is not timed here.
        quell::FilterTestAccess::SetPending(filter, 1);

        passes.push_back(quell::HudTestAccess::PassesMs(filter, frame));
        texts.push_back(quell::HudTestAccess::TextMs(filter, frame));

        clip[k % clip.size()].copyTo(frame);
        const auto start = Clock::now();
        cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGRA);
        floors.push_back(Ms(Clock::now() - start));
    }
    int points = -1;
    filter.WithFaces([&](auto& faces) { points = faces.empty() ? -1 : faces.back()->m_pointCount; });
    return {Median(floors),
            Median(steps),
            Median(passes),
            Median(texts),
            points,
            quell::HudTestAccess::ProfileShown(filter),
            quell::HudTestAccess::ProfileLength(filter)};
}

double DetectionPassMs(const quell::test::Scene& scene, int passes)
{
    quell::test::FilterRig rig;
    const cv::Mat frame = scene.Render(cv::Size(640, 480), 0.8, 100, 40);
    quell::FilterTestAccess::HandOver(*rig.filter, frame);
    rig.worker->RunPass();  // loads the cascades
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        quell::FilterTestAccess::HandOver(*rig.filter, frame);
        const auto start = Clock::now();
        rig.worker->RunPass();
        times.push_back(Ms(Clock::now() - start));
    }
    return Median(times);
}

}  // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    cv::setNumThreads(1);  // one core per stream, as in a live pipeline
    quell::test::Scene scene;
    if (!scene.Valid()) {
        std::fprintf(stderr, "cannot read the test photograph\n");
        return 1;
    }
    std::printf("frame step with the overlay and one face, profile text on; median of %d frames (single thread)\n",
                frames);
    std::printf("%-10s %9s %9s %7s %10s %10s %7s %9s\n", "size", "floor ms", "step ms", "ratio", "passes ms",
                "texts ms", "points", "profile");
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        const Result r = Measure(scene, size, frames);
        std::printf("%4dx%-5d %9.3f %9.3f %7.2f %10.3f %10.3f %7d %4zu/%-4zu\n", size.width, size.height, r.floorMs,
                    r.stepMs, r.stepMs / r.floorMs, r.passesMs, r.textMs, r.points, r.profileShown, r.profileLength);
    }
    std::printf("detection pass on the 320-wide copy of a 640x480 frame (worker thread): %.2f ms, median of 20\n",
                DetectionPassMs(scene, 20));
    return 0;
}

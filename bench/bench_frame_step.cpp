// Times the frame step with one followed face (detection excluded) at three
// frame sizes, against the floor every version of the step pays: a BGRx to
// grey conversion and a grey to BGRx write-back of the same frame. Also
// times one detection pass on the 320-pixel-wide copy.
//
//   bench_frame_step [frames per size]
#include "faces/DetectWorker.h"
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

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Result {
    double floorMs;
    double stepMs;
    int points;
};

Result Measure(const quell::test::Scene& scene, cv::Size size, int frames)
{
    // The photograph fills most of the height and sways 3 px per frame, so
    // that the face keeps moving and its points stay alive.
    const double scale = 0.8 * size.height / 512.0;
    std::vector<cv::Mat> clip;
    for (int i = 0; i < 40; ++i) {
        const int offset = i < 20 ? 3 * i : 3 * (40 - i);
        clip.push_back(scene.Render(size, scale, size.width / 4.0 + offset, size.height / 10.0 + offset / 3));
    }

    quell::test::FilterRig rig;
    quell::CTransEffectFilter& filter = *rig.filter;
    quell::CDetectWorker& worker = *rig.worker;

    cv::Mat frame(size, CV_8UC4);
    auto step = [&](int i) {
        clip[i % clip.size()].copyTo(frame);  // the camera's fresh frame, not timed
        const auto start = Clock::now();
        rig.Step(frame);
        return Ms(Clock::now() - start);
    };
    // Detection places the face; a few frames may pass before it does.
    int warm = 0;
    for (; warm < 40 && filter.FaceCount() == 0; ++warm) {
        step(warm);
        worker.RunPass();
    }
    for (int i = 0; i < 10; ++i)
        step(warm + i);

    std::vector<double> steps, floors;
    cv::Mat grey;
    for (int i = 0; i < frames; ++i) {
        steps.push_back(step(warm + 10 + i));
        // Keep the worker's hand-off slot busy: detection is not timed here.
        quell::FilterTestAccess::SetPending(filter, 1);

        clip[i % clip.size()].copyTo(frame);
        const auto start = Clock::now();
        cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGRA);
        floors.push_back(Ms(Clock::now() - start));
    }
    int points = 0;
    filter.WithFaces([&](auto& faces) { points = faces.empty() ? -1 : faces.front()->m_pointCount; });
    return {Median(floors), Median(steps), points};
}

double DetectionPass(const quell::test::Scene& scene, int passes)
{
    quell::test::FilterRig rig;
    quell::CTransEffectFilter& filter = *rig.filter;
    quell::CDetectWorker& worker = *rig.worker;
    const cv::Mat frame = scene.Render(cv::Size(640, 480), 0.8, 100, 40);
    quell::FilterTestAccess::HandOver(filter, frame);
    worker.RunPass();  // loads the cascades
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        quell::FilterTestAccess::HandOver(filter, frame);
        const auto start = Clock::now();
        worker.RunPass();
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
    std::printf("frame step with one followed face, median of %d frames (single thread)\n", frames);
    std::printf("%-10s %12s %12s %8s %8s\n", "size", "floor ms", "step ms", "ratio", "points");
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        const Result r = Measure(scene, size, frames);
        std::printf("%4dx%-5d %12.3f %12.3f %8.2f %8d\n", size.width, size.height, r.floorMs, r.stepMs,
                    r.stepMs / r.floorMs, r.points);
    }
    std::printf("detection pass on the 320-wide copy of a 640x480 frame: %.2f ms (median of 20)\n",
                DetectionPass(scene, 20));
    return 0;
}

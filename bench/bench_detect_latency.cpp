// Detection latency: frames arrive at 30 per second in real time, first an
// empty scene, then the test photograph; measured is the time from the first
// frame with the face to the first frame the face is followed in (its marker
// is drawn in that frame). Each trial waits a different time before the face
// comes, so that it meets the worker in every phase of its rhythm.
//
//   bench_detect_latency [trials] [width height]
#include "filter/TransEffectFilter.h"
#include "support/RecordingSoundPlayer.h"
#include "support/Scene.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Nearest-rank percentile: the smallest value with at least p of the
// values at or below it (with 12 trials, p95 is the worst one).
double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return 0.0;
    const auto rank = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size())));
    return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
}

}  // namespace

int main(int argc, char** argv)
{
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 12;
    const cv::Size size = argc > 3 ? cv::Size(std::atoi(argv[2]), std::atoi(argv[3])) : cv::Size(1280, 720);
    quell::test::Scene scene;
    if (!scene.Valid()) {
        std::fprintf(stderr, "cannot read the test photograph\n");
        return 1;
    }
    quell::RecordingSoundPlayer sound;
    quell::FilterPlatform platform;
    platform.sound = &sound;
    quell::CTransEffectFilter filter(platform);
    filter.SetDataDir(QUELL_DATA_DIR_FOR_BENCH);
    filter.Start();

    const double scale = 0.8 * size.height / 512.0;
    const cv::Mat empty(size, CV_8UC4, cv::Scalar(70, 70, 70, 0));
    cv::Mat frame;
    const auto period = std::chrono::microseconds(33333);
    auto next = Clock::now();
    auto push = [&](const cv::Mat& picture) {
        std::this_thread::sleep_until(next);
        next += period;
        picture.copyTo(frame);
        filter.Transform(frame.data, frame.cols, frame.rows, frame.step);
    };

    std::printf("detection latency at %dx%d, 30 frames per second, %d trials\n", size.width, size.height, trials);
    std::vector<double> latencies;
    for (int t = 0; t < trials; ++t) {
        filter.ResetFaces();
        // 1 s plus a different share of the worker's 400 ms rhythm per trial.
        const int emptyFrames = 30 + (t * 37) % 13;
        for (int i = 0; i < emptyFrames; ++i)
            push(empty);
        const auto shown = next;
        int frames = 0;
        double ms = -1;
        for (; frames < 150; ++frames) {
            push(scene.Render(size, scale, size.width / 4.0 + (frames % 2), size.height / 10.0));
            if (filter.FaceCount() > 0) {
                ms = std::chrono::duration<double, std::milli>(Clock::now() - shown).count();
                break;
            }
        }
        std::printf("  trial %2d: %s%.0f ms (%d frames)\n", t + 1, ms < 0 ? "not found, > " : "", ms < 0 ? 5000.0 : ms,
                    frames + 1);
        latencies.push_back(ms < 0 ? 5000.0 : ms);
    }
    filter.Stop();
    std::printf("p50 %.0f ms, p95 %.0f ms, worst %.0f ms\n", Percentile(latencies, 0.5), Percentile(latencies, 0.95),
                Percentile(latencies, 1.0));
    return 0;
}

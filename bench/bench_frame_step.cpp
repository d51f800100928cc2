// Times the whole frame step with the overlay on and one followed face whose
// profile is typed out in full, at four frame sizes up to 4K, against the
// floor every version of the step pays: a BGRx to grey conversion and a grey
// to BGRx write-back of the same frame, measured in the same run. Also times
// the panel's pixel passes on their own: a plain grey to BGRx conversion,
// against the panel mask's write-back (tinted outside the panel, shaded
// inside) and against that write-back fused with the grey conversion of the
// next frame; and one detection pass on the 320-pixel-wide copy, which runs on the
// worker thread, outside the frame step.
//
//   bench_frame_step [frames per size]
#include "filter/HudText.h"
#include "filter/PanelMask.h"
#include "platform/RowTeam.h"
#include "filter/TransEffectFilter.h"
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

}  // namespace

namespace {

struct Result {
    double floorMs;
    double stepMs;
    double convertMs;         // cvtColor grey to BGRx
    double writeBackMs;       // the write-back, tinted outside the panel and shaded inside
    double fusedMs;           // grey and write-back in one pass, one thread
    double fusedTeamMs;       // the same, rows shared with a helper thread
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
        rig.RunPass();
    }
    // Twelve seconds of frames: the profile is typed out in full.
    for (int k = 0; k < 12000 / 33; ++k)
        step(i++);

    // From here on the worker runs no pass: the frame it was last handed
    // stays in its slot and no frame is shrunk for it. Detection is not
    // timed here.
    std::vector<double> steps, floors, converts, writeBacks, fused, fusedTeam;
    cv::Mat grey, curGrey;
    quell::CPanelMask panel;
    panel.Build(size.width, size.height, size.height / 8);
    quell::CRowTeam team;
    team.Start();
    for (int k = 0; k < frames; ++k) {
        steps.push_back(step(i++));

        clip[k % clip.size()].copyTo(frame);
        auto start = Clock::now();
        cv::cvtColor(frame, grey, cv::COLOR_BGRA2GRAY);
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGRA);
        floors.push_back(Ms(Clock::now() - start));

        start = Clock::now();
        cv::cvtColor(grey, frame, cv::COLOR_GRAY2BGRA);
        converts.push_back(Ms(Clock::now() - start));

        start = Clock::now();
        panel.WriteBack(grey, frame);
        writeBacks.push_back(Ms(Clock::now() - start));

        clip[k % clip.size()].copyTo(frame);
        start = Clock::now();
        panel.GreyAndWriteBack(frame, curGrey, grey);
        fused.push_back(Ms(Clock::now() - start));

        clip[k % clip.size()].copyTo(frame);
        start = Clock::now();
        panel.GreyAndWriteBack(frame, curGrey, grey, &team);
        fusedTeam.push_back(Ms(Clock::now() - start));
    }
    int points = -1;
    filter.Faces().WithFaces([&](auto& faces) { points = faces.empty() ? -1 : faces.back()->m_pointCount; });
    return {Median(floors),
            Median(steps),
            Median(converts),
            Median(writeBacks),
            Median(fused),
            Median(fusedTeam),
            points,
            filter.Hud().ProfileLayout().Text().size(),
            filter.Hud().ProfileText().size()};
}

double DetectionPassMs(const quell::test::Scene& scene, int passes)
{
    quell::test::FilterRig rig;
    const cv::Mat frame = scene.Render(cv::Size(640, 480), 0.8, 100, 40);
    std::vector<double> times;
    for (int i = 0; i < passes; ++i) {
        rig.filter->Faces().OfferFrame(frame);
        const auto start = Clock::now();
        rig.RunPass();
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
    std::printf("%-10s %9s %9s %7s %12s %12s %9s %10s %7s %9s\n", "size", "floor ms", "step ms", "ratio",
                "grey2bgr ms", "wb ms", "fused ms", "+helper ms", "points", "profile");
    for (const cv::Size size : {cv::Size(640, 480), cv::Size(1280, 720), cv::Size(1920, 1080), cv::Size(3840, 2160)}) {
        const Result r = Measure(scene, size, frames);
        std::printf("%4dx%-5d %9.3f %9.3f %7.2f %12.3f %12.3f %9.3f %10.3f %7d %4zu/%-4zu\n", size.width,
                    size.height, r.floorMs, r.stepMs, r.stepMs / r.floorMs, r.convertMs, r.writeBackMs,
                    r.fusedMs, r.fusedTeamMs, r.points, r.profileShown, r.profileLength);
    }
    std::printf("detection pass on the 320-wide copy of a 640x480 frame (worker thread): %.2f ms, median of 20\n",
                DetectionPassMs(scene, 20));
    return 0;
}

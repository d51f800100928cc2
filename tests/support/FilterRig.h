// A filter driven by hand: a hand-moved clock, a recording sound player, and
// a detection worker whose passes the caller runs.
#pragma once

#include "faces/DetectWorker.h"
#include "filter/TransEffectFilter.h"
#include "platform/Clock.h"
#include "support/RecordingSoundPlayer.h"

#include <memory>

namespace quell::test {

struct FilterRig {
    explicit FilterRig(uint32_t startMs = 0) : clock(startMs)
    {
        FilterPlatform platform;
        platform.clock = &clock;
        platform.sound = &sound;
        platform.startWorker = false;
        platform.calendarSeconds = [] { return 42u; };
        filter = std::make_unique<CTransEffectFilter>(platform);
        filter->Start();  // loads the cascades; no thread runs the worker
        worker = filter->Worker();
    }

    // Runs the frame step on `frame` in place, then moves the clock one step.
    void Step(cv::Mat& frame)
    {
        filter->Transform(frame.data, frame.cols, frame.rows, frame.step);
        clock.Advance(kStepMs);
    }

    // One detection pass on the frame the last step handed over; the next
    // step places what it found. False when no frame was handed over.
    bool RunPass() { return worker->RunPass(0, 0) == CDetectWorker::Pass::Done; }

    ManualClock clock;
    RecordingSoundPlayer sound;
    std::unique_ptr<CTransEffectFilter> filter;  // borrows clock and sound
    CDetectWorker* worker = nullptr;             // the filter's
};

}  // namespace quell::test

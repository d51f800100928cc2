// A filter driven by hand: a hand-moved clock, a recording sound player, no
// worker thread, and a detection worker whose passes the caller runs.
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
        worker = std::make_unique<CDetectWorker>(*filter);
    }

    // Runs the frame step on `frame` in place, then moves the clock one step.
    void Step(cv::Mat& frame)
    {
        filter->Transform(frame.data, frame.cols, frame.rows, frame.step);
        clock.Advance(kStepMs);
    }

    ManualClock clock;
    RecordingSoundPlayer sound;
    std::unique_ptr<CTransEffectFilter> filter;  // borrows clock and sound
    std::unique_ptr<CDetectWorker> worker;       // borrows filter
};

}  // namespace quell::test

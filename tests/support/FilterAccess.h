// Test access to the filter's private state.
#pragma once

#include "filter/TransEffectFilter.h"

#include <mutex>

namespace quell {

struct FilterTestAccess {
    static uint32_t TextClock(CTransEffectFilter& f) { return f.m_textClock; }
    static uint32_t LastTick(CTransEffectFilter& f) { return f.m_lastTick; }
    static int Pending(CTransEffectFilter& f) { return f.m_detectPending.load(); }
    static void SetPending(CTransEffectFilter& f, int v) { f.m_detectPending.store(v); }
    static cv::Mat DetectImage(CTransEffectFilter& f) { return f.m_pDetectImage; }
    static cv::Mat PrevGrey(CTransEffectFilter& f) { return f.m_pPrevGrey; }
    // Hands `frame` to the worker as the frame step does, without a frame step.
    static void HandOver(CTransEffectFilter& f, const cv::Mat& frame)
    {
        std::lock_guard lock(f.m_faceLock);
        frame.copyTo(f.m_pDetectImage);
        f.m_detectPending.store(1);
    }
    static std::recursive_mutex& FaceLock(CTransEffectFilter& f) { return f.m_faceLock; }
    static int PanelHeight(CTransEffectFilter& f) { return f.m_panelHeight; }
    static void Build(CTransEffectFilter& f, int w, int h)
    {
        std::lock_guard lock(f.m_faceLock);
        f.BuildWorkImages(w, h);
    }
};

}  // namespace quell

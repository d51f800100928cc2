// The detection worker: finds faces in frames the frame step hands over and
// places the followed face on them, on a thread of its own.
#pragma once

#include <cstdint>

namespace quell {

class CTransEffectFilter;

class CDetectWorker {
public:
    // Idle poll while nothing is pending, and rest after each pass.
    static constexpr uint32_t kIdleSleepMs = 100;
    static constexpr uint32_t kRestSleepMs = 300;

    explicit CDetectWorker(CTransEffectFilter& filter);
    ~CDetectWorker();

    CDetectWorker(const CDetectWorker&) = delete;
    CDetectWorker& operator=(const CDetectWorker&) = delete;

    // The thread procedure: passes until the filter asks the worker to stop.
    void Run();

    // One pass over a pending frame. Returns false, without taking the face
    // lock, when no frame is pending. Clears the pending flag when done.
    bool RunPass();

private:
    CTransEffectFilter& m_filter;
};

}  // namespace quell

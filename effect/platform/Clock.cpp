// The monotonic millisecond clock and the stream clock.
#include "platform/Clock.h"

#include <chrono>

namespace quell {

uint32_t MonotonicClock::NowMs() const
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

MonotonicClock& MonotonicClock::Instance()
{
    static MonotonicClock clock;
    return clock;
}

void StreamClock::NextFrame(std::optional<uint64_t> runningNs, uint64_t durationNs)
{
    const uint64_t reckoned = m_runningNs + (m_durationNs > 0 ? m_durationNs : uint64_t{kStepMs} * 1000000u);
    const uint64_t next = runningNs ? *runningNs : (m_started ? reckoned : 0);
    if (!m_started)
        m_nowNs = next;
    else if (next > m_runningNs)
        m_nowNs += next - m_runningNs;
    m_started = true;
    m_runningNs = next;
    m_durationNs = durationNs;
}

}  // namespace quell

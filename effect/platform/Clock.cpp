// The monotonic millisecond clock.
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

}  // namespace quell

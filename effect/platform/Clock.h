// Millisecond clocks: the animation steps of the effect are counted from one.
#pragma once

#include <atomic>
#include <cstdint>

namespace quell {

// A wrapping 32-bit millisecond clock. Differences of two readings are taken
// in unsigned 32-bit arithmetic, so wrap-around after 49 days is harmless.
class IClock {
public:
    virtual ~IClock() = default;
    virtual uint32_t NowMs() const = 0;
};

// Real time: the monotonic clock, so that wall-clock changes never jump the
// animations.
class MonotonicClock final : public IClock {
public:
    uint32_t NowMs() const override;
    // One shared instance; it holds no state.
    static MonotonicClock& Instance();
};

// A clock moved by hand, for tests that drive the animation step by step.
class ManualClock final : public IClock {
public:
    explicit ManualClock(uint32_t startMs = 0) : m_now(startMs) {}
    uint32_t NowMs() const override { return m_now.load(std::memory_order_relaxed); }
    void Set(uint32_t ms) { m_now.store(ms, std::memory_order_relaxed); }
    void Advance(uint32_t ms) { m_now.fetch_add(ms, std::memory_order_relaxed); }

private:
    std::atomic<uint32_t> m_now;
};

}  // namespace quell

namespace quell {

// One animation step, in milliseconds.
inline constexpr uint32_t kStepMs = 33;

// Counts the whole animation steps between `lastTick` and `now` and moves
// `lastTick` forward by exactly those steps, so that the remainder counts
// toward the next step. Returns the number of steps (0 when less than one
// step has passed).
inline uint32_t ConsumeSteps(uint32_t now, uint32_t& lastTick)
{
    const uint32_t elapsed = now - lastTick;
    if (elapsed < kStepMs)
        return 0;
    lastTick = now - elapsed % kStepMs;
    return elapsed / kStepMs;
}

}  // namespace quell

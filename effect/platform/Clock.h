// Millisecond clocks: the animation steps of the effect are counted from one.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

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

// The stream's own time: the running time of the frames as they arrive, so
// that an animation follows the picture however fast it is processed. It
// never goes back: a frame whose running time lies before the previous one's
// (a seek back) holds the clock still, and it moves on from there. Read and
// moved by the frame step only.
class StreamClock final : public IClock {
public:
    // Moves the clock to the next frame. `runningNs` is its running time, or
    // none for a frame without one (no timestamp, or outside its segment):
    // that frame is taken to follow the previous one after that one's
    // duration. `durationNs` is this frame's duration (0: unknown, taken as
    // one animation step). The first frame after Reset() sets the clock to
    // its running time, or to 0 without one.
    void NextFrame(std::optional<uint64_t> runningNs, uint64_t durationNs);
    void Reset() { *this = StreamClock(); }
    uint32_t NowMs() const override { return static_cast<uint32_t>(m_nowNs / 1000000u); }
    uint64_t NowNs() const { return m_nowNs; }

private:
    bool m_started = false;
    uint64_t m_nowNs = 0;         // the reading
    uint64_t m_runningNs = 0;     // the running time of the last frame, or where it was reckoned
    uint64_t m_durationNs = 0;    // the duration of the last frame
};

// The clock the effect reads: the wall clock it was given or a stream clock,
// as chosen. Both must outlive it.
class ChosenClock final : public IClock {
public:
    ChosenClock(const IClock& wall, const IClock& stream) : m_wall(wall), m_stream(stream) {}
    uint32_t NowMs() const override { return (FollowsStream() ? m_stream : m_wall).NowMs(); }
    void FollowStream(bool on) { m_followStream.store(on, std::memory_order_relaxed); }
    bool FollowsStream() const { return m_followStream.load(std::memory_order_relaxed); }

private:
    const IClock& m_wall;
    const IClock& m_stream;
    std::atomic<bool> m_followStream{false};
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

// CRowTeam: one helper thread that shares a row pass over a frame with the
// thread that runs it, taking blocks of rows from the same counter.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

namespace quell {

class CRowTeam {
public:
    CRowTeam() = default;
    CRowTeam(const CRowTeam&) = delete;
    CRowTeam& operator=(const CRowTeam&) = delete;
    ~CRowTeam();

    // Starts the helper thread; Stop() joins it. Without the helper every
    // pass runs on the calling thread alone.
    void Start();
    void Stop();
    bool Running() const;

    // Runs body(begin, end) over the rows [0, rows) in blocks of `block`
    // rows, each block once. The calling thread takes blocks until none are
    // left, the helper takes them too while it gets processor time, and the
    // call returns when every block is done. The caller never waits for the
    // helper to wake or to be scheduled: a block is the helper's only once it
    // claimed it, so on a machine whose other core is busy the caller does
    // (nearly) every block itself and waits at most for the one block the
    // helper is in. When that wait was long (the helper lost its core in the
    // middle of a block) the next passes run on the caller alone, for twice
    // as many passes each time it happens again. One caller at a time.
    // A block that throws ends the pass: the blocks not yet begun are
    // skipped, and the first exception is thrown again from Run() once no
    // block runs any more. Allocates nothing (unless a block throws).
    template <typename Body>
    void Run(int rows, int block, Body& body)
    {
        RunBlocks(rows, block, &Call<Body>, &body);
    }

    // How many blocks the helper did since Start() (for tests and benchmarks).
    uint64_t HelperBlocks() const { return m_helperBlocks.load(std::memory_order_relaxed); }

private:
    using BodyFn = void (*)(void* context, int begin, int end);
    template <typename Body>
    static void Call(void* context, int begin, int end)
    {
        (*static_cast<Body*>(context))(begin, end);
    }

    void RunBlocks(int rows, int block, BodyFn fn, void* context);
    // Claims blocks of job `generation` until none are left, running each;
    // the helper's blocks are counted.
    void Work(uint32_t generation, BodyFn fn, void* context, int rows, int block, int blocks, bool helper);
    void Helper();
    // Throws the exception a block of the finished job threw, if one did.
    void RethrowFailure();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;  // the helper waits here for a job or stop
    std::thread m_thread;
    bool m_running = false;
    bool m_stopping = false;
    // The current job, written under m_mutex.
    uint32_t m_generation = 0;
    BodyFn m_fn = nullptr;
    void* m_context = nullptr;
    int m_rows = 0;
    int m_block = 1;
    int m_blocks = 0;
    // The job's generation in the upper 32 bits, its next unclaimed block in
    // the lower: a claim is a compare-and-swap, so a helper that wakes after
    // its job ended can never take a block of the next one.
    std::atomic<uint64_t> m_next{0};
    std::atomic<int> m_done{0};  // blocks of the current job finished or skipped
    std::atomic<bool> m_failed{false};  // a block of the current job threw
    std::exception_ptr m_error;         // the first exception, under m_mutex
    std::atomic<uint64_t> m_helperBlocks{0};
    // The caller's back-off: passes still to run alone, and how many to run
    // alone after the next long wait.
    int m_aloneLeft = 0;
    int m_aloneNext = kFirstBackOff;
    static constexpr int kFirstBackOff = 16;
    static constexpr int kLongestBackOff = 1024;
};

}  // namespace quell

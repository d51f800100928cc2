// The row team's helper thread and its block counter.
#include "platform/RowTeam.h"

#include <algorithm>
#include <chrono>

namespace quell {

CRowTeam::~CRowTeam()
{
    Stop();
}

void CRowTeam::Start()
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return;
    m_stopping = false;
    m_running = true;
    m_helperBlocks.store(0, std::memory_order_relaxed);
    m_thread = std::thread([this] { Helper(); });
}

void CRowTeam::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_running = false;
}

bool CRowTeam::Running() const
{
    std::lock_guard lock(m_mutex);
    return m_running && !m_stopping;
}

void CRowTeam::Work(uint32_t generation, BodyFn fn, void* context, int rows, int block, int blocks, bool helper)
{
    const uint64_t tag = uint64_t{generation} << 32;
    uint64_t next = m_next.load(std::memory_order_acquire);
    for (;;) {
        if ((next & ~uint64_t{0xFFFFFFFFu}) != tag || static_cast<int>(next & 0xFFFFFFFFu) >= blocks)
            return;
        if (!m_next.compare_exchange_weak(next, next + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        const int begin = static_cast<int>(next & 0xFFFFFFFFu) * block;
        if (!m_failed.load(std::memory_order_relaxed)) {
            try {
                fn(context, begin, std::min(rows, begin + block));
                // Counted before the block is reported done, so that the
                // count is complete when Run() returns.
                if (helper)
                    m_helperBlocks.fetch_add(1, std::memory_order_relaxed);
            } catch (...) {
                std::lock_guard lock(m_mutex);
                if (!m_error)
                    m_error = std::current_exception();
                m_failed.store(true, std::memory_order_relaxed);
            }
        }
        m_done.fetch_add(1, std::memory_order_release);
        m_done.notify_one();
        next = m_next.load(std::memory_order_acquire);
    }
}

void CRowTeam::RunBlocks(int rows, int block, BodyFn fn, void* context)
{
    if (rows <= 0)
        return;
    block = std::max(block, 1);
    const int blocks = (rows - 1) / block + 1;
    uint32_t generation = 0;
    const bool alone = m_aloneLeft > 0;
    if (alone)
        --m_aloneLeft;
    if (!alone && blocks > 1) {
        std::lock_guard lock(m_mutex);
        if (m_running && !m_stopping) {
            generation = ++m_generation;
            if (generation == 0)  // 0 means "not shared" below
                generation = ++m_generation;
            m_fn = fn;
            m_context = context;
            m_rows = rows;
            m_block = block;
            m_blocks = blocks;
            m_done.store(0, std::memory_order_relaxed);
            m_failed.store(false, std::memory_order_relaxed);
            m_error = nullptr;
            m_next.store(uint64_t{generation} << 32, std::memory_order_release);
        }
    }
    if (generation == 0) {
        for (int begin = 0; begin < rows; begin += block)
            fn(context, begin, std::min(rows, begin + block));
        return;
    }
    m_wake.notify_one();
    Work(generation, fn, context, rows, block, blocks, false);
    // Every block is claimed; wait for those the helper is still in.
    int done = m_done.load(std::memory_order_acquire);
    if (done == blocks) {
        m_aloneNext = kFirstBackOff;
        RethrowFailure();
        return;
    }
    const auto waitStart = std::chrono::steady_clock::now();
    for (; done < blocks; done = m_done.load(std::memory_order_acquire))
        m_done.wait(done, std::memory_order_acquire);
    RethrowFailure();
    // A block takes microseconds; a wait this long means the helper was
    // preempted on a busy machine, and sharing costs more than it saves.
    constexpr auto kLongWait = std::chrono::microseconds(200);
    if (std::chrono::steady_clock::now() - waitStart > kLongWait) {
        m_aloneLeft = m_aloneNext;
        m_aloneNext = std::min(2 * m_aloneNext, kLongestBackOff);
    } else {
        m_aloneNext = kFirstBackOff;
    }
}

void CRowTeam::RethrowFailure()
{
    if (!m_failed.load(std::memory_order_relaxed))
        return;
    std::exception_ptr error;
    {
        std::lock_guard lock(m_mutex);
        std::swap(error, m_error);
    }
    if (error)
        std::rethrow_exception(error);
}

void CRowTeam::Helper()
{
    uint32_t seen = 0;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
        if (m_stopping)
            return;
        seen = m_generation;
        const BodyFn fn = m_fn;
        void* const context = m_context;
        const int rows = m_rows;
        const int block = m_block;
        const int blocks = m_blocks;
        lock.unlock();
        Work(seen, fn, context, rows, block, blocks, true);
        lock.lock();
    }
}

}  // namespace quell

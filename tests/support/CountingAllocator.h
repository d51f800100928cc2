// Counts the heap allocations made by the current thread between two points:
// malloc, calloc, realloc, the aligned allocators and every operator new are
// replaced by versions that count, then hand the call to the C library's own
// allocator. Include this header in exactly one source file of a test
// program, and never in a sanitizer build (the sanitizers replace the same
// functions).
#pragma once

#include <execinfo.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <new>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* block);
}

namespace quell::test {

class AllocationCounter {
public:
    // Starts counting this thread's allocations from 0. With `record`, the
    // call stacks of the first allocations are kept for PrintRecorded().
    static void Start(bool record = false)
    {
        if (record)
            Warm();
        State& s = Local();
        s.count = 0;
        s.recorded = 0;
        s.record = record;
        s.counting = true;
    }
    // Stops counting and returns the number of allocations since Start().
    static uint64_t Stop()
    {
        State& s = Local();
        s.counting = false;
        s.record = false;
        return s.count;
    }
    // Writes the recorded call stacks to standard error, one frame a line.
    static void PrintRecorded()
    {
        const State& s = Local();
        for (int i = 0; i < s.recorded; ++i) {
            std::fprintf(stderr, "allocation %d:\n", i + 1);
            std::fflush(stderr);
            backtrace_symbols_fd(s.stacks[i], s.depths[i], STDERR_FILENO);
        }
    }

    // Called by the replaced allocators.
    static void Note()
    {
        State& s = Local();
        if (!s.counting)
            return;
        ++s.count;
        if (s.record && s.recorded < kStacks) {
            s.record = false;  // backtrace() must not record itself
            s.depths[s.recorded] = backtrace(s.stacks[s.recorded], kDepth);
            ++s.recorded;
            s.record = true;
        }
    }

private:
    static constexpr int kStacks = 32;
    static constexpr int kDepth = 24;
    struct State {
        bool counting = false;
        bool record = false;
        uint64_t count = 0;
        int recorded = 0;
        void* stacks[kStacks][kDepth];
        int depths[kStacks];
    };
    static State& Local()
    {
        static thread_local State state;
        return state;
    }
    // backtrace() loads its unwinder on first use, which allocates.
    static void Warm()
    {
        void* frames[4];
        backtrace(frames, 4);
    }
};

}  // namespace quell::test

extern "C" {
void* malloc(size_t size)
{
    quell::test::AllocationCounter::Note();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size)
{
    quell::test::AllocationCounter::Note();
    return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size)
{
    quell::test::AllocationCounter::Note();
    return __libc_realloc(block, size);
}
void free(void* block)
{
    __libc_free(block);
}
void* memalign(size_t alignment, size_t size)
{
    quell::test::AllocationCounter::Note();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size)
{
    quell::test::AllocationCounter::Note();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size)
{
    quell::test::AllocationCounter::Note();
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = __libc_memalign(alignment, size);
    if (!block)
        return ENOMEM;
    *out = block;
    return 0;
}
}

// operator new counts once and takes its memory from the C library directly,
// so that its own call to malloc is not counted a second time.
namespace quell::test::detail {
inline void* New(size_t size)
{
    AllocationCounter::Note();
    void* block = __libc_malloc(size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}
inline void* NewAligned(size_t size, std::align_val_t alignment)
{
    AllocationCounter::Note();
    void* block = __libc_memalign(static_cast<size_t>(alignment), size ? size : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}
}  // namespace quell::test::detail

void* operator new(size_t size)
{
    return quell::test::detail::New(size);
}
void* operator new[](size_t size)
{
    return quell::test::detail::New(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    quell::test::AllocationCounter::Note();
    return __libc_malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    quell::test::AllocationCounter::Note();
    return __libc_malloc(size ? size : 1);
}
void* operator new(size_t size, std::align_val_t alignment)
{
    return quell::test::detail::NewAligned(size, alignment);
}
void* operator new[](size_t size, std::align_val_t alignment)
{
    return quell::test::detail::NewAligned(size, alignment);
}
void operator delete(void* block) noexcept
{
    __libc_free(block);
}
void operator delete[](void* block) noexcept
{
    __libc_free(block);
}
void operator delete(void* block, size_t) noexcept
{
    __libc_free(block);
}
void operator delete[](void* block, size_t) noexcept
{
    __libc_free(block);
}
void operator delete(void* block, std::align_val_t) noexcept
{
    __libc_free(block);
}
void operator delete[](void* block, std::align_val_t) noexcept
{
    __libc_free(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept
{
    __libc_free(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept
{
    __libc_free(block);
}

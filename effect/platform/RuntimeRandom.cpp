// Per-thread linear congruential generator.
#include "platform/RuntimeRandom.h"

#include <ctime>

namespace quell {

namespace {
// A thread that never seeds starts from 1, as the C runtime does.
thread_local uint32_t t_state = 1;
}  // namespace

void Srand(uint32_t seed) { t_state = seed; }

int Rand()
{
    t_state = t_state * 214013u + 2531011u;  // unsigned: wraps modulo 2^32
    return static_cast<int>((t_state >> 16) & 0x7fffu);
}

void SrandFromTime() { Srand(static_cast<uint32_t>(std::time(nullptr))); }

}  // namespace quell

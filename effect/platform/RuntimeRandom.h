// The runtime random generator: a linear congruential generator with one
// state per thread, so that rolls on the worker thread follow a fixed,
// reproducible sequence for a given seed.
#pragma once

#include <cstdint>

namespace quell {

// Largest value Rand() returns (15 bits).
inline constexpr int kRandMax = 32767;

// Sets the calling thread's generator state.
void Srand(uint32_t seed);

// Advances the calling thread's state (state * 214013 + 2531011 mod 2^32)
// and returns its bits 16..30, a value in 0..32767.
int Rand();

// Seeds the calling thread's generator with the calendar time in seconds.
void SrandFromTime();

}  // namespace quell

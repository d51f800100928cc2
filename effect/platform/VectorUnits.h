// The processor's wide vector units, checked once at run time, and the
// function attributes under which one source file holds code for them next
// to its portable paths.
#pragma once

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUELL_X86_VECTORS 1
#define QUELL_TARGET_AVX2 __attribute__((target("avx2")))
#define QUELL_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl")))
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
// GCC 12 takes the "undefined" pass-through operand of its AVX-512
// intrinsics for an uninitialised read (fixed in GCC 13).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#endif

namespace quell {

// AVX2. False off x86.
bool HasAvx2();
// AVX-512 F, BW and VL together. False off x86.
bool HasAvx512();

}  // namespace quell

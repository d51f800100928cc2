// The roll of a face's power and profile, and the pure steps it is made of.
#pragma once

#include <cstdint>
#include <string>

namespace quell {

struct Profile {
    uint64_t targetPower = 0;
    int powerClass = 0;
    int64_t age = 0;
    int height = 0;
    int weight = 0;
    std::string name;
    std::string origin;
};

inline constexpr int kPowerClassCount = 8;

// Raw power from two Rand() values: r2 * 131076 + r1 % 4 in 32-bit signed
// arithmetic with wrap-around, sign-extended to 64 bits and held unsigned.
// A negative 32-bit result therefore becomes a value near 2^64, which the
// per-class modulo below folds back into range.
uint64_t RawPower(int r1, int r2);

// Power class (0..7) for a roll in 0..999: 1%, 29%, 30%, 20%, 10%, 5%, 4.9%, 0.1%.
int PowerClassFromRoll(int roll);

// The shown power for a class: raw reduced modulo the class's ceiling, then
// rounded down to the class's step.
uint64_t PowerForClass(uint64_t raw, int powerClass);

// Rolls power, class, age, height and weight from the calling thread's
// generator as it stands, then reseeds it with pickSeed to draw the name and
// the origin. Production passes the calendar time in seconds.
Profile RollProfile(uint32_t pickSeed);

}  // namespace quell

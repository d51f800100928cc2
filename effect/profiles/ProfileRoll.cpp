// RollProfile and its pure steps; the order of Rand() calls is part of the
// behaviour (a given seed must always yield the same face).
#include "profiles/ProfileRoll.h"

#include <stdexcept>

#include "platform/RuntimeRandom.h"
#include "profiles/RandomData.h"

namespace quell {

namespace {

struct ClassRange {
    uint64_t modulus;  // power ceiling (exclusive)
    uint64_t step;     // the power is a multiple of this
};

constexpr ClassRange kClassRanges[kPowerClassCount] = {
    {100, 1},
    {1'000, 10},
    {10'000, 100},
    {100'000, 1'000},
    {500'000, 10'000},
    {1'000'000, 10'000},
    {10'000'000, 1'000'000},
    {1'000'000'000'000, 100'000'000},
};

// Upper bounds (exclusive) of the roll for classes 0..6; 999 alone is class 7.
constexpr int kClassRollLimits[kPowerClassCount - 1] = {10, 300, 600, 800, 900, 950, 999};

}  // namespace

uint64_t RawPower(int r1, int r2)
{
    // Unsigned arithmetic wraps without undefined behaviour; the conversion
    // to int32_t is modular since C++20, which gives the signed wrap-around.
    const uint32_t wrapped = static_cast<uint32_t>(r2) * 131076u + static_cast<uint32_t>(r1 % 4);
    return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(wrapped)));
}

int PowerClassFromRoll(int roll)
{
    int powerClass = 0;
    while (powerClass < kPowerClassCount - 1 && roll >= kClassRollLimits[powerClass]) {
        ++powerClass;
    }
    return powerClass;
}

uint64_t PowerForClass(uint64_t raw, int powerClass)
{
    if (powerClass < 0 || powerClass >= kPowerClassCount) {
        throw std::out_of_range("PowerForClass: no such power class");
    }
    const ClassRange& range = kClassRanges[powerClass];
    const uint64_t power = raw % range.modulus;
    return power - power % range.step;
}

Profile RollProfile(uint32_t pickSeed)
{
    Profile p;
    const int r1 = Rand();
    const int r2 = Rand();
    const uint64_t raw = RawPower(r1, r2);
    p.powerClass = PowerClassFromRoll(Rand() % 1000);

    // Each field is a separate statement so the draws happen in this order.
    switch (p.powerClass) {
    case 0:
    case 1:
    case 2:
        p.age = Rand() % 80;
        p.height = Rand() % 60 + 140;
        p.weight = Rand() % 60 + 40;
        break;
    case 3:
        p.age = Rand() % 200;
        p.height = Rand() % 60 + 140;
        p.weight = Rand() % 60 + 40;
        break;
    case 4:
        p.age = Rand() % 1000;
        p.height = Rand() % 60 + 140;
        p.weight = Rand() % 60 + 40;
        break;
    case 5:
        p.age = Rand() % 10000;
        p.height = Rand() % 1000;
        p.weight = Rand() % 1000;
        break;
    case 6:
        // Past class 5 the age comes from the raw power instead of a draw.
        p.age = static_cast<int64_t>(raw % 10'000'000);
        p.height = Rand() % 5000;
        p.weight = Rand() % 5000;
        break;
    default:
        p.age = static_cast<int64_t>(raw % 100'000'000);
        p.height = Rand() % 10000;
        p.weight = Rand() % 10000;
        break;
    }
    p.targetPower = PowerForClass(raw, p.powerClass);

    const CRandomData data(pickSeed);
    p.name = data.PickName();
    p.origin = data.PickOrigin();
    return p;
}

}  // namespace quell

// The profile roll: class table, raw power, per-class power, draw order and
// the evenness of the list draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <unordered_set>

#include "platform/RuntimeRandom.h"
#include "profiles/ProfileRoll.h"
#include "profiles/RandomData.h"

namespace {

using namespace quell;

TEST(PowerClass, BoundariesAndShareOfRolls)
{
    const std::pair<int, int> edges[] = {{0, 0}, {9, 0}, {10, 1}, {299, 1}, {300, 2}, {599, 2}, {600, 3},
        {799, 3}, {800, 4}, {899, 4}, {900, 5}, {949, 5}, {950, 6}, {998, 6}, {999, 7}};
    for (const auto& [roll, expected] : edges) {
        EXPECT_EQ(PowerClassFromRoll(roll), expected) << "roll " << roll;
    }
    int perClass[kPowerClassCount] = {};
    for (int roll = 0; roll < 1000; ++roll) ++perClass[PowerClassFromRoll(roll)];
    EXPECT_EQ(std::vector<int>(perClass, perClass + kPowerClassCount),
              (std::vector<int>{10, 290, 300, 200, 100, 50, 49, 1}));
}

TEST(RawPower, WrapsAsSigned32BitAndSignExtends)
{
    EXPECT_EQ(RawPower(0, 16384), 0xFFFFFFFF80010000ull);  // 2^31 + 2^16 wraps negative
    EXPECT_EQ(RawPower(3, 16383), 16383ull * 131076 + 3);  // largest value that stays positive
    EXPECT_EQ(RawPower(7, 1), 131076ull + 3);              // only r1 mod 4 is added
    EXPECT_EQ(RawPower(32767, 32767), ~0ull);  // 2^32 - 4 + 3 is -1 as signed 32-bit
}

// A seed whose first draws are r1 with r1 % 4 == 0, then r2, then a roll in
// the wanted class: walks the generator (state * 214013 + 2531011) backwards
// from each state that yields r2.
uint32_t SeedFor(int r2, int powerClass)
{
    constexpr uint32_t kMul = 214013u, kInc = 2531011u;
    uint32_t inverse = kMul;  // Newton's iteration for the inverse of an odd number mod 2^32
    for (int i = 0; i < 5; ++i) inverse *= 2u - kMul * inverse;
    const auto back = [&](uint32_t state) { return (state - kInc) * inverse; };
    const auto draw = [](uint32_t state) { return static_cast<int>((state >> 16) & 0x7FFFu); };
    for (uint32_t free = 0; free < (1u << 17); ++free) {
        const uint32_t s2 = (free >> 16) << 31 | static_cast<uint32_t>(r2) << 16 | (free & 0xFFFFu);
        const uint32_t s1 = back(s2);
        if (draw(s1) % 4 == 0 && PowerClassFromRoll(draw(s2 * kMul + kInc) % 1000) == powerClass) {
            return back(s1);
        }
    }
    ADD_FAILURE() << "no seed for r2 " << r2 << " in class " << powerClass;
    return 0;
}

TEST(RollProfile, WorkedExampleNearTwoToThe64)
{
    // r1 = 0 mod 4, r2 = 16384: raw = 2^64 - 2^31 + 2^16.
    const struct {
        int powerClass;
        uint64_t power;
        int64_t age;  // checked only where it comes from the raw power
    } cases[] = {{0, 4, -1}, {1, 500, -1}, {2, 3500, -1}, {6, 2'000'000, 2'133'504}, {7, 71'500'000'000, 62'133'504}};
    for (const auto& c : cases) {
        Srand(SeedFor(16384, c.powerClass));
        const Profile p = RollProfile(1);
        EXPECT_EQ(p.powerClass, c.powerClass);
        EXPECT_EQ(p.targetPower, c.power) << "class " << c.powerClass;
        if (c.age >= 0) {
            EXPECT_EQ(p.age, c.age) << "class " << c.powerClass;
        }
        EXPECT_EQ(PowerForClass(RawPower(0, 16384), c.powerClass), c.power);
    }
    EXPECT_THROW(PowerForClass(0, kPowerClassCount), std::out_of_range);
}

// Per class: power ceiling and step; age ceiling and whether it is drawn
// (otherwise raw power modulo the ceiling); height and weight as [min, min + span).
struct ClassRule {
    uint64_t powerCeiling, powerStep;
    int64_t ageCeiling;
    bool ageDrawn;
    int heightMin, heightSpan, weightMin, weightSpan;
};
constexpr ClassRule kRules[kPowerClassCount] = {
    {100, 1, 80, true, 140, 60, 40, 60},
    {1'000, 10, 80, true, 140, 60, 40, 60},
    {10'000, 100, 80, true, 140, 60, 40, 60},
    {100'000, 1'000, 200, true, 140, 60, 40, 60},
    {500'000, 10'000, 1000, true, 140, 60, 40, 60},
    {1'000'000, 10'000, 10000, true, 0, 1000, 0, 1000},
    {10'000'000, 1'000'000, 10'000'000, false, 0, 5000, 0, 5000},
    {1'000'000'000'000, 100'000'000, 100'000'000, false, 0, 10000, 0, 10000},
};

// Replays RollProfile's draws by hand from the same seeds.
Profile Replay(uint32_t seed, uint32_t pickSeed, const CRandomData& lists)
{
    Srand(seed);
    Profile p;
    const int r1 = Rand();
    const uint64_t raw = RawPower(r1, Rand());
    p.powerClass = PowerClassFromRoll(Rand() % 1000);
    const ClassRule& rule = kRules[p.powerClass];
    p.age = rule.ageDrawn ? Rand() % rule.ageCeiling : static_cast<int64_t>(raw % rule.ageCeiling);
    p.height = rule.heightMin + Rand() % rule.heightSpan;
    p.weight = rule.weightMin + Rand() % rule.weightSpan;
    p.targetPower = PowerForClass(raw, p.powerClass);
    Srand(pickSeed);
    const std::vector<std::string>& names = lists.Names(Rand() % 5);
    p.name = names[Rand() % names.size()];
    const std::vector<std::string>& origins = lists.Origins(Rand() % 3);
    p.origin = origins[Rand() % origins.size()];
    return p;
}

auto Fields(const Profile& p)
{
    return std::tie(p.powerClass, p.targetPower, p.age, p.height, p.weight, p.name, p.origin);
}

// Seeds whose third draw lands in each class, so that every branch is replayed.
std::vector<uint32_t> OneSeedPerClass()
{
    std::vector<uint32_t> seeds(kPowerClassCount, 0);
    for (uint32_t seed = 1; std::count(seeds.begin(), seeds.end(), 0u) > 0; ++seed) {
        Srand(seed);
        Rand();
        Rand();
        uint32_t& slot = seeds[PowerClassFromRoll(Rand() % 1000)];
        if (slot == 0) slot = seed;
    }
    return seeds;
}

TEST(RollProfile, DrawsInTheFixedOrder)
{
    const CRandomData lists(0);
    for (const uint32_t seed : OneSeedPerClass()) {
        const uint32_t pickSeed = seed * 2654435761u;
        const Profile expected = Replay(seed, pickSeed, lists);
        const int nextExpected = Rand();
        Srand(seed);
        const Profile got = RollProfile(pickSeed);
        EXPECT_EQ(Fields(got), Fields(expected)) << "seed " << seed;
        EXPECT_EQ(Rand(), nextExpected) << "seed " << seed;  // no draw left over or skipped
    }
}

TEST(RollProfile, ValuesStayInTheirClassRanges)
{
    for (uint32_t seed = 0; seed < 3000; ++seed) {
        Srand(seed * 7919u);
        const Profile p = RollProfile(seed);
        ASSERT_GE(p.powerClass, 0);
        ASSERT_LT(p.powerClass, kPowerClassCount);
        const ClassRule& rule = kRules[p.powerClass];
        SCOPED_TRACE(seed);
        EXPECT_LT(p.targetPower, rule.powerCeiling);
        EXPECT_EQ(p.targetPower % rule.powerStep, 0u);
        EXPECT_GE(p.age, 0);
        EXPECT_LT(p.age, rule.ageCeiling);
        EXPECT_GE(p.height, rule.heightMin);
        EXPECT_LT(p.height, rule.heightMin + rule.heightSpan);
        EXPECT_GE(p.weight, rule.weightMin);
        EXPECT_LT(p.weight, rule.weightMin + rule.weightSpan);
        EXPECT_FALSE(p.name.empty());
        EXPECT_FALSE(p.origin.empty());
    }
}

// Share of draws that land on an entry of each list, against the share
// expected when the list is chosen evenly and then the entry evenly (lists
// share some entries, which both shares count alike).
void ExpectEvenListChoice(const std::vector<const std::vector<std::string>*>& lists,
                          std::string (CRandomData::*pick)() const, const CRandomData& data)
{
    std::vector<std::unordered_set<std::string>> members;
    for (const auto* list : lists) members.emplace_back(list->begin(), list->end());
    constexpr int kDraws = 60000;
    std::vector<int> hits(lists.size(), 0);
    for (int i = 0; i < kDraws; ++i) {
        const std::string drawn = (data.*pick)();
        for (size_t k = 0; k < lists.size(); ++k) hits[k] += members[k].count(drawn) ? 1 : 0;
    }
    for (size_t k = 0; k < lists.size(); ++k) {
        double expected = 0;
        for (const auto* list : lists) {
            for (const std::string& entry : *list) expected += members[k].count(entry) / double(list->size());
        }
        expected /= lists.size();
        EXPECT_NEAR(hits[k] / double(kDraws), expected, 0.012) << "list " << k;
    }
}

TEST(RandomData, EachListIsChosenEvenly)
{
    const CRandomData data(12345);
    ExpectEvenListChoice({&data.Names(0), &data.Names(1), &data.Names(2), &data.Names(3), &data.Names(4)},
                         &CRandomData::PickName, data);
    ExpectEvenListChoice({&data.Origins(0), &data.Origins(1), &data.Origins(2)}, &CRandomData::PickOrigin, data);
}

}  // namespace

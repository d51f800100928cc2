// Times what a new face costs on the worker thread: building CRandomData and
// rolling one profile (which builds its own CRandomData), as medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/RuntimeRandom.h"
#include "profiles/ProfileRoll.h"
#include "profiles/RandomData.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
double MedianMicroseconds(int iterations, Fn&& fn)
{
    std::vector<double> samples;
    samples.reserve(iterations);
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        fn(i);
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

int main()
{
    constexpr int kIterations = 2000;
    size_t sink = 0;  // keeps the work observable so it is not optimised away
    const double build = MedianMicroseconds(kIterations, [&](int i) {
        const quell::CRandomData data(static_cast<uint32_t>(i));
        sink += data.Names(0).size();
    });
    const double roll = MedianMicroseconds(kIterations, [&](int i) {
        quell::Srand(static_cast<uint32_t>(i) * 7919u);
        sink += quell::RollProfile(static_cast<uint32_t>(i)).name.size();
    });
    std::printf("CRandomData construction: median %.1f us over %d runs\n", build, kIterations);
    std::printf("CRandomData + RollProfile: median %.1f us over %d runs\n", roll, kIterations);
    std::printf("(checksum %zu)\n", sink);
    return 0;
}

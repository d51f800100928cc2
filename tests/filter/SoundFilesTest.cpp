// The sounds the build synthesises into the data folder: playable PCM,
// audible without clipping, a seamless counting loop, results that grow
// with the power class, and no two alike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Wav {
    uint16_t format = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t bits = 0;
    std::vector<int16_t> samples;
};

// Reads a canonical WAVE file; an empty result when it is not one.
Wav ReadWav(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Wav wav;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        return wav;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        const char* body = bytes.data() + at + 8;
        if (at + 8 + size > bytes.size())
            break;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && size >= 16) {
            std::memcpy(&wav.format, body, 2);
            std::memcpy(&wav.channels, body + 2, 2);
            std::memcpy(&wav.rate, body + 4, 4);
            std::memcpy(&wav.bits, body + 14, 2);
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            wav.samples.resize(size / 2);
            std::memcpy(wav.samples.data(), body, wav.samples.size() * 2);
        }
        at += 8 + size + (size & 1);
    }
    return wav;
}

Wav Load(const std::string& name)
{
    return ReadWav(std::string(QUELL_DATA_DIR) + "/" + name);
}

double Seconds(const Wav& w)
{
    return w.rate ? static_cast<double>(w.samples.size()) / w.rate : 0.0;
}

int Peak(const Wav& w)
{
    int peak = 0;
    for (const int16_t s : w.samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

const char* const kNames[] = {"count.wav",  "point1.wav", "point2.wav", "point3.wav",
                              "point4.wav", "point5.wav", "point6.wav", "lost.wav"};

TEST(SoundFiles, AreAudibleUnclipped16BitPcm)
{
    for (const char* name : kNames) {
        const Wav w = Load(name);
        EXPECT_EQ(w.format, 1) << name;
        EXPECT_EQ(w.bits, 16) << name;
        EXPECT_GE(w.channels, 1) << name;
        EXPECT_GE(w.rate, 22050u) << name;
        EXPECT_GT(Seconds(w), 0.3) << name;
        EXPECT_LT(Seconds(w), 4.0) << name << ": a cue, not a song";
        EXPECT_GT(Peak(w), 32767 / 4) << name << " is too quiet";
        EXPECT_LT(Peak(w), 32000) << name << " clips";
    }
}

TEST(SoundFiles, OneShotsStartAndEndInSilenceAndTheLoopHasNoSeam)
{
    for (const char* name : kNames) {
        const Wav w = Load(name);
        ASSERT_GT(w.samples.size(), 100u) << name;
        if (std::string(name) == "count.wav") {
            // Played over and over: the last sample leads into the first as
            // smoothly as neighbouring samples do inside the loop.
            double meanStep = 0;
            for (size_t i = 1; i < w.samples.size(); ++i)
                meanStep += std::abs(w.samples[i] - w.samples[i - 1]);
            meanStep /= static_cast<double>(w.samples.size() - 1);
            EXPECT_LT(std::abs(w.samples.front() - w.samples.back()), 2 * meanStep);
        } else {
            EXPECT_LT(std::abs(w.samples.front()), 64) << name << " starts with a click";
            EXPECT_LT(std::abs(w.samples.back()), 64) << name << " ends with a click";
        }
    }
}

TEST(SoundFiles, ResultsGrowWithThePowerClassAndAllDiffer)
{
    double previous = 0.0;
    for (int i = 1; i <= 6; ++i) {
        const double seconds = Seconds(Load("point" + std::to_string(i) + ".wav"));
        EXPECT_GT(seconds, previous) << "point" << i << ".wav is not longer than the class below";
        previous = seconds;
    }
    for (size_t a = 0; a < std::size(kNames); ++a)
        for (size_t b = a + 1; b < std::size(kNames); ++b)
            EXPECT_NE(Load(kNames[a]).samples, Load(kNames[b]).samples) << kNames[a] << " = " << kNames[b];
}

}  // namespace

// Synthesises the effect's sounds as 16-bit mono PCM WAVE files: a loopable
// counting sound, six result jingles that grow with the power class, and a
// sound for a lost face. Run at build time:
//
//   quell_sound_generator <output folder>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Equal-tempered pitch of a MIDI note number (69 = A4 = 440 Hz).
double Pitch(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

struct Voice {
    double start = 0.0;     // seconds
    double length = 0.3;    // seconds until the release begins
    double from = 440.0;    // Hz at the start
    double to = 0.0;        // Hz at the end of `length` (0: no glide)
    double amp = 0.3;
    double attack = 0.005;  // seconds
    double decay = 0.25;    // time constant of the exponential fall, seconds
    double release = 0.05;  // seconds of fade-out after `length`
    double vibrato = 0.0;   // depth in semitones, at 5.5 Hz
    std::vector<double> partials = {1.0};  // amplitudes of harmonics 1, 2, 3...
};

class Track {
public:
    explicit Track(double seconds) : m_samples(static_cast<size_t>(seconds * kRate), 0.0) {}

    // Adds one enveloped note. With `wrap`, what runs past the end continues
    // at the start, so that a looped track has no seam.
    void Add(const Voice& v, bool wrap = false)
    {
        const size_t first = static_cast<size_t>(v.start * kRate);
        const size_t count = static_cast<size_t>((v.length + v.release) * kRate);
        double phase = 0.0;
        for (size_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(i) / kRate;
            const double glide = v.to > 0.0 ? std::min(t / v.length, 1.0) : 0.0;
            double f = v.from * std::pow(v.to > 0.0 ? v.to / v.from : 1.0, glide);
            if (v.vibrato > 0.0)
                f *= std::pow(2.0, v.vibrato / 12.0 * std::sin(kTwoPi * 5.5 * t) * std::min(t / 0.3, 1.0));
            phase += kTwoPi * f / kRate;
            double env = std::min(t / v.attack, 1.0) * std::exp(-t / v.decay);
            if (t > v.length)
                env *= std::max(0.0, 1.0 - (t - v.length) / v.release);
            double sample = 0.0;
            int harmonic = 1;
            for (const double a : v.partials) {
                // Harmonics above 10 kHz are left out: they only sound harsh.
                if (f * harmonic < 10000.0)
                    sample += a * std::sin(phase * harmonic);
                ++harmonic;
            }
            size_t at = first + i;
            if (at >= m_samples.size()) {
                if (!wrap)
                    break;
                at %= m_samples.size();
            }
            m_samples[at] += v.amp * env * sample;
        }
    }

    // A small room: four feedback comb filters in parallel, mixed in
    // quietly. With `wrap` the tail folds back to the start (for loops).
    void Reverb(double wet, bool wrap)
    {
        const size_t n = m_samples.size();
        const size_t tail = wrap ? 0 : static_cast<size_t>(0.5 * kRate);
        std::vector<double> dry = m_samples;
        dry.resize(n + tail, 0.0);
        std::vector<double> out(n + tail, 0.0);
        for (const double ms : {29.7, 37.1, 41.1, 43.7}) {
            const size_t d = static_cast<size_t>(ms * kRate / 1000.0);
            std::vector<double> comb(n + tail, 0.0);
            // Loops run the comb twice around so that the wrapped state is settled.
            const int rounds = wrap ? 3 : 1;
            for (int r = 0; r < rounds; ++r)
                for (size_t i = 0; i < n + tail; ++i) {
                    const size_t back = i >= d ? i - d : (wrap ? i + n - d : SIZE_MAX);
                    comb[i] = dry[i] + (back == SIZE_MAX ? 0.0 : 0.72 * comb[back]);
                }
            for (size_t i = 0; i < n + tail; ++i)
                out[i] += comb[i] / 4.0;
        }
        m_samples.resize(n + tail, 0.0);
        for (size_t i = 0; i < n + tail; ++i)
            m_samples[i] = dry[i] + wet * (out[i] - dry[i]);
    }

    // Scales to a peak of `peak` (of full scale) and fades the last
    // `fadeOut` seconds to silence.
    void Finish(double peak, double fadeOut)
    {
        double top = 0.0;
        for (const double s : m_samples)
            top = std::max(top, std::fabs(s));
        const double gain = top > 0.0 ? peak / top : 0.0;
        const size_t fade = static_cast<size_t>(fadeOut * kRate);
        for (size_t i = 0; i < m_samples.size(); ++i) {
            m_samples[i] *= gain;
            const size_t left = m_samples.size() - i;
            if (left <= fade)
                m_samples[i] *= static_cast<double>(left - 1) / fade;
        }
    }

    bool Write(const std::string& path) const
    {
        std::ofstream out(path, std::ios::binary);
        auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
        const uint32_t bytes = static_cast<uint32_t>(m_samples.size() * 2);
        out.write("RIFF", 4);
        u32(36 + bytes);
        out.write("WAVEfmt ", 8);
        u32(16);
        u16(1);  // PCM
        u16(1);  // mono
        u32(kRate);
        u32(kRate * 2);
        u16(2);
        u16(16);
        out.write("data", 4);
        u32(bytes);
        for (const double s : m_samples) {
            const auto v = static_cast<int16_t>(std::lround(std::clamp(s, -1.0, 1.0) * 32767.0));
            u16(static_cast<uint16_t>(v));
        }
        return static_cast<bool>(out);
    }

private:
    std::vector<double> m_samples;
};

// Soft bell: strong fundamental, a touch of the octave and twelfth.
const std::vector<double> kBell = {1.0, 0.35, 0.12, 0.05};
// Brighter brass-like tone for the big results.
const std::vector<double> kBright = {1.0, 0.6, 0.45, 0.3, 0.2, 0.12, 0.08};

// Counting: a 1.6 s loop of sixteen short blips climbing a pentatonic
// figure, over a quiet pulse one octave down on every beat.
Track Count()
{
    const double loop = 1.6;
    Track track(loop);
    const int figure[16] = {84, 86, 88, 91, 93, 91, 88, 86, 84, 86, 88, 91, 93, 96, 93, 91};
    for (int i = 0; i < 16; ++i) {
        Voice blip;
        blip.start = i * 0.1;
        blip.length = 0.06;
        blip.release = 0.02;
        blip.from = Pitch(figure[i]);
        blip.amp = i % 4 == 0 ? 0.32 : 0.22;
        blip.attack = 0.004;
        blip.decay = 0.03;
        blip.partials = {1.0, 0.25};
        track.Add(blip, true);
    }
    for (int beat = 0; beat < 4; ++beat) {
        Voice pulse;
        pulse.start = beat * 0.4;
        pulse.length = 0.25;
        pulse.release = 0.1;
        pulse.from = Pitch(beat % 2 ? 60 : 55);
        pulse.amp = 0.18;
        pulse.attack = 0.01;
        pulse.decay = 0.12;
        pulse.partials = {1.0, 0.2};
        track.Add(pulse, true);
    }
    track.Reverb(0.18, true);
    track.Finish(0.6, 0.0);
    return track;
}

// The result jingles: the higher the class, the more notes, the higher the
// last one, the longer the ring and the brighter the timbre.
Track Result(int level)
{
    struct Plan {
        std::vector<int> notes;  // arpeggio, MIDI numbers
        double spacing;          // seconds between notes
        std::vector<int> chord;  // held at the end
        double hold;             // seconds the chord rings
        std::vector<double> timbre;
        double vibrato;
    };
    const Plan plans[6] = {
        {{67, 64}, 0.14, {}, 0.0, kBell, 0.0},                                             // a small "hm"
        {{72, 76}, 0.12, {76}, 0.35, kBell, 0.0},                                          // two up
        {{72, 76, 79}, 0.11, {79}, 0.5, kBell, 0.0},                                       // triad
        {{72, 76, 79, 84}, 0.1, {72, 76, 84}, 0.7, kBell, 0.05},                           // octave reached
        {{72, 76, 79, 84, 88}, 0.08, {72, 76, 79, 84}, 1.0, kBright, 0.12},                // chord with vibrato
        {{60, 64, 67, 72, 76, 79, 84, 88, 91, 96}, 0.06, {60, 67, 72, 76, 79, 84, 96}, 1.5, kBright, 0.15},  // fanfare
    };
    const Plan& plan = plans[level];
    const double arpeggio = plan.notes.size() * plan.spacing;
    Track track(arpeggio + plan.hold + 0.35);
    int i = 0;
    for (const int note : plan.notes) {
        Voice v;
        v.start = i++ * plan.spacing;
        v.length = plan.spacing * 1.6;
        v.release = 0.12;
        v.from = Pitch(note);
        v.amp = 0.3;
        v.decay = 0.18;
        v.partials = plan.timbre;
        track.Add(v);
    }
    for (const int note : plan.chord) {
        // Each chord note as two slightly detuned voices: a gentle shimmer.
        for (const double detune : {-0.004, 0.004}) {
            Voice v;
            v.start = arpeggio;
            v.length = plan.hold;
            v.release = 0.3;
            v.from = Pitch(note) * (1.0 + detune);
            v.amp = 0.16;
            v.attack = 0.01;
            v.decay = 0.6 + plan.hold;
            v.vibrato = plan.vibrato;
            v.partials = plan.timbre;
            track.Add(v);
        }
    }
    if (level == 5) {
        // A sparkle of high bell notes over the final chord.
        for (int k = 0; k < 8; ++k) {
            Voice v;
            v.start = arpeggio + 0.1 + k * 0.09;
            v.length = 0.08;
            v.release = 0.1;
            v.from = Pitch(100 + (k * 5) % 12);
            v.amp = 0.08;
            v.decay = 0.08;
            track.Add(v);
        }
    }
    track.Reverb(0.25, false);
    track.Finish(0.7, 0.05);
    return track;
}

// Lost: a soft two-step fall, G4 sliding to C4.
Track Lost()
{
    Track track(0.75);
    Voice first;
    first.start = 0.0;
    first.length = 0.16;
    first.release = 0.05;
    first.from = Pitch(67);
    first.amp = 0.3;
    first.decay = 0.3;
    first.partials = {1.0, 0.3, 0.1};
    track.Add(first);
    Voice second;
    second.start = 0.2;
    second.length = 0.35;
    second.release = 0.15;
    second.from = Pitch(64);
    second.to = Pitch(60);
    second.amp = 0.3;
    second.decay = 0.35;
    second.partials = {1.0, 0.3, 0.1};
    track.Add(second);
    track.Reverb(0.2, false);
    track.Finish(0.6, 0.05);
    return track;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = Count().Write(dir + "/count.wav");
    for (int level = 0; level < 6; ++level)
        ok = Result(level).Write(dir + "/point" + std::to_string(level + 1) + ".wav") && ok;
    ok = Lost().Write(dir + "/lost.wav") && ok;
    if (!ok) {
        std::fprintf(stderr, "cannot write the sounds into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}

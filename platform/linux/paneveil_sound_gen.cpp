// paneveil-sound-gen OUTPUT_DIR: synthesises the helper's own lock and
// unlock sounds as 16-bit mono PCM WAV files named after the sounds the
// lock manager plays. Deterministic, so a rebuild writes the same bytes.
#include "LockManager.h"
#include "NamedSounds.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int sampleRate = 44100;

struct Partial {
    double frequency; // Hz
    double amplitude; // relative
    double decay;     // seconds to fall to 1/e
};

// A struck, undamped body: a few partials, each decaying exponentially,
// after a short attack that keeps the start free of clicks.
std::vector<double> strike(const std::vector<Partial> &partials, double seconds, double attackSeconds)
{
    const int count = int(seconds * sampleRate);
    std::vector<double> samples(size_t(count), 0.0);
    for (int i = 0; i < count; ++i) {
        const double t = double(i) / sampleRate;
        double value = 0;
        for (const Partial &p : partials)
            value += p.amplitude * std::exp(-t / p.decay) * std::sin(2 * std::numbers::pi * p.frequency * t);
        const double attack = t < attackSeconds ? t / attackSeconds : 1.0;
        // The last 10 ms fade to exact silence.
        const double tail = std::min(1.0, (seconds - t) / 0.010);
        samples[size_t(i)] = value * attack * tail;
    }
    return samples;
}

void putLE(std::string &out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

bool writeWav(const std::string &path, std::vector<double> samples, double peak)
{
    double largest = 0;
    for (double s : samples)
        largest = std::max(largest, std::fabs(s));
    const double scale = largest > 0 ? peak / largest : 0;

    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    std::string out;
    out += "RIFF";
    putLE(out, 36 + dataBytes, 4);
    out += "WAVEfmt ";
    putLE(out, 16, 4);
    putLE(out, 1, 2); // PCM
    putLE(out, 1, 2); // mono
    putLE(out, sampleRate, 4);
    putLE(out, sampleRate * 2, 4);
    putLE(out, 2, 2);
    putLE(out, 16, 2);
    out += "data";
    putLE(out, dataBytes, 4);
    for (double s : samples)
        putLE(out, uint32_t(int32_t(std::lround(s * scale * 32767.0)) & 0xFFFF), 2);

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), std::streamsize(out.size()));
    return bool(file);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const std::string suffix = NamedSounds::fileSuffix;

    // Lock: a short, bright tap.
    const auto lock = strike({{2489.0, 1.0, 0.030}, {6230.0, 0.35, 0.012}, {9100.0, 0.12, 0.006}}, 0.15, 0.0015);
    // Unlock: a softer glassy ring whose partials sit at a glass's
    // inharmonic ratios, fading over most of a second.
    const auto unlock = strike(
        {{1568.0, 1.0, 0.30}, {1568.0 * 2.32, 0.45, 0.18}, {1568.0 * 4.25, 0.22, 0.10}, {1568.0 * 6.63, 0.10, 0.06}},
        0.8, 0.003);

    const std::string lockPath = folder + "/" + LockManager::lockSound + suffix;
    const std::string unlockPath = folder + "/" + LockManager::unlockSound + suffix;
    // About -6 dBFS: audible, never startling.
    if (!writeWav(lockPath, lock, 0.5) || !writeWav(unlockPath, unlock, 0.5)) {
        std::fprintf(stderr, "paneveil-sound-gen: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}

#pragma once

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numbers>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace larkspire::testing {

// Interleaved float frames of a sine on every channel (channel c scaled by gains[c]).
inline std::vector<float> sine(double rate, std::size_t frames, double hz, double amplitude,
                               const std::vector<float>& gains) {
    std::vector<float> out(frames * gains.size());
    for (std::size_t f = 0; f < frames; ++f) {
        const double v =
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(f) / rate);
        for (std::size_t c = 0; c < gains.size(); ++c) {
            out[f * gains.size() + c] = static_cast<float>(v) * gains[c];
        }
    }
    return out;
}

// Little-endian 16-bit PCM of the given samples.
inline std::vector<std::uint8_t> pcm16(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> out;
    for (std::int16_t s : samples) {
        const auto u = static_cast<std::uint16_t>(s);
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
}

inline std::vector<std::int16_t> samples16(std::span<const std::uint8_t> pcm) {
    std::vector<std::int16_t> out;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        out.push_back(static_cast<std::int16_t>(pcm[i] | pcm[i + 1] << 8));
    }
    return out;
}

// Amplitude of one frequency in mono samples (Goertzel), normalised to a sine's peak.
inline double toneAmplitude(std::span<const std::int16_t> x, double rate, double hz) {
    const double w = 2.0 * std::numbers::pi * hz / rate;
    const double coeff = 2.0 * std::cos(w);
    double s1 = 0;
    double s2 = 0;
    for (std::int16_t v : x) {
        const double s0 = v / 32768.0 + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size());
}

// The strongest frequency between `from` and `to` in steps of `step` Hz.
inline double dominantFrequency(std::span<const std::int16_t> x, double rate, double from,
                                double to, double step) {
    double best = from;
    double bestAmplitude = -1;
    for (double hz = from; hz <= to; hz += step) {
        const double a = toneAmplitude(x, rate, hz);
        if (a > bestAmplitude) {
            bestAmplitude = a;
            best = hz;
        }
    }
    return best;
}

struct SoundFile {
    int channels = 0;
    int rate = 0;
    int format = 0;
    std::vector<float> samples;  // interleaved
};

// Reads a whole file with libsndfile; throws when it refuses the file.
inline SoundFile readSound(const std::filesystem::path& p) {
    SF_INFO info{};
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(p.c_str(), SFM_READ, &info),
                                                     &sf_close);
    if (!file) {
        throw std::runtime_error("libsndfile refused " + p.string() + ": " + sf_strerror(nullptr));
    }
    SoundFile out{info.channels, info.samplerate, info.format, {}};
    out.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    const sf_count_t read = sf_readf_float(file.get(), out.samples.data(), info.frames);
    out.samples.resize(static_cast<std::size_t>(read * info.channels));
    return out;
}

// Writes interleaved float samples as a file of a libsndfile format; throws when refused.
inline void writeSound(const std::filesystem::path& p, int format, int rate, int channels,
                       const std::vector<float>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    std::unique_ptr<SNDFILE, int (*)(SNDFILE*)> file(sf_open(p.c_str(), SFM_WRITE, &info),
                                                     &sf_close);
    if (!file) {
        throw std::runtime_error("libsndfile cannot write " + p.string() + ": " +
                                 sf_strerror(nullptr));
    }
    sf_writef_float(file.get(), samples.data(), static_cast<sf_count_t>(samples.size()) / channels);
}

}  // namespace larkspire::testing

#include "audio/Conversion.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "util/CHandle.h"

namespace larkspire {
namespace {

using SndfileHandle = CHandle<SNDFILE, sf_close>;
using SoxrHandle = CHandle<std::remove_pointer_t<soxr_t>, soxr_delete>;

constexpr sf_count_t kInputFrames = 16384;
constexpr std::size_t kOutputFrames = 8192;
constexpr double kTargetRate = 16000.0;
// The rates a microphone delivers (PulseAudio's limit is 384 kHz). The output grows with
// 16000 / rate: a spool header claiming 1 Hz made a 4 KB file take 5 s and 390 MB to
// convert, and a 240 KB one more than 2 GB.
constexpr int kMinimumRate = 1000;
constexpr int kMaximumRate = 768000;

void appendLE(Bytes& out, const std::int16_t* samples, std::size_t count) {
    const std::size_t at = out.size();
    out.resize(at + 2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        out[at + 2 * i] = static_cast<std::uint8_t>(v);
        out[at + 2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
}

}  // namespace

std::optional<Bytes> convertTo16kMonoInt16(const std::filesystem::path& file) {
    SF_INFO info{};
    SndfileHandle in(sf_open(file.c_str(), SFM_READ, &info));
    if (!in || info.channels <= 0 || info.samplerate < kMinimumRate ||
        info.samplerate > kMaximumRate) {
        return std::nullopt;
    }
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    soxr_io_spec_t ioNoDither = io;
    ioNoDither.flags |= SOXR_NO_DITHER;  // reproducible output, as sox -D
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    SoxrHandle resampler(soxr_create(static_cast<double>(info.samplerate), kTargetRate, 1, &error,
                                     &ioNoDither, &quality, nullptr));
    if (!resampler || error) {
        return std::nullopt;
    }

    const auto channels = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(kInputFrames) * channels);
    std::vector<float> mono(static_cast<std::size_t>(kInputFrames));
    std::vector<std::int16_t> output(kOutputFrames);
    Bytes pcm;

    // Feeds `frames` of mono (or end of input when null) and drains what comes out.
    auto feed = [&](const float* samples, std::size_t frames) -> bool {
        std::size_t offset = 0;
        for (;;) {
            std::size_t used = 0;
            std::size_t produced = 0;
            error = soxr_process(resampler.get(), samples ? samples + offset : nullptr,
                                 frames - offset, &used, output.data(), output.size(), &produced);
            if (error) {
                return false;
            }
            appendLE(pcm, output.data(), produced);
            offset += used;
            if (samples ? (offset >= frames && produced < output.size()) : produced == 0) {
                return true;
            }
        }
    };

    for (;;) {
        const sf_count_t read = sf_readf_float(in.get(), interleaved.data(), kInputFrames);
        if (read <= 0) {
            break;
        }
        const auto frames = static_cast<std::size_t>(read);
        if (channels == 1) {
            std::copy_n(interleaved.data(), frames, mono.data());
        } else {
            const float scale = 1.0f / static_cast<float>(channels);
            for (std::size_t f = 0; f < frames; ++f) {
                const float* frame = interleaved.data() + f * channels;
                float sum = 0.0f;
                for (std::size_t c = 0; c < channels; ++c) {
                    sum += frame[c];
                }
                mono[f] = sum * scale;
            }
        }
        if (!feed(mono.data(), frames)) {
            return pcm;
        }
    }
    feed(nullptr, 0);
    return pcm;
}

}  // namespace larkspire

#include "audio/WAV.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace larkspire::WAV {
namespace {

using Header = std::array<std::uint8_t, headerSize>;

void putU32(Header& h, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) {
        h[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void putU16(Header& h, std::size_t at, std::uint16_t v) {
    h[at] = static_cast<std::uint8_t>(v);
    h[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void putTag(Header& h, std::size_t at, const char (&tag)[5]) {
    std::memcpy(h.data() + at, tag, 4);
}

std::uint32_t readU32(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint32_t>(in[at]) | static_cast<std::uint32_t>(in[at + 1]) << 8 |
           static_cast<std::uint32_t>(in[at + 2]) << 16 |
           static_cast<std::uint32_t>(in[at + 3]) << 24;
}

bool hasTag(std::span<const std::uint8_t> in, std::size_t at, const char (&tag)[5]) {
    return std::memcmp(in.data() + at, tag, 4) == 0;
}

}  // namespace

Bytes wrap(std::span<const std::uint8_t> pcm16k) {
    // Sizes of a payload beyond the format's 32-bit fields wrap rather than throw.
    const auto pcmSize = static_cast<std::uint32_t>(pcm16k.size());
    Header h{};
    putTag(h, 0, "RIFF");
    putU32(h, 4, pcmSize + 36);
    putTag(h, 8, "WAVE");
    putTag(h, 12, "fmt ");
    putU32(h, 16, 16);
    putU16(h, 20, 1);      // integer PCM
    putU16(h, 22, 1);      // channels
    putU32(h, 24, 16000);  // sample rate
    putU32(h, 28, 32000);  // byte rate
    putU16(h, 32, 2);      // block align
    putU16(h, 34, 16);     // bits per sample
    putTag(h, 36, "data");
    putU32(h, 40, pcmSize);
    Bytes out(headerSize + pcm16k.size());
    std::copy(h.begin(), h.end(), out.begin());
    std::copy(pcm16k.begin(), pcm16k.end(), out.begin() + headerSize);
    return out;
}

std::optional<Bytes> pcmData(std::span<const std::uint8_t> wav) {
    if (wav.size() < 12 || !hasTag(wav, 0, "RIFF") || !hasTag(wav, 8, "WAVE")) {
        return std::nullopt;
    }
    // 64-bit positions: a 32-bit size near its maximum must not wrap past the end.
    std::uint64_t position = 12;
    const std::uint64_t length = wav.size();
    for (;;) {
        if (length < position + 8) {
            return std::nullopt;
        }
        const auto at = static_cast<std::size_t>(position);
        const std::uint64_t size = readU32(wav, at + 4);
        const std::uint64_t bodyStart = position + 8;
        const std::uint64_t bodyEnd = bodyStart + size;
        if (bodyEnd > length) {
            return std::nullopt;
        }
        if (hasTag(wav, at, "data")) {
            return Bytes(wav.begin() + static_cast<std::ptrdiff_t>(bodyStart),
                         wav.begin() + static_cast<std::ptrdiff_t>(bodyEnd));
        }
        position = bodyEnd + (size % 2);
    }
}

std::vector<Bytes> chunks(std::span<const std::uint8_t> wav, std::int64_t maximumPCMBytes) {
    std::vector<Bytes> pieces;
    const auto pcm = pcmData(wav);
    if (!pcm || pcm->empty()) {
        return pieces;
    }
    // Whole samples only; a limit below one sample still cuts one-sample pieces.
    const std::int64_t step = maximumPCMBytes - maximumPCMBytes % 2;
    const auto pieceSize = static_cast<std::size_t>(std::max<std::int64_t>(step, 2));
    for (std::size_t offset = 0; offset < pcm->size();) {
        const std::size_t length = std::min(pcm->size() - offset, pieceSize);
        pieces.push_back(wrap(std::span(*pcm).subspan(offset, length)));
        offset += length;
    }
    return pieces;
}

bool hasPlausibleVoiceSignal(std::span<const std::uint8_t> wav) {
    const auto pcm = pcmData(wav);
    if (!pcm || pcm->size() < 2) {
        return false;
    }
    double sumOfSquares = 0.0;
    std::size_t count = 0;
    std::int32_t peak = 0;
    for (std::size_t i = 0; i + 1 < pcm->size(); i += 2) {
        const auto s = static_cast<std::int16_t>(static_cast<std::uint16_t>((*pcm)[i]) |
                                                 static_cast<std::uint16_t>((*pcm)[i + 1]) << 8);
        const double x = static_cast<double>(s) / 32768.0;
        sumOfSquares += x * x;
        ++count;
        peak = std::max(peak, std::abs(static_cast<std::int32_t>(s)));
    }
    if (count == 0 || peak < 64) {
        return false;
    }
    const double rms = std::sqrt(sumOfSquares / static_cast<double>(count));
    return rms < 0.6;
}

}  // namespace larkspire::WAV

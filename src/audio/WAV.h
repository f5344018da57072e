#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace larkspire {

using Bytes = std::vector<std::uint8_t>;

// Pure functions over WAV bytes: the canonical 44-byte header of 16 kHz mono signed
// 16-bit little-endian PCM. None of them throws on malformed input.
namespace WAV {

inline constexpr std::size_t headerSize = 44;
// Bytes of 16 kHz mono 16-bit PCM per second of audio.
inline constexpr std::size_t pcmBytesPerSecond = 32000;

// The WAV file: the 44-byte header followed by `pcm16k`. Both size fields are unsigned
// 32-bit; a payload above 4294967259 bytes is outside the format and its sizes wrap.
Bytes wrap(std::span<const std::uint8_t> pcm16k);

// The payload of the first "data" chunk, in a buffer of its own; nothing when the
// input is not a RIFF/WAVE file or no complete "data" chunk is found.
std::optional<Bytes> pcmData(std::span<const std::uint8_t> wav);

// Complete WAV files holding at most `maximumPCMBytes` of PCM each (rounded down to
// whole samples, at least one sample); empty when no PCM is found.
std::vector<Bytes> chunks(std::span<const std::uint8_t> wav, std::int64_t maximumPCMBytes);

// True when the PCM's loudest sample reaches 64 and its RMS stays below 0.6 of full
// scale: neither silence nor saturated noise.
bool hasPlausibleVoiceSignal(std::span<const std::uint8_t> wav);

}  // namespace WAV
}  // namespace larkspire

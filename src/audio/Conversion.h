#pragma once

#include <filesystem>
#include <optional>

#include "audio/WAV.h"

namespace larkspire {

// Reads any audio file libsndfile opens, averages its channels and resamples it (libsoxr,
// high quality, no dither) to 16 kHz mono signed 16-bit little-endian PCM. Streams in
// bounded blocks, so memory grows only with the output. Nothing when the file cannot be
// opened or the resampler cannot be built; possibly empty when the file holds no frames.
std::optional<Bytes> convertTo16kMonoInt16(const std::filesystem::path& file);

}  // namespace larkspire

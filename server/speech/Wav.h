#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace larkspire::server::wav {

struct Pcm {
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// Reads a RIFF/WAVE file of 16-bit PCM. Returns false with a reason when the bytes are not
// one; chunk sizes larger than the file (a recorder cut short) are read up to the end.
bool parse(std::string_view bytes, Pcm& out, std::string& error);

// A canonical 44-byte-header WAV of 16-bit mono PCM.
std::string encode(const std::vector<int16_t>& samples, int sampleRate);

}  // namespace larkspire::server::wav

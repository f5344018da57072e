#pragma once

#include <cstdint>
#include <span>
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

// The same header for audio sent as it is made, before its length is known: the sizes are
// the largest there are, which readers take as "up to the end of the file".
std::string streamingHeader(int sampleRate);
// 16-bit samples as the data of such a file (little-endian).
void appendSamples(std::string& out, std::span<const int16_t> samples);

}  // namespace larkspire::server::wav

#include "server/speech/Wav.h"

#include <cstring>

namespace larkspire::server::wav {
namespace {

uint32_t le32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t le16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 static_cast<unsigned char>(b[at + 1]) << 8);
}

void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
    }
}

void put16(std::string& out, uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

}  // namespace

bool parse(std::string_view b, Pcm& out, std::string& error) {
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE") {
        error = "Audio is not a WAV file";
        return false;
    }
    bool haveFormat = false;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        std::string_view id = b.substr(at, 4);
        size_t size = le32(b, at + 4);
        size_t body = at + 8;
        size_t available = std::min(size, b.size() - body);
        if (id == "fmt ") {
            if (available < 16) {
                error = "Audio is not a WAV file";
                return false;
            }
            uint16_t format = le16(b, body);
            out.channels = le16(b, body + 2);
            out.sampleRate = static_cast<int>(le32(b, body + 4));
            uint16_t bits = le16(b, body + 14);
            if (format != 1 || bits != 16 || out.channels < 1) {
                error = "Audio must be 16-bit PCM";
                return false;
            }
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat) {
                error = "Audio is not a WAV file";
                return false;
            }
            out.samples.resize(available / 2);
            for (size_t i = 0; i < out.samples.size(); ++i) {
                out.samples[i] = static_cast<int16_t>(le16(b, body + 2 * i));
            }
            return true;
        }
        at = body + size + (size & 1);
    }
    error = "Audio is not a WAV file";
    return false;
}

namespace {

std::string header(uint32_t dataBytes, int sampleRate) {
    std::string out;
    out += "RIFF";
    put32(out, dataBytes > UINT32_MAX - 36 ? UINT32_MAX : 36 + dataBytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, static_cast<uint32_t>(sampleRate));
    put32(out, static_cast<uint32_t>(sampleRate) * 2);
    put16(out, 2);
    put16(out, 16);
    out += "data";
    put32(out, dataBytes);
    return out;
}

}  // namespace

std::string encode(const std::vector<int16_t>& samples, int sampleRate) {
    std::string out = header(static_cast<uint32_t>(samples.size() * 2), sampleRate);
    out.reserve(out.size() + samples.size() * 2);
    appendSamples(out, samples);
    return out;
}

std::string streamingHeader(int sampleRate) {
    return header(UINT32_MAX, sampleRate);
}

void appendSamples(std::string& out, std::span<const int16_t> samples) {
    for (int16_t s : samples) {
        put16(out, static_cast<uint16_t>(s));
    }
}

}  // namespace larkspire::server::wav

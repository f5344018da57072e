// Where a marker sound begins in a recording, by normalised cross-correlation: prints the
// marker's start in milliseconds from the recording's first sample (negative when the
// recording began after the marker did, that much of it lost). Both files are 16 kHz
// mono 16-bit WAV; the alignment must overlap at least 125 ms of the marker.
//   marker_onset MARKER.wav RECORDING.wav
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "audio/WAV.h"

namespace {

std::vector<double> samplesOf(const char* path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    const auto pcm = larkspire::WAV::pcmData(bytes);
    std::vector<double> out;
    if (!pcm) {
        return out;
    }
    for (std::size_t i = 0; i + 1 < pcm->size(); i += 2) {
        out.push_back(static_cast<std::int16_t>((*pcm)[i] | ((*pcm)[i + 1] << 8)) / 32768.0);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: marker_onset MARKER.wav RECORDING.wav\n", stderr);
        return 2;
    }
    const std::vector<double> marker = samplesOf(argv[1]);
    const std::vector<double> recording = samplesOf(argv[2]);
    constexpr long kMinOverlap = 2000;  // 125 ms at 16 kHz
    const long m = static_cast<long>(marker.size());
    const long r = static_cast<long>(recording.size());
    if (m < kMinOverlap || r < kMinOverlap) {
        std::fputs("marker_onset: a file is missing or too short\n", stderr);
        return 2;
    }
    double best = -1;
    long bestLag = 0;
    for (long lag = -(m - kMinOverlap); lag <= r - kMinOverlap; ++lag) {
        double dot = 0, mm = 0, rr = 0;
        for (long n = std::max(0L, -lag); n < m && n + lag < r; ++n) {
            dot += marker[n] * recording[n + lag];
            mm += marker[n] * marker[n];
            rr += recording[n + lag] * recording[n + lag];
        }
        const double score = mm > 0 && rr > 0 ? dot / std::sqrt(mm * rr) : 0;
        if (score > best) {
            best = score;
            bestLag = lag;
        }
    }
    std::printf("%.1f %.3f\n", static_cast<double>(bestLag) / 16.0, best);
    return best > 0.5 ? 0 : 1;
}

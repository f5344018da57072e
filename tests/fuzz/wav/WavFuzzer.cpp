// The WAV reader over any bytes: a pending recording read back from disk.
#include <algorithm>
#include <cstdint>
#include <span>

#include "audio/WAV.h"
#include "fuzz/FuzzSupport.h"

using namespace larkspire;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> wav(data, size);
    WAV::hasPlausibleVoiceSignal(wav);
    const auto pcm = WAV::pcmData(wav);
    // The first byte chooses the piece size, as small as one sample.
    const std::int64_t limit = size > 0 ? 1 + data[0] : 1;
    const std::vector<Bytes> pieces = WAV::chunks(wav, limit);
    if (!pcm) {
        return 0;
    }
    if (WAV::pcmData(WAV::wrap(*pcm)) != pcm) {
        fuzz::fail("wrapping the PCM does not give it back");
    }
    // The pieces hold the whole PCM, in order, each within the limit.
    Bytes joined;
    for (const Bytes& piece : pieces) {
        const auto part = WAV::pcmData(piece);
        if (!part || part->empty() ||
            part->size() > static_cast<std::size_t>(std::max<std::int64_t>(limit - limit % 2, 2))) {
            fuzz::fail("a piece without PCM or over the limit");
        }
        joined.insert(joined.end(), part->begin(), part->end());
    }
    if (joined != *pcm) {
        fuzz::fail("the pieces do not add up to the PCM");
    }
    return 0;
}

#include "platform/linux/pulse/PulseAudioPlayerFactory.h"

#include <pulse/sample.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "platform/linux/pulse/PulseAudioPlayer.h"
#include "util/CHandle.h"

namespace larkspire::linux_desktop {
namespace {

// libsndfile reads through these callbacks from a buffer in memory.
struct MemoryFile {
    std::span<const std::uint8_t> bytes;
    sf_count_t position = 0;
};

MemoryFile& file(void* userdata) {
    return *static_cast<MemoryFile*>(userdata);
}

SF_VIRTUAL_IO memoryIO() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* f) { return static_cast<sf_count_t>(file(f).bytes.size()); };
    io.seek = [](sf_count_t offset, int whence, void* f) {
        MemoryFile& m = file(f);
        const sf_count_t size = static_cast<sf_count_t>(m.bytes.size());
        const sf_count_t base = whence == SEEK_CUR ? m.position : whence == SEEK_END ? size : 0;
        m.position = std::clamp<sf_count_t>(base + offset, 0, size);
        return m.position;
    };
    io.read = [](void* out, sf_count_t count, void* f) {
        MemoryFile& m = file(f);
        const sf_count_t n =
            std::clamp<sf_count_t>(static_cast<sf_count_t>(m.bytes.size()) - m.position, 0, count);
        std::memcpy(out, m.bytes.data() + m.position, static_cast<std::size_t>(n));
        m.position += n;
        return n;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* f) { return file(f).position; };
    return io;
}

}  // namespace

std::unique_ptr<platform::AudioPlayer> PulseAudioPlayerFactory::makePlayer(
    std::span<const std::uint8_t> bytes) {
    MemoryFile memory{bytes};
    SF_VIRTUAL_IO io = memoryIO();
    SF_INFO info{};
    CHandle<SNDFILE, sf_close> in(sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!in || info.channels <= 0 || info.channels > int{PA_CHANNELS_MAX} ||
        info.samplerate < int{kMinSampleRate} || info.samplerate > int{kMaxSampleRate}) {
        return nullptr;
    }
    const auto limit = static_cast<std::size_t>(kMaxSeconds * info.samplerate);
    // What the file says of its length first: most formats know it exactly.
    if (info.frames > 0 && static_cast<std::size_t>(info.frames) > limit) {
        return nullptr;
    }
    DecodedSound sound;
    sound.sampleRate = static_cast<std::uint32_t>(info.samplerate);
    // Speech is mono: channels are averaged, so a many-channel answer costs no more.
    sound.channels = 1;
    const auto channels = static_cast<std::size_t>(info.channels);
    // One allocation of the length the file states, so decoding leaves no trail of
    // outgrown buffers behind (they kept 34 MB of a reading after its sound was gone).
    if (info.frames > 0) {
        sound.samples.reserve(static_cast<std::size_t>(info.frames));
    }
    // Compressed formats only estimate their length: read until the decoder stops, or
    // the sound passes the limit.
    constexpr sf_count_t kChunkFrames = 16384;
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(in.get(), chunk.data(), kChunkFrames);
        if (got <= 0) {
            break;
        }
        if (sound.samples.size() + static_cast<std::size_t>(got) > limit) {
            return nullptr;
        }
        for (sf_count_t f = 0; f < got; ++f) {
            const float* frame = chunk.data() + static_cast<std::size_t>(f) * channels;
            float sum = 0;
            for (std::size_t c = 0; c < channels; ++c) {
                sum += frame[c];
            }
            sound.samples.push_back(sum / static_cast<float>(channels));
        }
    }
    if (sound.samples.empty()) {
        return nullptr;  // nothing to play
    }
    return std::make_unique<PulseAudioPlayer>(scheduler_, std::move(sound));
}

}  // namespace larkspire::linux_desktop

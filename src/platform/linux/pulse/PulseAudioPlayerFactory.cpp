#include "platform/linux/pulse/PulseAudioPlayerFactory.h"

#include <pulse/sample.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

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

// The most frames decoded in one go.
constexpr sf_count_t kChunkFrames = 16384;

bool playable(const SF_INFO& info) {
    return info.channels > 0 && info.channels <= int{PA_CHANNELS_MAX} &&
           info.samplerate >= int{platform::AudioPlayerFactory::kMinSampleRate} &&
           info.samplerate <= int{PulseAudioPlayerFactory::kMaxSampleRate};
}

// Speech is mono: channels are averaged, so a many-channel answer costs no more.
void appendMono(const float* chunk, sf_count_t frames, std::size_t channels,
                std::vector<float>& out) {
    for (sf_count_t f = 0; f < frames; ++f) {
        const float* frame = chunk + static_cast<std::size_t>(f) * channels;
        float sum = 0;
        for (std::size_t c = 0; c < channels; ++c) {
            sum += frame[c];
        }
        out.push_back(sum / static_cast<float>(channels));
    }
}

}  // namespace

std::unique_ptr<platform::AudioPlayer> PulseAudioPlayerFactory::makePlayer(
    std::span<const std::uint8_t> bytes) {
    MemoryFile memory{bytes};
    SF_VIRTUAL_IO io = memoryIO();
    SF_INFO info{};
    CHandle<SNDFILE, sf_close> in(sf_open_virtual(&io, SFM_READ, &info, &memory));
    if (!in || !playable(info)) {
        return nullptr;
    }
    const auto limit = static_cast<std::size_t>(kMaxSeconds * info.samplerate);
    // What the file says of its length first: most formats know it exactly.
    if (info.frames > 0 && static_cast<std::size_t>(info.frames) > limit) {
        return nullptr;
    }
    std::vector<float> samples;
    const auto channels = static_cast<std::size_t>(info.channels);
    // One allocation of the length the file states, so decoding leaves no trail of
    // outgrown buffers behind (they kept 34 MB of a reading after its sound was gone).
    if (info.frames > 0) {
        samples.reserve(static_cast<std::size_t>(info.frames));
    }
    // Compressed formats only estimate their length: read until the decoder stops, or
    // the sound passes the limit.
    std::vector<float> chunk(static_cast<std::size_t>(kChunkFrames) * channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(in.get(), chunk.data(), kChunkFrames);
        if (got <= 0) {
            break;
        }
        if (samples.size() + static_cast<std::size_t>(got) > limit) {
            return nullptr;
        }
        appendMono(chunk.data(), got, channels, samples);
    }
    if (samples.empty()) {
        return nullptr;  // nothing to play
    }
    return std::make_unique<PulseAudioPlayer>(
        scheduler_, std::make_shared<const DecodedSound>(
                        static_cast<std::uint32_t>(info.samplerate), 1, std::move(samples)));
}

namespace {

// Bytes of a WAV answer still arriving, read by libsndfile through these callbacks. The
// length is unknown until the end, so the file claims to be long; reads return only whole
// frames once the header is read, and what has been decoded is let go.
struct ArrivingFile {
    static constexpr sf_count_t kClaimedLength = sf_count_t{1} << 40;
    std::vector<std::uint8_t> bytes;  // from `base` on
    sf_count_t base = 0;
    sf_count_t position = 0;
    sf_count_t granule = 1;
    sf_count_t end() const { return base + static_cast<sf_count_t>(bytes.size()); }
    // Whole granules ready to read.
    sf_count_t ready() const { return std::max<sf_count_t>(0, end() - position) / granule; }
};

ArrivingFile& arriving(void* userdata) {
    return *static_cast<ArrivingFile*>(userdata);
}

SF_VIRTUAL_IO arrivingIO() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void*) { return ArrivingFile::kClaimedLength; };
    io.seek = [](sf_count_t offset, int whence, void* f) {
        ArrivingFile& a = arriving(f);
        const sf_count_t origin = whence == SEEK_CUR   ? a.position
                                  : whence == SEEK_END ? ArrivingFile::kClaimedLength
                                                       : 0;
        a.position = std::clamp<sf_count_t>(origin + offset, a.base, ArrivingFile::kClaimedLength);
        return a.position;
    };
    io.read = [](void* out, sf_count_t count, void* f) {
        ArrivingFile& a = arriving(f);
        sf_count_t n = std::clamp<sf_count_t>(a.end() - a.position, 0, count);
        n -= n % a.granule;
        std::memcpy(out, a.bytes.data() + (a.position - a.base), static_cast<std::size_t>(n));
        a.position += n;
        return n;
    };
    io.write = [](const void*, sf_count_t, void*) { return sf_count_t{0}; };
    io.tell = [](void* f) { return arriving(f).position; };
    return io;
}

// Bytes a frame takes in the WAV encodings that are read in order with no state of their
// own; 0 for others (ADPCM, GSM…), which are decoded whole.
sf_count_t plainFrameBytes(const SF_INFO& info) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container != SF_FORMAT_WAV && container != SF_FORMAT_WAVEX) {
        return 0;
    }
    switch (info.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_ULAW:
        case SF_FORMAT_ALAW:
            return info.channels;
        case SF_FORMAT_PCM_16:
            return 2 * info.channels;
        case SF_FORMAT_PCM_24:
            return 3 * info.channels;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4 * info.channels;
        case SF_FORMAT_DOUBLE:
            return 8 * info.channels;
        default:
            return 0;
    }
}

bool startsLikeWav(std::span<const std::uint8_t> bytes) {
    constexpr std::string_view kRiff = "RIFF", kWave = "WAVE";
    return std::equal(kRiff.begin(), kRiff.end(), bytes.begin()) &&
           std::equal(kWave.begin(), kWave.end(), bytes.begin() + 8);
}

// True once the head of a WAV file up to its data has arrived.
bool hasDataChunk(std::span<const std::uint8_t> bytes) {
    constexpr std::string_view kData = "data";
    const auto at = std::search(bytes.begin() + 12, bytes.end(), kData.begin(), kData.end());
    return bytes.end() - at >= 8;
}

// WAV is decoded as it arrives, once its head is in; any other format, and a WAV head
// that does not open, is kept whole and decoded at the end as makePlayer does.
class ArrivingSoundFeed : public platform::AudioFeed {
  public:
    ArrivingSoundFeed(PulseAudioPlayerFactory& factory, platform::Scheduler& scheduler)
        : factory_(factory), scheduler_(scheduler) {}
    ~ArrivingSoundFeed() override {
        if (sound_) {
            sound_->end();  // a player handed over plays up to here
        }
    }

    bool append(std::span<const std::uint8_t> bytes) override {
        if (state_ == State::failed) {
            return false;
        }
        file_.bytes.insert(file_.bytes.end(), bytes.begin(), bytes.end());
        if (state_ == State::head) {
            open();
        }
        if (state_ == State::decoding && !decode()) {
            state_ = State::failed;
        }
        return state_ != State::failed;
    }

    bool finish() override {
        switch (state_) {
            case State::failed:
                return false;
            case State::head:
            case State::whole:
                player_ = factory_.makePlayer(file_.bytes);
                file_ = {};
                return player_ != nullptr;
            case State::decoding:
                if (!decode()) {
                    state_ = State::failed;
                    return false;
                }
                sound_->end();
                return sound_->frames() > 0;
        }
        return false;
    }

    std::unique_ptr<platform::AudioPlayer> takePlayer() override { return std::move(player_); }

  private:
    enum class State { head, whole, decoding, failed };
    // How much of an answer is looked through for the head of a WAV file.
    static constexpr std::size_t kMaxHead = 1 << 16;

    void open() {
        const std::span<const std::uint8_t> head(file_.bytes);
        if (head.size() < 12) {
            return;
        }
        if (!startsLikeWav(head) || head.size() > kMaxHead) {
            state_ = State::whole;
            return;
        }
        if (!hasDataChunk(head)) {
            return;
        }
        file_.position = 0;
        in_.reset(sf_open_virtual(&io_, SFM_READ, &info_, &file_));
        const sf_count_t frameBytes = in_ ? plainFrameBytes(info_) : 0;
        if (frameBytes == 0) {
            in_.reset();
            state_ = State::whole;
            return;
        }
        if (!playable(info_)) {
            state_ = State::failed;
            return;
        }
        file_.granule = frameBytes;
        channels_ = static_cast<std::size_t>(info_.channels);
        limit_ =
            static_cast<std::size_t>(platform::AudioPlayerFactory::kMaxSeconds * info_.samplerate);
        sound_ = std::make_shared<DecodedSound>(static_cast<std::uint32_t>(info_.samplerate), 1,
                                                std::vector<float>{}, true);
        state_ = State::decoding;
    }

    // Decodes the whole frames that have arrived; false once the sound passes the limit.
    bool decode() {
        std::vector<float> mono;
        while (const sf_count_t ready = std::min(file_.ready(), kChunkFrames)) {
            chunk_.resize(static_cast<std::size_t>(ready) * channels_);
            const sf_count_t got = sf_readf_float(in_.get(), chunk_.data(), ready);
            if (got <= 0) {
                break;  // past the data the header states
            }
            decoded_ += static_cast<std::size_t>(got);
            if (decoded_ > limit_) {
                return false;
            }
            appendMono(chunk_.data(), got, channels_, mono);
        }
        // The decoded bytes go; libsndfile never reads behind its position again.
        file_.bytes.erase(file_.bytes.begin(), file_.bytes.begin() + (file_.position - file_.base));
        file_.base = file_.position;
        if (!mono.empty()) {
            sound_->append(mono);
            if (!handedOver_) {
                handedOver_ = true;
                player_ = std::make_unique<PulseAudioPlayer>(scheduler_, sound_);
            }
        }
        return true;
    }

    PulseAudioPlayerFactory& factory_;
    platform::Scheduler& scheduler_;
    State state_ = State::head;
    ArrivingFile file_;
    SF_VIRTUAL_IO io_ = arrivingIO();
    SF_INFO info_{};
    CHandle<SNDFILE, sf_close> in_;
    std::size_t channels_ = 1;
    std::size_t limit_ = 0;
    std::size_t decoded_ = 0;
    std::vector<float> chunk_;
    std::shared_ptr<DecodedSound> sound_;
    std::unique_ptr<platform::AudioPlayer> player_;
    bool handedOver_ = false;
};

}  // namespace

std::unique_ptr<platform::AudioFeed> PulseAudioPlayerFactory::makeFeed() {
    return std::make_unique<ArrivingSoundFeed>(*this, scheduler_);
}

}  // namespace larkspire::linux_desktop

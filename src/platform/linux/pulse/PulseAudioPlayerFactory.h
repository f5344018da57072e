#pragma once

#include <cstdint>

#include "platform/AudioPlayerFactory.h"
#include "platform/Scheduler.h"

namespace larkspire::linux_desktop {

// Decodes with libsndfile (WAV, FLAC, Ogg Vorbis and Opus, MP3 on Debian 12), straight
// from memory, into mono, and plays through PulseAudioPlayer. Its feeds decode WAV as it
// arrives, so a long answer plays before its end. Holds no state of its own,
// so players may be made on any thread.
class PulseAudioPlayerFactory : public platform::AudioPlayerFactory {
  public:
    // Above any speech engine's rate: ten minutes at it are 115 MB of samples.
    static constexpr std::uint32_t kMaxSampleRate = 48000;

    // `scheduler` carries the players' ends of playback to the main queue.
    explicit PulseAudioPlayerFactory(platform::Scheduler& scheduler) : scheduler_(scheduler) {}

    std::unique_ptr<platform::AudioPlayer> makePlayer(std::span<const std::uint8_t> bytes) override;
    std::unique_ptr<platform::AudioFeed> makeFeed() override;

  private:
    platform::Scheduler& scheduler_;
};

}  // namespace larkspire::linux_desktop

#pragma once

#include "platform/AudioPlayerFactory.h"
#include "platform/Scheduler.h"

namespace larkspire::desktop {

// Decodes with libsndfile (WAV, FLAC, Ogg Vorbis and Opus, MP3 on Debian 12), straight
// from memory, and plays through PulseAudioPlayer.
class PulseAudioPlayerFactory : public platform::AudioPlayerFactory {
  public:
    // `scheduler` carries the players' ends of playback to the main queue.
    explicit PulseAudioPlayerFactory(platform::Scheduler& scheduler) : scheduler_(scheduler) {}

    std::unique_ptr<platform::AudioPlayer> makePlayer(std::span<const std::uint8_t> bytes) override;

  private:
    platform::Scheduler& scheduler_;
};

}  // namespace larkspire::desktop

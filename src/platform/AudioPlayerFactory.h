#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/AudioPlayer.h"

namespace larkspire::platform {

// Makes players from encoded audio as the service sends it.
class AudioPlayerFactory {
  public:
    virtual ~AudioPlayerFactory() = default;
    // Decodes `bytes` (WAV, FLAC, Ogg Vorbis or Opus, MP3) into a new player, paused at the
    // start. Null when the bytes are not a sound it can decode or hold no sound at all;
    // it never throws for bad bytes. Main thread; the whole sound is decoded here.
    virtual std::unique_ptr<AudioPlayer> makePlayer(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace larkspire::platform

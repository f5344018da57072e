#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/AudioPlayer.h"

namespace larkspire::platform {

// Makes players from encoded audio as the service sends it.
class AudioPlayerFactory {
  public:
    // The longest sound decoded, and the lowest rate: a few hundred kilobytes of
    // compressed silence at a low rate otherwise decode into gigabytes.
    static constexpr double kMaxSeconds = 600;
    static constexpr std::uint32_t kMinSampleRate = 8000;

    virtual ~AudioPlayerFactory() = default;
    // Decodes `bytes` (WAV, FLAC, Ogg Vorbis or Opus, MP3) into a new player, paused at the
    // start. Null when the bytes are not a sound it can decode, hold no sound at all, last
    // longer than kMaxSeconds or play slower than kMinSampleRate; decoding stops as soon
    // as the sound passes the limit, and it never throws for bad bytes. Any thread: the
    // whole sound is decoded here, so the logic calls it on a background queue; the player
    // is used on the main thread only from then on.
    virtual std::unique_ptr<AudioPlayer> makePlayer(std::span<const std::uint8_t> bytes) = 0;
};

}  // namespace larkspire::platform

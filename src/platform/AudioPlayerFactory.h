#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "platform/AudioPlayer.h"

namespace larkspire::platform {

// Takes one sound's encoded bytes as they arrive and makes its player as soon as playback
// can start: for a format decoded as it comes (WAV), once the first of the sound is in,
// the player then playing on as more arrives; for others once all of it is. Used on one
// thread, any; the player it hands over on the main thread only. Destroyed without
// finish(), the sound ends where its bytes ended (a download broken off), and a player
// already handed over plays up to there.
class AudioFeed {
  public:
    virtual ~AudioFeed() = default;
    // The next bytes. False once they are not a sound it can decode or the sound passed
    // kMaxSeconds: feed no more, the sound is not playable.
    virtual bool append(std::span<const std::uint8_t> bytes) = 0;
    // No more bytes come. False when the whole is not a playable sound.
    virtual bool finish() = 0;
    // The player, paused at the start, once playback can start; it is handed over once,
    // null before and after.
    virtual std::unique_ptr<AudioPlayer> takePlayer() = 0;
};

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

    // A feed for a sound still arriving, under the same rules as makePlayer. Unless a
    // factory decodes progressively, the feed keeps the bytes and decodes them at the end.
    virtual std::unique_ptr<AudioFeed> makeFeed() { return std::make_unique<WholeFeed>(*this); }

  private:
    class WholeFeed : public AudioFeed {
      public:
        explicit WholeFeed(AudioPlayerFactory& factory) : factory_(factory) {}
        bool append(std::span<const std::uint8_t> bytes) override {
            bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
            return true;
        }
        bool finish() override {
            player_ = factory_.makePlayer(bytes_);
            bytes_ = {};  // the encoded bytes go as soon as the sound is out of them
            return player_ != nullptr;
        }
        std::unique_ptr<AudioPlayer> takePlayer() override { return std::move(player_); }

      private:
        AudioPlayerFactory& factory_;
        std::vector<std::uint8_t> bytes_;
        std::unique_ptr<AudioPlayer> player_;
    };
};

}  // namespace larkspire::platform

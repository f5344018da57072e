#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/AudioPlayer.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire::linux_desktop {

// A decoded sound: interleaved float samples, whole or still arriving. While it arrives,
// one thread appends to it as another plays it.
class DecodedSound {
  public:
    // A whole sound, or with `arriving` the start of one that append() continues.
    DecodedSound(std::uint32_t sampleRate, std::uint32_t channels, std::vector<float> samples,
                 bool arriving = false);

    std::uint32_t sampleRate() const { return sampleRate_; }
    std::uint32_t channels() const { return channels_; }
    // The frames so far.
    std::size_t frames() const;
    // False once no more frames come.
    bool arriving() const;
    // Whole frames only.
    void append(std::span<const float> samples);
    void end();
    // Copies up to `count` frames from `frame` on into `out`; how many there were.
    std::size_t read(std::size_t frame, float* out, std::size_t count) const;

  private:
    const std::uint32_t sampleRate_;
    const std::uint32_t channels_;
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    bool arriving_;
};

// Plays a decoded sound on the default PulseAudio sink through the client library's
// threaded main loop, about 100 ms ahead of the speaker, a sound still arriving as far as
// it has arrived (it waits there for more); pause corks the stream and stop
// removes it, so both are heard at once. Other rates than 1 go through libsonic, which
// keeps the pitch. Each play() after a stop or an end connects anew, so a restarted
// server is picked up.
class PulseAudioPlayer : public platform::AudioPlayer {
  public:
    // `scheduler` carries the end of playback to the main queue.
    PulseAudioPlayer(platform::Scheduler& scheduler, std::shared_ptr<const DecodedSound> sound);
    ~PulseAudioPlayer() override;
    PulseAudioPlayer(const PulseAudioPlayer&) = delete;
    PulseAudioPlayer& operator=(const PulseAudioPlayer&) = delete;

    void setFinishHandler(FinishHandler handler) override { handler_ = std::move(handler); }
    void setRate(double rate) override;
    bool play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }
    void setPosition(double seconds) override;
    double duration() const override;

  private:
    class Output;
    void ended(std::uint64_t epoch, bool successfully);

    platform::Scheduler& scheduler_;
    std::shared_ptr<const DecodedSound> sound_;
    FinishHandler handler_;
    double rate_ = 1;
    std::size_t position_ = 0;  // in frames of the sound, while there is no output
    bool playing_ = false;
    // Counts stops and repositionings: an end reported before the latest one is stale.
    std::uint64_t epoch_ = 0;
    std::unique_ptr<Output> output_;
    Lifetime lifetime_;
};

}  // namespace larkspire::linux_desktop

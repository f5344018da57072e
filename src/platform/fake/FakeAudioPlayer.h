#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/AudioPlayer.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire::fake {

class FakeAudioPlayerFactory;

// The encoded bytes a fake player plays, still growing while its feed delivers them.
struct FakeSound {
    std::vector<std::uint8_t> bytes;
    bool arriving = false;
};

// A player that sounds nothing but keeps a real one's state (playing or paused, position,
// rate) and records the calls made to it. The test decides when the sound ends.
class FakeAudioPlayer : public platform::AudioPlayer {
  public:
    FakeAudioPlayer(FakeAudioPlayerFactory& factory, platform::Scheduler& scheduler,
                    std::shared_ptr<const FakeSound> sound, double duration, bool startFails);
    ~FakeAudioPlayer() override;
    FakeAudioPlayer(const FakeAudioPlayer&) = delete;
    FakeAudioPlayer& operator=(const FakeAudioPlayer&) = delete;

    void setFinishHandler(FinishHandler handler) override { handler_ = std::move(handler); }
    void setRate(double rate) override;
    bool play() override;
    void pause() override;
    void stop() override;
    bool isPlaying() const override { return playing_; }
    void setPosition(double seconds) override;
    double duration() const override { return duration_; }

    // What the real player does at the end of the sound (true) or when the audio server
    // goes away (false): playback ends and the handler runs on the main queue, unless the
    // player is stopped, moved or destroyed first.
    void finish(bool successfully);

    const std::vector<std::string>& calls() const { return calls_; }
    const std::vector<std::uint8_t>& bytes() const { return sound_->bytes; }
    // True while its feed still delivers bytes.
    bool arriving() const { return sound_->arriving; }
    double rate() const { return rate_; }
    double position() const { return position_; }

  private:
    FakeAudioPlayerFactory& factory_;
    platform::Scheduler& scheduler_;
    std::shared_ptr<const FakeSound> sound_;
    double duration_;
    bool startFails_;
    FinishHandler handler_;
    std::vector<std::string> calls_;
    bool playing_ = false;
    double rate_ = 1;
    double position_ = 0;
    std::uint64_t epoch_ = 0;
    Lifetime lifetime_;
};

}  // namespace larkspire::fake

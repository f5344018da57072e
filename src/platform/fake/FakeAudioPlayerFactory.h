#pragma once

#include <vector>

#include "platform/AudioPlayerFactory.h"
#include "platform/Scheduler.h"
#include "platform/fake/FakeAudioPlayer.h"

namespace larkspire::fake {

// "Decodes" bytes that begin like a WAV file ("RIFF") into FakeAudioPlayers of
// `duration` seconds and refuses anything else. Its feeds decode such bytes as they come:
// the player is handed over once the first four bytes are in. It must outlive its players
// and feeds.
class FakeAudioPlayerFactory : public platform::AudioPlayerFactory {
  public:
    explicit FakeAudioPlayerFactory(platform::Scheduler& scheduler) : scheduler_(scheduler) {}

    std::unique_ptr<platform::AudioPlayer> makePlayer(std::span<const std::uint8_t> bytes) override;
    std::unique_ptr<platform::AudioFeed> makeFeed() override;

    // The players made so far that still exist, oldest first.
    const std::vector<FakeAudioPlayer*>& live() const { return live_; }
    // The newest player that still exists, or null.
    FakeAudioPlayer* latest() const { return live_.empty() ? nullptr : live_.back(); }
    int made() const { return made_; }

    double duration = 3.0;
    // Players made from now on report that playback could not start.
    bool startFails = false;

  private:
    friend class FakeAudioPlayer;
    class Feed;
    std::unique_ptr<FakeAudioPlayer> make(std::shared_ptr<const FakeSound> sound);
    void created(FakeAudioPlayer* player) { live_.push_back(player); }
    void destroyed(FakeAudioPlayer* player) { std::erase(live_, player); }

    platform::Scheduler& scheduler_;
    std::vector<FakeAudioPlayer*> live_;
    int made_ = 0;
};

}  // namespace larkspire::fake

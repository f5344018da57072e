#include "platform/fake/FakeAudioPlayerFactory.h"

#include <algorithm>
#include <string_view>

namespace larkspire::fake {

namespace {

constexpr std::string_view kWav = "RIFF";

bool isWav(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kWav.size() && std::equal(kWav.begin(), kWav.end(), bytes.begin());
}

}  // namespace

class FakeAudioPlayerFactory::Feed : public platform::AudioFeed {
  public:
    explicit Feed(FakeAudioPlayerFactory& factory) : factory_(factory) {}
    ~Feed() override { sound_->arriving = false; }

    bool append(std::span<const std::uint8_t> bytes) override {
        sound_->bytes.insert(sound_->bytes.end(), bytes.begin(), bytes.end());
        if (!player_ && !handedOver_ && sound_->bytes.size() >= kWav.size()) {
            if (!isWav(sound_->bytes)) {
                return false;
            }
            player_ = factory_.make(sound_);
        }
        return sound_->bytes.size() < kWav.size() || isWav(sound_->bytes);
    }
    bool finish() override {
        sound_->arriving = false;
        return isWav(sound_->bytes);
    }
    std::unique_ptr<platform::AudioPlayer> takePlayer() override {
        handedOver_ = handedOver_ || player_;
        return std::move(player_);
    }

  private:
    FakeAudioPlayerFactory& factory_;
    std::shared_ptr<FakeSound> sound_ = std::make_shared<FakeSound>(FakeSound{{}, true});
    std::unique_ptr<FakeAudioPlayer> player_;
    bool handedOver_ = false;
};

std::unique_ptr<FakeAudioPlayer> FakeAudioPlayerFactory::make(
    std::shared_ptr<const FakeSound> sound) {
    ++made_;
    return std::make_unique<FakeAudioPlayer>(*this, scheduler_, std::move(sound), duration,
                                             startFails);
}

std::unique_ptr<platform::AudioPlayer> FakeAudioPlayerFactory::makePlayer(
    std::span<const std::uint8_t> bytes) {
    if (!isWav(bytes)) {
        return nullptr;
    }
    return make(std::make_shared<const FakeSound>(
        FakeSound{std::vector<std::uint8_t>(bytes.begin(), bytes.end()), false}));
}

std::unique_ptr<platform::AudioFeed> FakeAudioPlayerFactory::makeFeed() {
    return std::make_unique<Feed>(*this);
}

}  // namespace larkspire::fake

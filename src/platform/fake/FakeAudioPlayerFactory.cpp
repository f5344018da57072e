#include "platform/fake/FakeAudioPlayerFactory.h"

#include <algorithm>
#include <string_view>

namespace larkspire::fake {

std::unique_ptr<platform::AudioPlayer> FakeAudioPlayerFactory::makePlayer(
    std::span<const std::uint8_t> bytes) {
    constexpr std::string_view kWav = "RIFF";
    if (bytes.size() < kWav.size() || !std::equal(kWav.begin(), kWav.end(), bytes.begin())) {
        return nullptr;
    }
    ++made_;
    return std::make_unique<FakeAudioPlayer>(*this, scheduler_,
                                             std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
                                             duration, startFails);
}

}  // namespace larkspire::fake

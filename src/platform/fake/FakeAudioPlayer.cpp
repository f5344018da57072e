#include "platform/fake/FakeAudioPlayer.h"

#include <algorithm>

#include "platform/fake/FakeAudioPlayerFactory.h"

namespace larkspire::fake {

FakeAudioPlayer::FakeAudioPlayer(FakeAudioPlayerFactory& factory, platform::Scheduler& scheduler,
                                 std::shared_ptr<const FakeSound> sound, double duration,
                                 bool startFails)
    : factory_(factory),
      scheduler_(scheduler),
      sound_(std::move(sound)),
      duration_(duration),
      startFails_(startFails) {
    factory_.created(this);
}

FakeAudioPlayer::~FakeAudioPlayer() {
    factory_.destroyed(this);
}

void FakeAudioPlayer::setRate(double rate) {
    calls_.push_back("rate " + std::to_string(rate));
    rate_ = rate;
}

bool FakeAudioPlayer::play() {
    calls_.push_back("play");
    if (startFails_) {
        return false;
    }
    playing_ = true;
    return true;
}

void FakeAudioPlayer::pause() {
    calls_.push_back("pause");
    playing_ = false;
}

void FakeAudioPlayer::stop() {
    calls_.push_back("stop");
    playing_ = false;
    ++epoch_;
}

void FakeAudioPlayer::setPosition(double seconds) {
    calls_.push_back("position " + std::to_string(seconds));
    position_ = std::clamp(seconds, 0.0, duration_);
    ++epoch_;
}

void FakeAudioPlayer::finish(bool successfully) {
    playing_ = false;
    scheduler_.post(lifetime_.guard([this, epoch = epoch_, successfully] {
        if (epoch != epoch_) {
            return;
        }
        position_ = 0;
        if (handler_) {
            auto handler = handler_;  // it may destroy this player
            handler(*this, successfully);
        }
    }));
}

}  // namespace larkspire::fake

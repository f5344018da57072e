#include "platform/fake/FakeAudioInput.h"

#include <thread>

#include <algorithm>
#include <span>
#include <stdexcept>

namespace larkspire::fake {

using platform::MicrophoneAuthorization;

FakeAudioInput::FakeAudioInput(platform::Scheduler& scheduler, platform::AudioFormat format)
    : scheduler_(scheduler), format_(format) {}

void FakeAudioInput::load(std::vector<float> interleaved) {
    buffer_ = std::move(interleaved);
    position_ = 0;
}

platform::AudioFormat FakeAudioInput::inputFormat() {
    if (inputFormatFailure_) {
        const std::string message = std::move(*inputFormatFailure_);
        inputFormatFailure_.reset();
        throw std::runtime_error(message);
    }
    return format_;
}

void FakeAudioInput::start(const platform::AudioFormat& format,
                           platform::AudioBlockHandler onBlock) {
    if (handler_) {
        throw std::logic_error("FakeAudioInput started twice");
    }
    if (startFailure_) {
        const std::string message = std::move(*startFailure_);
        startFailure_.reset();
        throw std::runtime_error(message);
    }
    if (format.channels == 0) {
        throw std::invalid_argument("FakeAudioInput started without channels");
    }
    std::this_thread::sleep_for(startBlock_);
    ++startCount_;
    startedFormat_ = format;
    startedSource_ = source_;
    handler_ = std::move(onBlock);
}

void FakeAudioInput::stop() {
    if (handler_) {
        ++stopCount_;
    }
    handler_ = nullptr;
}

std::size_t FakeAudioInput::play(std::size_t frames) {
    if (!handler_ || !startedFormat_) {
        return 0;
    }
    const std::size_t channels = startedFormat_->channels;
    const std::size_t total = buffer_.size() / channels;
    std::size_t left = std::min(frames, total - std::min(position_, total));
    std::size_t delivered = 0;
    while (left > 0 && handler_) {
        const std::size_t n = std::min(left, kBlockFrames);
        const auto from = buffer_.begin() + static_cast<std::ptrdiff_t>(position_ * channels);
        scratch_.assign(from, from + static_cast<std::ptrdiff_t>(n * channels));
        position_ += n;
        left -= n;
        delivered += n;
        handler_(std::span<const float>(scratch_));
        // Like a capture thread's buffer, the block is reused once the call returns.
        std::fill(scratch_.begin(), scratch_.end(), 0.0f);
    }
    return delivered;
}

std::size_t FakeAudioInput::playAll() {
    return play(buffer_.size());
}

void FakeAudioInput::requestAccess(std::function<void(bool granted)> completion) {
    ++requestCount_;
    if (status_ == MicrophoneAuthorization::notDetermined) {
        status_ =
            requestAnswer_ ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
    }
    const bool granted = status_ == MicrophoneAuthorization::authorized;
    scheduler_.post([completion = std::move(completion), granted] { completion(granted); });
}

}  // namespace larkspire::fake

#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioInput.h"
#include "platform/Scheduler.h"

namespace larkspire::fake {

// A microphone that plays a loaded buffer of interleaved float samples. Nothing is
// delivered until the test calls play(): blocks then reach the handler on the calling
// thread, in order, as the capture thread would deliver them.
class FakeAudioInput : public platform::AudioInput {
  public:
    static constexpr std::size_t kBlockFrames = 4096;

    // `scheduler` carries the answer of requestAccess to the main queue.
    FakeAudioInput(platform::Scheduler& scheduler, platform::AudioFormat format);

    // The samples the microphone will hear, interleaved in the source format; playing
    // starts at the beginning of this buffer.
    void load(std::vector<float> interleaved);

    // Delivers up to `frames` more frames of the buffer in blocks of at most
    // kBlockFrames; returns the frames delivered (0 when not capturing or exhausted).
    std::size_t play(std::size_t frames);
    std::size_t playAll();

    // The next inputFormat() or start() throws std::runtime_error with `message`.
    void failNextInputFormat(std::string message) { inputFormatFailure_ = std::move(message); }
    void failNextStart(std::string message) { startFailure_ = std::move(message); }
    // Every start() takes this long in real time, as against a wedged sound server.
    void blockStartFor(std::chrono::milliseconds duration) { startBlock_ = duration; }

    void setFormat(platform::AudioFormat format) { format_ = format; }
    // The input devices sources() lists.
    void setSources(std::vector<platform::AudioSource> sources) { sources_ = std::move(sources); }
    std::vector<platform::AudioSource> sources() override { return sources_; }
    void setSource(const std::string& name) override { source_ = name; }
    // The device the last start() captured ("" for the default).
    const std::string& startedSource() const { return startedSource_; }
    void setAuthorization(platform::MicrophoneAuthorization status) { status_ = status; }
    // What a request answers when the status is not determined yet.
    void setRequestAnswer(bool granted) { requestAnswer_ = granted; }
    // What unavailableReason() says while the status is not authorized.
    void setUnavailableReason(std::string reason) { reason_ = std::move(reason); }
    std::string unavailableReason() const override {
        return status_ == platform::MicrophoneAuthorization::authorized ? std::string() : reason_;
    }

    bool isCapturing() const { return static_cast<bool>(handler_); }
    int startCount() const { return startCount_; }
    int stopCount() const { return stopCount_; }
    int requestCount() const { return requestCount_; }
    std::optional<platform::AudioFormat> startedFormat() const { return startedFormat_; }
    std::size_t position() const { return position_; }

    platform::AudioFormat inputFormat() override;
    void start(const platform::AudioFormat& format, platform::AudioBlockHandler onBlock) override;
    void stop() override;
    platform::MicrophoneAuthorization authorizationStatus() override {
        ++statusQueries;
        return status_;
    }
    int statusQueries = 0;  // each a call to the sound server in the real input
    void requestAccess(std::function<void(bool granted)> completion) override;

  private:
    std::vector<platform::AudioSource> sources_;
    std::string source_;
    std::string startedSource_;
    std::chrono::milliseconds startBlock_{0};
    std::string reason_;
    platform::Scheduler& scheduler_;
    platform::AudioFormat format_;
    std::vector<float> buffer_;
    std::vector<float> scratch_;
    std::size_t position_ = 0;  // in frames
    platform::AudioBlockHandler handler_;
    std::optional<platform::AudioFormat> startedFormat_;
    std::optional<std::string> inputFormatFailure_;
    std::optional<std::string> startFailure_;
    platform::MicrophoneAuthorization status_ = platform::MicrophoneAuthorization::authorized;
    bool requestAnswer_ = true;
    int startCount_ = 0;
    int stopCount_ = 0;
    int requestCount_ = 0;
};

}  // namespace larkspire::fake

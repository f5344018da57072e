#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/AudioInput.h"
#include "platform/Scheduler.h"

namespace larkspire::linux_desktop {

class PulseConnection;

// The default PulseAudio source, captured through the client library's threaded main
// loop (its thread is the capture thread). The connection for the next recording is made
// ahead (prepare) and replaced when the server went away; every wait on the server is
// bounded. Owner's thread only.
class PulseAudioInput : public platform::AudioInput {
  public:
    // `scheduler` carries the answer of requestAccess to the main queue.
    explicit PulseAudioInput(platform::Scheduler& scheduler);
    ~PulseAudioInput() override;
    PulseAudioInput(const PulseAudioInput&) = delete;
    PulseAudioInput& operator=(const PulseAudioInput&) = delete;

    platform::AudioFormat inputFormat() override;
    void start(const platform::AudioFormat& format, platform::AudioBlockHandler onBlock) override;
    void stop() override;
    void prepare() override;
    std::vector<platform::AudioSource> sources() override;
    void setSource(const std::string& name) override;
    platform::MicrophoneAuthorization authorizationStatus() override;
    platform::MicrophoneAuthorization lastKnownAuthorization() override;
    std::string unavailableReason() const override;
    void requestAccess(std::function<void(bool granted)> completion) override;

    // Frames per delivered block.
    static constexpr std::size_t kBlockFrames = 4096;

  private:
    class Capture;
    platform::Scheduler& scheduler_;
    std::unique_ptr<Capture> capture_;
    // Connected ahead, so that a press does not wait for the connection (no stream: the
    // microphone stays closed). Used on the capturing thread only.
    std::unique_ptr<PulseConnection> spare_;
    std::unique_ptr<PulseConnection> connection();
    void setReason(std::string reason);
    platform::MicrophoneAuthorization remember(platform::MicrophoneAuthorization status);

    // The reason and status are written by authorizationStatus on whichever thread asks
    // (the status poll's is a background one); the device is chosen on the main thread and
    // read on the capturing one.
    mutable std::mutex stateMutex_;
    std::string reason_;
    std::optional<platform::MicrophoneAuthorization> lastKnown_;  // under stateMutex_
    std::string source_;                                          // under stateMutex_
    std::string chosenSource() const;
};

}  // namespace larkspire::linux_desktop

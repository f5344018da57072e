#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace larkspire::platform {

// The format of captured audio: the default source's own rate and channel count.
// Samples are always 32-bit float, interleaved.
struct AudioFormat {
    double sampleRate = 0;
    std::uint32_t channels = 0;

    bool operator==(const AudioFormat&) const = default;
};

// An input device the sound server offers: its name (stable across restarts) and the
// description people know it by.
struct AudioSource {
    std::string name;
    std::string description;

    bool operator==(const AudioSource&) const = default;
};

// The microphone authorisation status, with the values the logic reports.
enum class MicrophoneAuthorization : int {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorized = 3,
};

// Called on the capture thread with one block of interleaved float samples (about 4096
// frames, `interleaved.size()` is frames × channels). The span is valid only during the
// call: copy what must outlive it, and do no blocking work such as disk I/O.
using AudioBlockHandler = std::function<void(std::span<const float> interleaved)>;

// Capture of the default microphone.
class AudioInput {
  public:
    virtual ~AudioInput() = default;

    // The default source's format as it is now. Throws std::runtime_error (or a
    // std::system_error) when there is no audio server or no capture source.
    virtual AudioFormat inputFormat() = 0;

    // Starts capturing the default source in `format`, delivering blocks to `onBlock`
    // on the capture thread. Throws when capture cannot start; then nothing runs.
    // Called only while not capturing.
    virtual void start(const AudioFormat& format, AudioBlockHandler onBlock) = 0;

    // Ends capture. When it returns, `onBlock` is never called again and has been
    // released. Does nothing when not capturing.
    virtual void stop() = 0;

    // Makes ready what the next inputFormat() and start() need, such as the connection to
    // the sound server, without opening the microphone; a failure is left for them to
    // meet. Called on the thread that starts capture, between recordings.
    virtual void prepare() {}

    // The input devices offered now (no monitors of outputs). Any thread: it may wait on
    // the audio server; empty when there is none.
    virtual std::vector<AudioSource> sources() { return {}; }
    // The device the next start() captures, by name; empty for the system default. Any
    // thread.
    virtual void setSource(const std::string& name) { (void)name; }

    // authorized when the audio server answers and has a capture source, else denied. Any
    // thread: it may wait on the audio server.
    virtual MicrophoneAuthorization authorizationStatus() = 0;
    // The status as last found, without asking the audio server again (a key press must
    // not wait on it); asks when nothing was found yet.
    virtual MicrophoneAuthorization lastKnownAuthorization() { return authorizationStatus(); }
    // Why the last authorizationStatus() was not authorized, as a sentence for the user;
    // empty when it was, or when there is nothing to say beyond the status.
    virtual std::string unavailableReason() const { return {}; }

    // Asks for access; `completion` runs later on the main queue with the answer.
    virtual void requestAccess(std::function<void(bool granted)> completion) = 0;
};

}  // namespace larkspire::platform

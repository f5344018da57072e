#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/CafSpoolFile.h"
#include "audio/Conversion.h"
#include "audio/Recording.h"
#include "audio/RecoveryStore.h"
#include "platform/AudioInput.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"

namespace larkspire {

// Records the default microphone into a spool file in the recovery store and, on stop,
// turns it into a 16 kHz mono WAV kept in the store. start/stop/cancel are called from
// the owner's (main) thread, never concurrently. The microphone is opened on the serial
// "recorder" queue, so a key press never waits on the sound server; blocks arrive on the
// capture thread, which only copies them to that queue; the queue writes the file.
class Recorder {
  public:
    using Recording = larkspire::Recording;

    Recorder(platform::AudioInput& input, platform::Scheduler& scheduler,
             const platform::Clock& clock, RecoveryStore store = RecoveryStore());
    // Stops capture: no block reaches a destroyed recorder.
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool isRecording() const { return isRecording_; }

    // Begins a recording and returns at once: the microphone opens on the queue. Call only
    // while not recording. Throws when the recovery folder has no place for the spool;
    // isRecording() then stays false. When the microphone cannot be opened (no server or
    // source, spool file not created), the start-failure handler hears of it.
    void start();

    // Ends the recording and returns it; nothing when idle, when the microphone had not
    // opened yet (nothing was heard), or when the audio could not be converted or written
    // (then the spool file stays as a pending recording, and lastFailure() says why when
    // it was a write).
    std::optional<Recording> stop();

    // Called on the main queue when the microphone of a recording could not be opened,
    // with its spool file and the platform's reason; that recording has captured nothing.
    using StartFailureHandler =
        std::function<void(const std::filesystem::path& spool, const std::string& reason)>;
    void setStartFailureHandler(StartFailureHandler handler) {
        onStartFailure_ = std::move(handler);
    }

    // Called on the main queue, once per recording, when a block could not be written
    // (a full disk), with that recording's spool file and the text to show. The report
    // may arrive after its recording ended and another began: the spool file says whose
    // it is. What reached the disk stays in the spool.
    using WriteFailureHandler =
        std::function<void(const std::filesystem::path& spool, const std::string& text)>;
    void setWriteFailureHandler(WriteFailureHandler handler) {
        onWriteFailure_ = std::move(handler);
    }
    // Why the last stop() kept its recording on disk instead of returning it; empty when
    // it did not fail to write.
    const std::string& lastFailure() const { return lastFailure_; }
    // "Couldn’t save the recording: the disk is full", or the system's reason.
    static std::string saveFailureText(int error);

    // Ends the recording and deletes its spool file (a failure to delete is ignored).
    void cancel();

    const RecoveryStore& store() const { return store_; }

    // The spool file being written while recording.
    std::optional<std::filesystem::path> currentSpoolPath() const {
        return isRecording_ ? spoolURL_ : std::nullopt;
    }

    static std::optional<Bytes> convertTo16kMonoInt16(const std::filesystem::path& file) {
        return larkspire::convertTo16kMonoInt16(file);
    }

  private:
    // One recording's opening of the microphone, shared with the queue.
    struct Opening;
    // False when the microphone had not opened: the queue then closes it as it opens.
    bool endCapture();

    platform::AudioInput& input_;
    const platform::Clock& clock_;
    RecoveryStore store_;
    platform::Scheduler& scheduler_;
    std::shared_ptr<platform::SerialQueue> queue_;
    WriteFailureHandler onWriteFailure_;
    StartFailureHandler onStartFailure_;
    std::string lastFailure_;

    std::shared_ptr<Opening> opening_;
    bool isRecording_ = false;
    platform::TimePoint startedAt_;
    // The recording's spool file, named at start; the queue creates it.
    std::optional<std::filesystem::path> spoolURL_;
};

}  // namespace larkspire

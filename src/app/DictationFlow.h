#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/FlowShell.h"
#include "app/Insertion.h"
#include "app/LastInsertion.h"
#include "app/MicrophoneMenu.h"
#include "app/PendingRecordings.h"
#include "audio/Recorder.h"
#include "audio/Recording.h"
#include "hud/ScreenAwareHUD.h"
#include "platform/AudioInput.h"
#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/UserDefaults.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"

namespace larkspire {

// A dictation from key to paste: the key's gestures (hold, quick tap, double tap to lock
// hands-free, a chord that cancels) into recordings, each recording to the service, and
// its text pasted where the dictation began. Also what goes wrong on the way: no
// microphone, a recording that cannot be written, silence, a failed request (the
// recording then waits for a retry). Main thread; the request runs in the background.
class DictationFlow {
  public:
    struct Services {
        const platform::Clock& clock;
        platform::Scheduler& scheduler;
        platform::UserDefaults& defaults;
        platform::AudioInput& audioInput;
        Insertion& insertion;
        // Shared with screen-aware requests, whose instruction is a recording too.
        Recorder& recorder;
        ScreenAwareHUD& hud;
        PendingRecordings& pending;
        LastInsertion& lastInsertion;
        MicrophoneMenu& microphones;
    };
    // What the dictation needs of the shell around it.
    struct Shell : FlowShell {
        // The title of the microphone permission item.
        std::function<void(const std::string& title)> setMicrophoneTitle;
        std::function<void(const std::string& event)> emitActivation;
        std::function<void()> openMicrophoneSettings;
        // A text was delivered: the notes mirror catches up soon.
        std::function<void()> delivered;
        // Whether the recording in progress is a screen-aware instruction, and ending one
        // that can no longer be sent.
        std::function<bool()> instructing;
        std::function<void()> dropInstruction;
    };

    DictationFlow(Services services, Shell shell);

    // Gestures of the key monitor.
    void fnDown();
    void fnUp();
    // Another key was pressed while the dictation key was held: the user was typing a
    // chord (an AltGr character, say), not dictating.
    void chordCancel();
    // The menu's "Start recording" / "Stop & transcribe": hands-free until chosen again.
    void menuToggle();

    bool startRecording();
    void stopAndTranscribe();
    void refreshMicrophonePermission(bool requestIfNeeded);
    // Sends the recording; its text goes to `target` (null: whatever is in front).
    void submit(Recording recording, std::shared_ptr<InsertionTarget> target);
    // The microphone of the recording writing `spool` could not be opened.
    void microphoneFailed(const std::filesystem::path& spool, const std::string& reason);
    // The recording writing `spool` could not be written to disk: say so, and keep what
    // was written.
    void writeFailed(const std::filesystem::path& spool, const std::string& text);
    void saveFailed(const std::string& text);
    // A screen-aware instruction takes the recording over: its text is not pasted here.
    void dropTarget() { target_.reset(); }

    bool locked() const { return locked_; }

  private:
    void succeeded(const APIClient::TranscriptionReceipt& receipt, const Recording& recording,
                   const std::shared_ptr<InsertionTarget>& target);
    void failed(const std::string& description, const Recording& recording);
    void sayNotSaved(const std::string& text);
    void silent(const std::optional<std::filesystem::path>& archived);
    void endGestureWithoutRecording();

    Services s_;
    Shell shell_;
    // Where the dictation in progress began: its text goes there.
    std::shared_ptr<InsertionTarget> target_;
    // Said instead of "Listening" when the chosen microphone is gone.
    std::optional<std::string> microphoneNotice_;
    std::optional<platform::TimePoint> fnDownAt_;
    platform::TimePoint lastQuickTapAt_ = platform::distantPast();
    bool locked_ = false;
    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire

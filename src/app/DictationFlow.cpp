#include "app/DictationFlow.h"

#include "platform/StatusSymbols.h"
#include "util/Preferences.h"

namespace larkspire {
namespace {

constexpr double kHoldThreshold = 0.35;
constexpr double kDoubleTapWindow = 0.45;

}  // namespace

DictationFlow::DictationFlow(Services services, Shell shell)
    : s_(services), shell_(std::move(shell)) {}

void DictationFlow::fnDown() {
    fnDownAt_ = s_.clock.now();
    if (locked_) {
        // This press ends a hands-free recording; its release does nothing.
        locked_ = false;
        stopAndTranscribe();
        fnDownAt_.reset();
        return;
    }
    if (s_.recorder.isRecording()) {
        return;
    }
    auto target = s_.insertion.capture();
    if (target && target->isSecure) {
        shell_.fail("Dictation is off in secure fields");
        return;
    }
    target_ = std::move(target);
    if (startRecording()) {
        s_.hud.showStatus(std::exchange(microphoneNotice_, std::nullopt).value_or("Listening"),
                          "waveform");
    } else {
        target_.reset();
    }
}

void DictationFlow::fnUp() {
    if (!fnDownAt_) {
        return;
    }
    const platform::TimePoint downAt = *fnDownAt_;
    fnDownAt_.reset();
    const platform::TimePoint now = s_.clock.now();
    if (platform::secondsBetween(downAt, now) >= kHoldThreshold) {
        stopAndTranscribe();
        return;
    }
    // A press that started nothing (a secure field, no microphone) has nothing to lock.
    if (platform::secondsBetween(lastQuickTapAt_, now) <= kDoubleTapWindow &&
        s_.recorder.isRecording()) {
        locked_ = true;
        lastQuickTapAt_ = platform::distantPast();
        s_.hud.showStatus("Recording hands-free", "record.circle");
        return;
    }
    lastQuickTapAt_ = now;
    endGestureWithoutRecording();
}

void DictationFlow::chordCancel() {
    if (!fnDownAt_) {
        return;
    }
    // Like a lone tap, but it never pairs into a double tap.
    fnDownAt_.reset();
    endGestureWithoutRecording();
}

void DictationFlow::endGestureWithoutRecording() {
    s_.recorder.cancel();
    target_.reset();
    s_.hud.hide(0);
    shell_.resetIcon();
}

void DictationFlow::menuToggle() {
    if (s_.recorder.isRecording()) {
        locked_ = false;
        stopAndTranscribe();
        return;
    }
    locked_ = true;
    target_ = s_.insertion.capture();
    if (startRecording()) {
        s_.hud.showStatus("Recording hands-free", "record.circle");
    } else {
        locked_ = false;
        target_.reset();
    }
}

bool DictationFlow::startRecording() {
    // As last found (at sign-in, then by the status poll): a key press never waits on the
    // sound server.
    if (s_.audioInput.lastKnownAuthorization() != platform::MicrophoneAuthorization::authorized) {
        locked_ = false;
        refreshMicrophonePermission(true);
        s_.hud.showStatus("Microphone permission needed", "mic.slash");
        s_.hud.hide(2.4);
        // Where the desktop can say what is missing (no sound server, no input device),
        // that is the message.
        const std::string reason = s_.audioInput.unavailableReason();
        shell_.fail(
            reason.empty()
                ? "Microphone permission is off. Open the Larkspire menu → More → Microphone "
                  "permission, enable Larkspire, then reopen the app."
                : reason +
                      " Then try again; the Larkspire menu → More → Microphone permission "
                      "helps.");
        return false;
    }
    microphoneNotice_ = s_.microphones.applyChoice();
    // The microphone opens on the recorder's queue; a failure to open comes back later.
    try {
        s_.recorder.start();
    } catch (const std::exception& e) {
        shell_.fail(std::string("Mic error: ") + e.what());
        return false;
    }
    if (!s_.defaults.boolValue(defaults::activationComplete)) {
        shell_.emitActivation("first_recording_started");
    }
    shell_.setIcon(std::string(platform::symbols::recording), "Recording");
    shell_.setToggleTitle("Stop & transcribe");
    s_.pending.refresh();
    return true;
}

void DictationFlow::stopAndTranscribe() {
    auto recording = s_.recorder.stop();
    if (!recording) {
        shell_.setToggleTitle("Start recording");
        if (!s_.recorder.lastFailure().empty()) {
            saveFailed(s_.recorder.lastFailure());
        } else {
            shell_.resetIcon();
        }
        return;
    }
    submit(std::move(*recording), std::exchange(target_, nullptr));
}

void DictationFlow::microphoneFailed(const std::filesystem::path& spool,
                                     const std::string& reason) {
    if (s_.recorder.currentSpoolPath() == spool) {
        // Nothing was heard: the gesture ends as if it had never started recording.
        locked_ = false;
        fnDownAt_.reset();
        s_.recorder.cancel();
        shell_.dropInstruction();
        target_.reset();
        shell_.setToggleTitle("Start recording");
        s_.hud.hide(0);
        shell_.resetIcon();
    }
    shell_.fail("Mic error: " + reason);
}

void DictationFlow::writeFailed(const std::filesystem::path& spool, const std::string& text) {
    if (s_.recorder.currentSpoolPath() == spool) {
        saveFailed(text);
        return;
    }
    // That recording has ended and kept what reached the disk; the one in progress, if
    // any, is not the one that failed and goes on.
    sayNotSaved(text);
}

void DictationFlow::sayNotSaved(const std::string& text) {
    s_.hud.showStatus(text, "exclamationmark.triangle");
    s_.hud.hide(4.0);
    shell_.fail(text);
    s_.pending.refresh();
}

void DictationFlow::saveFailed(const std::string& text) {
    if (s_.recorder.isRecording()) {
        // Nothing more can be kept: end the recording now, whatever the key does next.
        locked_ = false;
        fnDownAt_.reset();
        auto recording = s_.recorder.stop();
        if (recording && !shell_.instructing()) {
            submit(std::move(*recording), std::exchange(target_, nullptr));
            shell_.fail(text);
            return;
        }
        // A spoken instruction is never sent as dictation: it would be pasted into the
        // document. What was written stays pending for a retry.
        shell_.dropInstruction();
        shell_.setToggleTitle("Start recording");
    }
    target_.reset();
    sayNotSaved(text);
}

void DictationFlow::refreshMicrophonePermission(bool requestIfNeeded) {
    const auto status = s_.audioInput.authorizationStatus();
    const bool ready = status == platform::MicrophoneAuthorization::authorized;
    shell_.setMicrophoneTitle(ready ? "Microphone: Ready" : "Microphone permission…");
    if (!requestIfNeeded || status != platform::MicrophoneAuthorization::notDetermined) {
        return;
    }
    s_.audioInput.requestAccess([this, guard = lifetime_.guard([this](bool granted) {
        shell_.setMicrophoneTitle(granted ? "Microphone: Ready" : "Microphone permission…");
        if (!granted) {
            shell_.openMicrophoneSettings();
        }
    })](bool granted) mutable {
        // The answer may come from any thread: apply it on the main queue.
        s_.scheduler.post([guard, granted]() mutable { guard(granted); });
    });
}

void DictationFlow::submit(Recording recording, std::shared_ptr<InsertionTarget> target) {
    s_.pending.sending(recording.recoveryURL);
    shell_.setIcon("hourglass", "Transcribing");
    s_.hud.showStatus("Turning speech into text", "ellipsis");
    shell_.setToggleTitle("Start recording");
    s_.pending.refresh();

    auto onSilent = lifetime_.guard(
        [this, sent = recording.recoveryURL](std::optional<std::filesystem::path> archived) {
            s_.pending.sent(sent);
            silent(archived);
        });
    // The target travels with its recording: another dictation may start meanwhile.
    auto onSuccess = lifetime_.guard(
        [this, target = std::move(target)](APIClient::TranscriptionReceipt receipt, Recording r) {
            succeeded(receipt, r, target);
        });
    auto onFailure =
        lifetime_.guard([this](std::string description, Recording r) { failed(description, r); });
    s_.scheduler.runInBackground(
        platform::Priority::userInitiated,
        [api = shell_.api(), &scheduler = s_.scheduler, recording = std::move(recording), onSilent,
         onSuccess, onFailure]() mutable {
            if (!WAV::hasPlausibleVoiceSignal(recording.wav)) {
                auto archived = recording.archiveSilentCopy();
                scheduler.post([onSilent, archived]() mutable { onSilent(archived); });
                return;
            }
            try {
                if (!api) {
                    throw APIClient::APIError::notConfigured();
                }
                auto receipt = api->transcribeWithReceipt(
                    recording.wav, static_cast<int>(recording.durationSeconds), false);
                scheduler.post([onSuccess, receipt = std::move(receipt),
                                recording = std::move(recording)]() mutable {
                    onSuccess(receipt, recording);
                });
            } catch (const std::exception& e) {
                scheduler.post([onFailure, description = APIClient::APIError::describe(e),
                                recording = std::move(recording)]() mutable {
                    onFailure(description, recording);
                });
            }
        });
}

void DictationFlow::succeeded(const APIClient::TranscriptionReceipt& receipt,
                              const Recording& recording,
                              const std::shared_ptr<InsertionTarget>& target) {
    s_.pending.sent(recording.recoveryURL);
    const std::string& text = receipt.text;
    if (!text.empty()) {
        if (target) {
            s_.insertion.paste(
                *target, text,
                lifetime_.guard([this, pid = target->processIdentifier](bool, bool undoable) {
                    s_.lastInsertion.pasted(pid, undoable);
                }));
        } else {
            s_.insertion.pasteFront(text, {});
        }
        if (receipt.id) {
            s_.defaults.setString(defaults::activationFirstThoughtId, *receipt.id);
        }
        s_.lastInsertion.delivered(text);
    }
    shell_.flash("checkmark.circle.fill");
    s_.hud.showStatus("Pasted and remembered", "checkmark.circle.fill");
    s_.hud.hide(1.3);
    shell_.delivered();
    recording.discardRecoveryCopy();
    s_.pending.refresh();
}

void DictationFlow::failed(const std::string& description, const Recording& recording) {
    s_.pending.sent(recording.recoveryURL);
    s_.pending.offer();
    s_.hud.showStatus("Recording saved for retry", "exclamationmark.arrow.circlepath");
    s_.hud.hide(2.2);
    shell_.fail(description + ". Recording saved at " + recording.recoveryURL.string());
}

void DictationFlow::silent(const std::optional<std::filesystem::path>& archived) {
    shell_.resetIcon();
    s_.hud.showStatus("Microphone audio is unusable", "mic.slash");
    s_.hud.hide(2.8);
    s_.pending.refresh();
    std::string message =
        "The microphone captured silence or corrupted audio. Reopen Larkspire and confirm the "
        "correct input device before trying again.";
    if (archived) {
        message += " The silent file was preserved at " + archived->string() + ".";
    } else {
        message += " The silent file remains preserved locally.";
    }
    shell_.fail(message);
}

}  // namespace larkspire

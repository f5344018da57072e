// The dictation flow of the controller: gestures into recordings, recordings into text
// at the cursor, and the follow-up actions on the last result.
#include "app/AppDelegate.h"
#include "platform/StatusSymbols.h"
#include "util/Preferences.h"

namespace larkspire {
namespace {

constexpr double kHoldThreshold = 0.35;
constexpr double kDoubleTapWindow = 0.45;

}  // namespace

void AppDelegate::fnDown() {
    fnDownAt_ = s_.clock.now();
    if (locked_) {
        // This press ends a hands-free recording; its release does nothing.
        locked_ = false;
        stopAndTranscribe();
        fnDownAt_.reset();
        return;
    }
    if (recorder_.isRecording()) {
        return;
    }
    auto target = s_.insertion.capture();
    if (target && target->isSecure()) {
        fail("Dictation is off in secure fields");
        return;
    }
    dictationTarget_ = std::move(target);
    if (startRecording()) {
        hud_.showStatus(std::exchange(microphoneNotice_, std::nullopt).value_or("Listening"),
                        "waveform");
    } else {
        dictationTarget_.reset();
    }
}

void AppDelegate::fnUp() {
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
        recorder_.isRecording()) {
        locked_ = true;
        lastQuickTapAt_ = platform::distantPast();
        hud_.showStatus("Recording hands-free", "record.circle");
        return;
    }
    lastQuickTapAt_ = now;
    endGestureWithoutRecording();
}

void AppDelegate::chordCancel() {
    if (!fnDownAt_) {
        return;
    }
    // Like a lone tap, but it never pairs into a double tap.
    fnDownAt_.reset();
    endGestureWithoutRecording();
}

void AppDelegate::endGestureWithoutRecording() {
    recorder_.cancel();
    dictationTarget_.reset();
    hud_.hide(0);
    resetIcon();
}

void AppDelegate::menuToggle() {
    if (recorder_.isRecording()) {
        locked_ = false;
        stopAndTranscribe();
        return;
    }
    locked_ = true;
    dictationTarget_ = s_.insertion.capture();
    if (startRecording()) {
        hud_.showStatus("Recording hands-free", "record.circle");
    } else {
        locked_ = false;
        dictationTarget_.reset();
    }
}

bool AppDelegate::startRecording() {
    // As last found (at sign-in, then by the status poll): a key press never waits on the
    // sound server.
    if (s_.audioInput.lastKnownAuthorization() != platform::MicrophoneAuthorization::authorized) {
        locked_ = false;
        refreshMicrophonePermission(true);
        hud_.showStatus("Microphone permission needed", "mic.slash");
        hud_.hide(2.4);
        // Where the desktop can say what is missing (no sound server, no input device),
        // that is the message.
        const std::string reason = s_.audioInput.unavailableReason();
        fail(reason.empty()
                 ? "Microphone permission is off. Open the Larkspire menu → More → Microphone "
                   "permission, enable Larkspire, then reopen the app."
                 : reason +
                       " Then try again; the Larkspire menu → More → Microphone permission "
                       "helps.");
        return false;
    }
    microphoneNotice_ = microphones_.applyChoice();
    // The microphone opens on the recorder's queue; a failure to open comes back later.
    try {
        recorder_.start();
    } catch (const std::exception& e) {
        fail(std::string("Mic error: ") + e.what());
        return false;
    }
    if (!s_.defaults.boolValue(defaults::activationComplete)) {
        emitActivation("first_recording_started");
    }
    setIcon(std::string(platform::symbols::recording), "Recording");
    toggleItem_->setTitle("Stop & transcribe");
    pending_.refresh();
    return true;
}

void AppDelegate::stopAndTranscribe() {
    auto recording = recorder_.stop();
    if (!recording) {
        toggleItem_->setTitle("Start recording");
        if (!recorder_.lastFailure().empty()) {
            saveFailed(recorder_.lastFailure());
        } else {
            resetIcon();
        }
        return;
    }
    submit(std::move(*recording), std::exchange(dictationTarget_, nullptr));
}

void AppDelegate::microphoneFailed(const std::filesystem::path& spool, const std::string& reason) {
    if (recorder_.currentSpoolPath() == spool) {
        // Nothing was heard: the gesture ends as if it had never started recording.
        locked_ = false;
        fnDownAt_.reset();
        recorder_.cancel();
        contextual_ = false;
        capturedContext_.reset();
        dictationTarget_.reset();
        toggleItem_->setTitle("Start recording");
        hud_.hide(0);
        resetIcon();
    }
    fail("Mic error: " + reason);
}

void AppDelegate::writeFailed(const std::filesystem::path& spool, const std::string& text) {
    if (recorder_.currentSpoolPath() == spool) {
        saveFailed(text);
        return;
    }
    // That recording has ended and kept what reached the disk; the one in progress, if
    // any, is not the one that failed and goes on.
    sayNotSaved(text);
}

void AppDelegate::sayNotSaved(const std::string& text) {
    hud_.showStatus(text, "exclamationmark.triangle");
    hud_.hide(4.0);
    fail(text);
    pending_.refresh();
}

void AppDelegate::saveFailed(const std::string& text) {
    if (recorder_.isRecording()) {
        // Nothing more can be kept: end the recording now, whatever the key does next.
        locked_ = false;
        fnDownAt_.reset();
        auto recording = recorder_.stop();
        if (recording && !contextual_) {
            submit(std::move(*recording), std::exchange(dictationTarget_, nullptr));
            fail(text);
            return;
        }
        // A spoken instruction is never sent as dictation: it would be pasted into the
        // document. What was written stays pending for a retry.
        contextual_ = false;
        capturedContext_.reset();
        toggleItem_->setTitle("Start recording");
    }
    dictationTarget_.reset();
    sayNotSaved(text);
}

void AppDelegate::refreshMicrophonePermission(bool requestIfNeeded) {
    const auto status = s_.audioInput.authorizationStatus();
    const bool ready = status == platform::MicrophoneAuthorization::authorized;
    microphoneItem_->setTitle(ready ? "Microphone: Ready" : "Microphone permission…");
    if (!requestIfNeeded || status != platform::MicrophoneAuthorization::notDetermined) {
        return;
    }
    s_.audioInput.requestAccess([this, guard = lifetime_.guard([this](bool granted) {
        microphoneItem_->setTitle(granted ? "Microphone: Ready" : "Microphone permission…");
        if (!granted) {
            openSettingsPane(panes::microphone);
        }
    })](bool granted) mutable {
        // The answer may come from any thread: apply it on the main queue.
        s_.scheduler.post([guard, granted]() mutable { guard(granted); });
    });
}

void AppDelegate::submit(Recording recording, std::shared_ptr<InsertionPoint> target) {
    pending_.sending(recording.recoveryURL);
    setIcon("hourglass", "Transcribing");
    hud_.showStatus("Turning speech into text", "ellipsis");
    toggleItem_->setTitle("Start recording");
    pending_.refresh();

    auto onSilent = lifetime_.guard(
        [this, sent = recording.recoveryURL](std::optional<std::filesystem::path> archived) {
            pending_.sent(sent);
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
        [api = api_, &scheduler = s_.scheduler, recording = std::move(recording), onSilent,
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

void AppDelegate::succeeded(const APIClient::TranscriptionReceipt& receipt,
                            const Recording& recording,
                            const std::shared_ptr<InsertionPoint>& target) {
    pending_.sent(recording.recoveryURL);
    const std::string& text = receipt.text;
    if (!text.empty()) {
        if (target) {
            s_.insertion.paste(
                *target, text,
                lifetime_.guard([this, pid = target->processId()](bool, bool undoable) {
                    lastInsertion_.pasted(pid, undoable);
                }));
        } else {
            s_.insertion.pasteFront(text, {});
        }
        if (receipt.id) {
            s_.defaults.setString(defaults::activationFirstThoughtId, *receipt.id);
        }
        lastInsertion_.delivered(text);
    }
    flash("checkmark.circle.fill");
    hud_.showStatus("Pasted and remembered", "checkmark.circle.fill");
    hud_.hide(1.3);
    if (vault_) {
        vault_->syncSoon();
    }
    recording.discardRecoveryCopy();
    pending_.refresh();
}

void AppDelegate::failed(const std::string& description, const Recording& recording) {
    pending_.sent(recording.recoveryURL);
    pending_.offer();
    hud_.showStatus("Recording saved for retry", "exclamationmark.arrow.circlepath");
    hud_.hide(2.2);
    fail(description + ". Recording saved at " + recording.recoveryURL.string());
}

void AppDelegate::silent(const std::optional<std::filesystem::path>& archived) {
    resetIcon();
    hud_.showStatus("Microphone audio is unusable", "mic.slash");
    hud_.hide(2.8);
    pending_.refresh();
    std::string message =
        "The microphone captured silence or corrupted audio. Reopen Larkspire and confirm the "
        "correct input device before trying again.";
    if (archived) {
        message += " The silent file was preserved at " + archived->string() + ".";
    } else {
        message += " The silent file remains preserved locally.";
    }
    fail(message);
}

void AppDelegate::retrySavedRecording() {
    pending_.retry();
}

void AppDelegate::copyLast() {
    lastInsertion_.copy();
}

void AppDelegate::undoLastInsertion() {
    lastInsertion_.undo();
}

}  // namespace larkspire

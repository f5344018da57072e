// AppDelegate: screen-aware requests. Control with the key captures the active window's
// context and records a spoken instruction; the release turns instruction and context
// into a draft written at the cursor, and an explanation may be spoken.
#include <algorithm>

#include "app/AppDelegate.h"
#include "context/ScreenAwareMode.h"
#include "readaloud/SpokenAudio.h"
#include "util/Memory.h"
#include "util/Preferences.h"
#include "util/Text.h"

namespace larkspire {
namespace {

constexpr double kWrittenHide = 1.4;
constexpr double kFailureHide = 2.8;
constexpr double kSlowestVoice = 0.75;
constexpr double kFastestVoice = 1.5;

constexpr const char* kRecoveryHint =
    "\n\nYour recording is saved. Use “Retry saved recording” to transcribe it normally.";

// Where this session cannot take window images: X11 needs no permission for them, so
// only a session whose X server cannot see other applications (Wayland) lacks them.
constexpr const char* kNoWindowImages =
    "Window images need an X11 session: this session cannot capture other windows";

}  // namespace

std::optional<Config> AppDelegate::loadConfigOrFail() {
    auto config = Config::load(Config::pathIn(s_.homeDirectory));
    if (!config) {
        fail("Missing ~/.vantrel/config.json");
    }
    return config;
}

std::optional<AccessibilityContext> AppDelegate::captureOrRefuse(
    const Config& config, const std::optional<platform::FrontWindow>& front) {
    auto context =
        AccessibilityContext::capture(config, front, {s_.screenAware.accessibility, s_.clock});
    if (!context) {
        const std::string name =
            front && !front->applicationName.empty() ? front->applicationName : "this application";
        fail("Context capture is disabled for " + name);
    }
    return context;
}

void AppDelegate::showListening() {
    setIcon("viewfinder.circle.fill", "Screen-aware listening");
    hud_.showStatus("Screen-aware listening · " + capturedContext_->application, "viewfinder");
}

void AppDelegate::contextDown() {
    if (recorder_.isRecording()) {
        return;
    }
    dictation_.dropTarget();
    // The window in front now is what is read and where the draft goes, even when the
    // consent dialog takes the front for a while.
    const auto front = s_.screenAware.frontmost.frontmost();
    const bool asking = !s_.defaults.boolValue(defaults::screenAwareConsent);
    if (!ensureScreenAwareConsent()) {
        return;
    }
    if (asking && !(s_.fnMonitor.fnIsDown() &&
                    s_.fnMonitor.activeGesture() == FnKeyMonitor::ActiveGesture::contextual)) {
        return;  // the keys were let go while the dialog was open: that gesture is over
    }
    const auto config = loadConfigOrFail();
    if (!config) {
        return;
    }
    auto context = captureOrRefuse(*config, front);
    if (!context || !startRecording()) {
        return;
    }
    contextual_ = true;
    capturedContext_ = std::move(context);
    showListening();
}

void AppDelegate::contextUp() {
    if (!contextual_) {
        return;
    }
    contextual_ = false;
    stopContextualDraft();
}

bool AppDelegate::promoteRecordingToContext() {
    if (!recorder_.isRecording() || contextual_) {
        return contextual_;
    }
    const auto front = s_.screenAware.frontmost.frontmost();
    const bool asking = !s_.defaults.boolValue(defaults::screenAwareConsent);
    if (!ensureScreenAwareConsent()) {
        return false;
    }
    if (asking && !s_.fnMonitor.fnIsDown()) {
        // The key was let go while the dialog was open: that release ends the dictation.
        fnUp();
        return false;
    }
    const auto config = loadConfigOrFail();
    if (!config) {
        return false;
    }
    auto context = captureOrRefuse(*config, front);
    if (!context) {
        return false;
    }
    dictation_.dropTarget();
    contextual_ = true;
    capturedContext_ = std::move(context);
    showListening();
    return true;
}

bool AppDelegate::ensureScreenAwareConsent() {
    if (s_.defaults.boolValue(defaults::screenAwareConsent)) {
        return true;
    }
    platform::AlertContent alert{
        "Turn on screen-aware dictation?",
        "When you hold Control + " + fnKey_.displayName +
            ", Larkspire reads focused and accessible text from the active window to write at "
            "your cursor. You can optionally include one image of that window. Context is used "
            "only for this request, images are never saved, and sensitive fields are blocked.",
        {"Include active-window images", "Use text only", "Cancel"},
        platform::AlertStyle::question};
    // Where the desktop gives no image of one window (GNOME and KDE on Wayland give only
    // the whole screen, other applications included), no image is offered, and why.
    const bool images = s_.screenAware.windows.canCaptureWindows();
    if (!images) {
        alert.informativeText +=
            " This desktop lets programs take only the whole screen, never one window, so "
            "Larkspire sends the window’s text alone.";
        alert.buttons.erase(alert.buttons.begin());
    }
    consentOpen_ = true;
    const std::size_t choice = s_.screenAware.alerts.run(alert) + (images ? 0 : 1);
    consentOpen_ = false;
    if (choice >= 2) {
        return false;
    }
    s_.defaults.setBool(defaults::screenAwareConsent, true);
    s_.defaults.setBool(defaults::screenAwareEnabled, choice == 0);
    screenAwareItem_->setChecked(choice == 0);
    return true;
}

void AppDelegate::stopContextualDraft() {
    auto recording = recorder_.stop();
    if (!recording || !capturedContext_) {
        capturedContext_.reset();
        if (!recorder_.lastFailure().empty()) {
            dictation_.saveFailed(recorder_.lastFailure());
            return;
        }
        hud_.hide(0);
        resetIcon();
        return;
    }
    // In flight like a dictation: "Retry saved recording" leaves it alone.
    pending_.sending(recording->recoveryURL);
    hud_.showStatus("Reading the active window", "viewfinder");
    std::optional<Bytes> image;
    if (s_.defaults.boolValue(defaults::screenAwareEnabled) && !capturedContext_->textOnly) {
        image = capturedContext_->captureWindowImage(s_.screenAware.windows,
                                                     s_.screenAware.imageEncoder);
    }
    setIcon("sparkles", "Drafting from application context");
    toggleItem_->setTitle("Start recording");
    hud_.showStatus("Writing with context", "sparkles");

    // The context stays here, on the main thread that owns its element handles; the
    // request carries its texts.
    const std::uint64_t id = ++nextDraft_;
    draftContexts_.emplace(id, *capturedContext_);
    auto onSuccess = lifetime_.guard([this, id](ContextualResult result, Recording r) {
        auto node = draftContexts_.extract(id);
        pending_.refresh();
        insertContextual(result, node.mapped(), api_, r);
        // Once this task and the draft it holds are gone.
        s_.scheduler.post([] { memory::returnFreedPages(); });
    });
    auto onFailure =
        lifetime_.guard([this, id, sent = recording->recoveryURL](std::string description) {
            pending_.sent(sent);
            draftContexts_.erase(id);
            pending_.refresh();
            hud_.showStatus("Couldn’t write · recording saved", "exclamationmark.triangle");
            hud_.hide(kFailureHide);
            fail(description + kRecoveryHint);
        });
    s_.scheduler.runInBackground(
        platform::Priority::userInitiated,
        [api = api_, &scheduler = s_.scheduler, recording = std::move(*recording),
         context = capturedContext_->draftContext(), image = std::move(image), onSuccess,
         onFailure]() mutable {
            if (!api) {
                return;
            }
            try {
                const auto receipt = api->transcribeSingle(
                    recording.wav, static_cast<int>(recording.durationSeconds), true);
                auto result = api->contextualDraft(receipt.text, context, image, std::nullopt);
                scheduler.post(
                    [onSuccess, result = std::move(result),
                     recording = std::move(recording)]() mutable { onSuccess(result, recording); });
            } catch (const std::exception& e) {
                scheduler.post([onFailure, description = APIClient::APIError::describe(
                                               e)]() mutable { onFailure(description); });
            }
        });
}

void AppDelegate::insertContextual(const ContextualResult& result,
                                   const AccessibilityContext& context,
                                   const std::shared_ptr<APIClient>& api,
                                   const Recording& recording) {
    const std::string text = text::trimmed(result.draft);
    if (text.empty()) {
        pending_.sent(recording.recoveryURL);  // kept for retry unless an explanation plays
    }
    std::string status = "Ready to explain";
    std::string symbol = "speaker.wave.2";
    if (!text.empty()) {
        // The window is raised only when the paste's turn comes: raised earlier, it would
        // take the chord of a dictation still waiting to be pasted.
        s_.insertion.pasteAfter(
            text, lifetime_.guard([this, window = context.window, pid = context.processIdentifier] {
                activateWindowOf(s_.screenAware.frontmost, window, pid);
            }),
            [context] { context.restoreFocus(); },
            // The recording stays in flight, and on disk, until its draft was pasted; a
            // draft that only reached the clipboard keeps it for a retry.
            lifetime_.guard(
                [this, recording, pid = context.processIdentifier](bool sent, bool undoable) {
                    lastInsertion_.pasted(pid, undoable);
                    if (sent) {
                        recording.discardRecoveryCopy();
                    }
                    pending_.sent(recording.recoveryURL);
                    pending_.refresh();
                }));
        lastInsertion_.delivered(text);
        status = "Written at your cursor";
        symbol = "checkmark.circle.fill";
    }
    hud_.showStatus(status, symbol);
    hud_.hide(kWrittenHide);
    flash("checkmark.circle.fill");
    if (result.voiceEnabled) {
        if (auto spoken =
                ScreenAwareMode::feedbackText(result.intent, !text.empty(), result.explanation)) {
            std::function<void()> onStarted;
            if (text.empty()) {
                // The explanation stands in for the draft: once it plays, nothing is lost.
                onStarted = [recording, refresh = lifetime_.guard([this] { pending_.refresh(); })] {
                    recording.discardRecoveryCopy();
                    refresh();
                };
            }
            speakFeedback(*spoken, result.voiceSpeed, api, std::move(onStarted));
            return;
        }
    }
    if (text.empty()) {
        pending_.offer();
        hud_.showStatus("No answer returned · recording saved", "exclamationmark.arrow.circlepath");
        hud_.hide(kFailureHide);
    }
}

void AppDelegate::speakFeedback(const std::string& text, double speed,
                                const std::shared_ptr<APIClient>& api,
                                std::function<void()> onStarted) {
    // A newer explanation replaces one still downloading.
    if (explanationCancelled_) {
        *explanationCancelled_ = true;
    }
    explanationCancelled_ = std::make_shared<std::atomic<bool>>(false);
    if (!api) {
        return;
    }
    speakInBackground(s_.scheduler, s_.players, api, text, explanationCancelled_,
                      lifetime_.guard([this, speed, onStarted = std::move(onStarted)](
                                          std::unique_ptr<platform::AudioPlayer> player) {
                          playFeedback(std::move(player), speed, onStarted);
                      }),
                      lifetime_.guard([this](const std::string& description) {
                          s_.log.log("Screen-aware voice unavailable: " + description);
                      }));
}

void AppDelegate::playFeedback(std::unique_ptr<platform::AudioPlayer> player, double speed,
                               const std::function<void()>& onStarted) {
    if (!player) {
        s_.log.log("Screen-aware voice unavailable: the audio could not be decoded");
        return;
    }
    // Faster or slower, the voice keeps its pitch.
    player->setRate(std::clamp(speed, kSlowestVoice, kFastestVoice));
    // One player for explanations and readings: either replaces the other.
    if (!readAloud_.playExplanation(std::move(player))) {
        s_.log.log("Screen-aware voice unavailable: playback could not start");
        return;
    }
    if (onStarted) {
        onStarted();
    }
}

void AppDelegate::toggleScreenAware() {
    const bool wasOn = screenAwareItem_->checked();
    if (wasOn || s_.screenAware.windows.canCaptureWindows()) {
        s_.defaults.setBool(defaults::screenAwareConsent, true);
        s_.defaults.setBool(defaults::screenAwareEnabled, !wasOn);
        screenAwareItem_->setChecked(!wasOn);
        return;
    }
    fail(kNoWindowImages);
}

void AppDelegate::toggleContextPreview() {
    const bool on = !previewContextItem_->checked();
    s_.defaults.setBool(defaults::screenAwarePreview, on);
    previewContextItem_->setChecked(on);
}

}  // namespace larkspire

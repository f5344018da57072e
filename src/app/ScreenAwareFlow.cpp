#include "app/ScreenAwareFlow.h"

#include <algorithm>

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

}  // namespace

ScreenAwareFlow::ScreenAwareFlow(Services services, Shell shell)
    : s_(services), shell_(std::move(shell)) {}

ScreenAwareFlow::~ScreenAwareFlow() {
    if (explanationCancelled_) {
        *explanationCancelled_ = true;
    }
}

std::optional<Config> ScreenAwareFlow::loadConfigOrFail() {
    auto config = Config::load(Config::pathIn(s_.homeDirectory));
    if (!config) {
        shell_.fail("Missing ~/.vantrel/config.json");
    }
    return config;
}

std::optional<AccessibilityContext> ScreenAwareFlow::captureOrRefuse(
    const Config& config, const std::optional<platform::FrontWindow>& front) {
    auto context =
        AccessibilityContext::capture(config, front, {s_.desktop.accessibility, s_.clock});
    if (!context) {
        const std::string name =
            front && !front->applicationName.empty() ? front->applicationName : "this application";
        shell_.fail("Context capture is disabled for " + name);
    }
    return context;
}

void ScreenAwareFlow::showListening() {
    shell_.setIcon("viewfinder.circle.fill", "Screen-aware listening");
    s_.hud.showStatus("Screen-aware listening · " + capturedContext_->application, "viewfinder");
}

void ScreenAwareFlow::contextDown() {
    if (s_.recorder.isRecording()) {
        return;
    }
    s_.dictation.dropTarget();
    // The window in front now is what is read and where the draft goes, even when the
    // consent dialog takes the front for a while.
    const auto front = s_.desktop.frontmost.frontmost();
    const bool asking = !s_.defaults.boolValue(defaults::screenAwareConsent);
    if (!ensureScreenAwareConsent()) {
        return;
    }
    if (asking && !(s_.keys.fnIsDown() &&
                    s_.keys.activeGesture() == FnKeyMonitor::ActiveGesture::contextual)) {
        return;  // the keys were let go while the dialog was open: that gesture is over
    }
    const auto config = loadConfigOrFail();
    if (!config) {
        return;
    }
    auto context = captureOrRefuse(*config, front);
    if (!context || !s_.dictation.startRecording()) {
        return;
    }
    contextual_ = true;
    capturedContext_ = std::move(context);
    showListening();
}

void ScreenAwareFlow::contextUp() {
    if (!contextual_) {
        return;
    }
    contextual_ = false;
    stopContextualDraft();
}

bool ScreenAwareFlow::promoteRecordingToContext() {
    if (!s_.recorder.isRecording() || contextual_) {
        return contextual_;
    }
    const auto front = s_.desktop.frontmost.frontmost();
    const bool asking = !s_.defaults.boolValue(defaults::screenAwareConsent);
    if (!ensureScreenAwareConsent()) {
        return false;
    }
    if (asking && !s_.keys.fnIsDown()) {
        // The key was let go while the dialog was open: that release ends the dictation.
        s_.dictation.fnUp();
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
    s_.dictation.dropTarget();
    contextual_ = true;
    capturedContext_ = std::move(context);
    showListening();
    return true;
}

bool ScreenAwareFlow::ensureScreenAwareConsent() {
    if (s_.defaults.boolValue(defaults::screenAwareConsent)) {
        return true;
    }
    platform::AlertContent alert{
        "Turn on screen-aware dictation?",
        "When you hold Control + " + shell_.keyName() +
            ", Larkspire reads focused and accessible text from the active window to write at "
            "your cursor. You can optionally include one image of that window. Context is used "
            "only for this request, images are never saved, and sensitive fields are blocked.",
        {"Include active-window images", "Use text only", "Cancel"},
        platform::AlertStyle::question};
    // Where the desktop gives no image of one window (GNOME and KDE on Wayland give only
    // the whole screen, other applications included), no image is offered, and why.
    const bool images = s_.desktop.windows.canCaptureWindows();
    if (!images) {
        alert.informativeText +=
            " This desktop lets programs take only the whole screen, never one window, so "
            "Larkspire sends the window’s text alone.";
        alert.buttons.erase(alert.buttons.begin());
    }
    consentOpen_ = true;
    const std::size_t choice = s_.desktop.alerts.run(alert) + (images ? 0 : 1);
    consentOpen_ = false;
    if (choice >= 2) {
        return false;
    }
    s_.defaults.setBool(defaults::screenAwareConsent, true);
    s_.defaults.setBool(defaults::screenAwareEnabled, choice == 0);
    shell_.setImagesChosen(choice == 0);
    return true;
}

void ScreenAwareFlow::stopContextualDraft() {
    auto recording = s_.recorder.stop();
    if (!recording || !capturedContext_) {
        capturedContext_.reset();
        if (!s_.recorder.lastFailure().empty()) {
            s_.dictation.saveFailed(s_.recorder.lastFailure());
            return;
        }
        s_.hud.hide(0);
        shell_.resetIcon();
        return;
    }
    // In flight like a dictation: "Retry saved recording" leaves it alone.
    s_.pending.sending(recording->recoveryURL);
    s_.hud.showStatus("Reading the active window", "viewfinder");
    std::optional<Bytes> image;
    if (s_.defaults.boolValue(defaults::screenAwareEnabled) && !capturedContext_->textOnly) {
        image = capturedContext_->captureWindowImage(s_.desktop.windows, s_.desktop.imageEncoder);
    }
    shell_.setIcon("sparkles", "Drafting from application context");
    shell_.setToggleTitle("Start recording");
    s_.hud.showStatus("Writing with context", "sparkles");

    // The context stays here, on the main thread that owns its element handles; the
    // request carries its texts.
    const std::uint64_t id = ++nextDraft_;
    draftContexts_.emplace(id, *capturedContext_);
    auto onSuccess = lifetime_.guard([this, id](ContextualResult result, Recording r) {
        auto node = draftContexts_.extract(id);
        s_.pending.refresh();
        insertContextual(result, node.mapped(), shell_.api(), r);
        // Once this task and the draft it holds are gone.
        s_.scheduler.post([] { memory::returnFreedPages(); });
    });
    auto onFailure =
        lifetime_.guard([this, id, sent = recording->recoveryURL](std::string description) {
            s_.pending.sent(sent);
            draftContexts_.erase(id);
            s_.pending.refresh();
            s_.hud.showStatus("Couldn’t write · recording saved", "exclamationmark.triangle");
            s_.hud.hide(kFailureHide);
            shell_.fail(description + kRecoveryHint);
        });
    s_.scheduler.runInBackground(
        platform::Priority::userInitiated,
        [api = shell_.api(), &scheduler = s_.scheduler, recording = std::move(*recording),
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

void ScreenAwareFlow::insertContextual(const ContextualResult& result,
                                       const AccessibilityContext& context,
                                       const std::shared_ptr<APIClient>& api,
                                       const Recording& recording) {
    const std::string text = text::trimmed(result.draft);
    if (text.empty()) {
        s_.pending.sent(recording.recoveryURL);  // kept for retry unless an explanation plays
    }
    std::string status = "Ready to explain";
    std::string symbol = "speaker.wave.2";
    if (!text.empty()) {
        // The window is raised only when the paste's turn comes: raised earlier, it would
        // take the chord of a dictation still waiting to be pasted.
        s_.insertion.pasteAfter(
            text, lifetime_.guard([this, window = context.window, pid = context.processIdentifier] {
                activateWindowOf(s_.desktop.frontmost, window, pid);
            }),
            [context] { context.restoreFocus(); },
            // The recording stays in flight, and on disk, until its draft was pasted; a
            // draft that only reached the clipboard keeps it for a retry.
            lifetime_.guard(
                [this, recording, pid = context.processIdentifier](bool sent, bool undoable) {
                    s_.lastInsertion.pasted(pid, undoable);
                    if (sent) {
                        recording.discardRecoveryCopy();
                    }
                    s_.pending.sent(recording.recoveryURL);
                    s_.pending.refresh();
                }));
        s_.lastInsertion.delivered(text);
        status = "Written at your cursor";
        symbol = "checkmark.circle.fill";
    }
    s_.hud.showStatus(status, symbol);
    s_.hud.hide(kWrittenHide);
    shell_.flash("checkmark.circle.fill");
    if (result.voiceEnabled) {
        if (auto spoken =
                ScreenAwareMode::feedbackText(result.intent, !text.empty(), result.explanation)) {
            std::function<void()> onStarted;
            if (text.empty()) {
                // The explanation stands in for the draft: once it plays, nothing is lost.
                onStarted = [recording,
                             refresh = lifetime_.guard([this] { s_.pending.refresh(); })] {
                    recording.discardRecoveryCopy();
                    refresh();
                };
            }
            speakFeedback(*spoken, result.voiceSpeed, api, std::move(onStarted));
            return;
        }
    }
    if (text.empty()) {
        s_.pending.offer();
        s_.hud.showStatus("No answer returned · recording saved",
                          "exclamationmark.arrow.circlepath");
        s_.hud.hide(kFailureHide);
    }
}

void ScreenAwareFlow::speakFeedback(const std::string& text, double speed,
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

void ScreenAwareFlow::playFeedback(std::unique_ptr<platform::AudioPlayer> player, double speed,
                                   const std::function<void()>& onStarted) {
    if (!player) {
        s_.log.log("Screen-aware voice unavailable: the audio could not be decoded");
        return;
    }
    // Faster or slower, the voice keeps its pitch.
    player->setRate(std::clamp(speed, kSlowestVoice, kFastestVoice));
    // One player for explanations and readings: either replaces the other.
    if (!s_.readAloud.playExplanation(std::move(player))) {
        s_.log.log("Screen-aware voice unavailable: playback could not start");
        return;
    }
    if (onStarted) {
        onStarted();
    }
}

}  // namespace larkspire

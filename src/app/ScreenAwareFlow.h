#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/DictationFlow.h"
#include "app/FlowShell.h"
#include "app/Insertion.h"
#include "app/LastInsertion.h"
#include "app/PendingRecordings.h"
#include "audio/Recorder.h"
#include "context/AccessibilityContext.h"
#include "hud/ScreenAwareHUD.h"
#include "input/FnKeyMonitor.h"
#include "platform/Accessibility.h"
#include "platform/AudioPlayerFactory.h"
#include "platform/FrontmostApp.h"
#include "platform/ImageEncoder.h"
#include "platform/ModalAlert.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/WindowCapture.h"
#include "readaloud/ReadAloud.h"
#include "service/APIClient.h"
#include "service/Config.h"
#include "util/Lifetime.h"

namespace larkspire {

// What a screen-aware request reads and asks of the desktop.
struct ScreenAwareServices {
    platform::FrontmostApp& frontmost;
    platform::Accessibility& accessibility;
    platform::WindowCapture& windows;
    platform::ImageEncoder& imageEncoder;
    // The consent dialog.
    platform::ModalAlert& alerts;
};

// A screen-aware request from key to draft: Control with the key captures the active
// window's context and records a spoken instruction (or a dictation becomes one when
// Control joins); the release turns instruction and context into a draft written at the
// cursor, and an explanation may be spoken. The recording is the dictation's recorder,
// started and failed through the dictation flow. Main thread; the request runs in the
// background.
class ScreenAwareFlow {
  public:
    struct Services {
        const platform::Clock& clock;
        platform::Scheduler& scheduler;
        platform::UserDefaults& defaults;
        platform::SystemLog& log;
        platform::AudioPlayerFactory& players;
        Insertion& insertion;
        // Whether the keys are still held after the consent dialog.
        FnKeyMonitor& keys;
        ScreenAwareServices desktop;
        // Where the configuration file is looked for.
        std::string homeDirectory;
        Recorder& recorder;
        ScreenAwareHUD& hud;
        PendingRecordings& pending;
        LastInsertion& lastInsertion;
        // Owns the one player, which explanations share with readings.
        ReadAloud& readAloud;
        DictationFlow& dictation;
    };
    struct Shell : FlowShell {
        // The check mark of "Include active-window image…".
        std::function<void(bool images)> setImagesChosen;
        // The dictation key's name, for the consent text.
        std::function<std::string()> keyName;
    };

    ScreenAwareFlow(Services services, Shell shell);
    // Cancels an explanation still downloading.
    ~ScreenAwareFlow();
    ScreenAwareFlow(const ScreenAwareFlow&) = delete;
    ScreenAwareFlow& operator=(const ScreenAwareFlow&) = delete;

    void contextDown();
    void contextUp();
    // Control joined a held dictation key: the recording becomes an instruction.
    bool promoteRecordingToContext();
    void stopContextualDraft();
    bool ensureScreenAwareConsent();
    void insertContextual(const ContextualResult& result, const AccessibilityContext& context,
                          const std::shared_ptr<APIClient>& api, const Recording& recording);
    void speakFeedback(const std::string& text, double speed, const std::shared_ptr<APIClient>& api,
                       std::function<void()> onStarted);

    // The recording in progress is an instruction; ending one that cannot be sent.
    bool contextual() const { return contextual_; }
    void dropInstruction() {
        contextual_ = false;
        capturedContext_.reset();
    }
    const std::optional<AccessibilityContext>& capturedContext() const { return capturedContext_; }
    // The consent dialog is open: gestures heard meanwhile are not acted on.
    bool consentOpen() const { return consentOpen_; }

  private:
    std::optional<Config> loadConfigOrFail();
    std::optional<AccessibilityContext> captureOrRefuse(
        const Config& config, const std::optional<platform::FrontWindow>& front);
    void showListening();
    void playFeedback(std::unique_ptr<platform::AudioPlayer> player, double speed,
                      const std::function<void()>& onStarted);

    Services s_;
    Shell shell_;
    bool contextual_ = false;
    std::optional<AccessibilityContext> capturedContext_;
    // Contexts of drafts under way, by request: element handles stay on the main thread.
    std::map<std::uint64_t, AccessibilityContext> draftContexts_;
    std::uint64_t nextDraft_ = 0;
    // Set when the explanation being downloaded is no longer wanted (a newer one, a quit).
    std::shared_ptr<std::atomic<bool>> explanationCancelled_;
    bool consentOpen_ = false;
    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire

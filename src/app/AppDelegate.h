#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "account/NativeStatusReporter.h"
#include "account/ProjectMenu.h"
#include "account/WorkspaceController.h"
#include "app/DictationFlow.h"
#include "app/Insertion.h"
#include "app/LastInsertion.h"
#include "app/MicrophoneMenu.h"
#include "app/PendingRecordings.h"
#include "app/ScreenAwareFlow.h"
#include "audio/Recorder.h"
#include "audio/RecoveryStore.h"
#include "context/AccessibilityContext.h"
#include "hud/ScreenAwareHUD.h"
#include "input/FnKey.h"
#include "input/FnKeyMonitor.h"
#include "platform/Accessibility.h"
#include "platform/AccessibilityBus.h"
#include "platform/AudioInput.h"
#include "platform/AudioPlayer.h"
#include "platform/AudioPlayerFactory.h"
#include "platform/Autostart.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "platform/FloatingPanel.h"
#include "platform/FrontmostApp.h"
#include "platform/ImageEncoder.h"
#include "platform/Keychain.h"
#include "platform/Menu.h"
#include "platform/ModalAlert.h"
#include "platform/Scheduler.h"
#include "platform/StatusArea.h"
#include "platform/SystemLog.h"
#include "platform/UserDefaults.h"
#include "platform/WindowCapture.h"
#include "readaloud/ReadAloud.h"
#include "service/APIClient.h"
#include "service/Config.h"
#include "util/Lifetime.h"
#include "vault/VaultSync.h"

namespace larkspire {

using platform::Menu;
using platform::MenuItem;

// What screen-aware requests read and play through.

// The platform services the controller works through. main() fills it with the
// desktop's implementations; tests fill it with fakes.
struct AppServices {
    platform::Clock& clock;
    platform::Scheduler& scheduler;
    platform::SystemLog& log;
    platform::UserDefaults& defaults;
    platform::Desktop& desktop;
    platform::StatusArea& statusArea;
    platform::FloatingPanel& hudPanel;
    platform::AudioInput& audioInput;
    platform::Keychain& keychain;
    Insertion& insertion;
    FnKeyMonitor& fnMonitor;
    // The desktop's clipboard (read aloud) and the players of spoken audio.
    platform::Clipboard& clipboard;
    platform::AudioPlayerFactory& players;
    // The session's start-up entry ("Start Larkspire at login").
    platform::Autostart& autostart;
    std::string homeDirectory;
    // Where recordings wait until their text is delivered.
    RecoveryStore recoveryStore;
    // How the service is reached; null means HTTP through libcurl.
    std::shared_ptr<HttpTransport> transport;
    // Ends the process (the Quit items).
    std::function<void()> terminate;
    // Shows the standard about box.
    std::function<void()> showAbout;
    // True where the layout types AltGr characters with Right Alt.
    bool rightAltIsAltGr = false;
    ScreenAwareServices screenAware;
    // Whether the accessibility bus is on, for the permission report; none reads as off.
    platform::AccessibilityBus* accessibilityBus = nullptr;
};

// The one controller: start-up, menus, the status icon and the shell's actions.
// Main thread only.
class AppDelegate {
  public:
    explicit AppDelegate(AppServices services);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // The start-up sequence, once the event loop runs.
    void applicationDidFinishLaunching();

    // Gestures of the key monitor, handed to the dictation flow.
    void fnDown() { dictation_.fnDown(); }
    void fnUp() { dictation_.fnUp(); }
    // Another key was pressed while the dictation key was held: the user was typing a
    // chord (an AltGr character, say), not dictating.
    void chordCancel() { dictation_.chordCancel(); }

    // Screen-aware gestures (Control with the key), handed to the screen-aware flow.
    void contextDown() { screenAware_.contextDown(); }
    void contextUp() { screenAware_.contextUp(); }
    bool promoteRecordingToContext() { return screenAware_.promoteRecordingToContext(); }
    void stopContextualDraft() { screenAware_.stopContextualDraft(); }
    bool ensureScreenAwareConsent() { return screenAware_.ensureScreenAwareConsent(); }
    void insertContextual(const ContextualResult& result, const AccessibilityContext& context,
                          const std::shared_ptr<APIClient>& api, const Recording& recording) {
        screenAware_.insertContextual(result, context, api, recording);
    }
    void speakFeedback(const std::string& text, double speed, const std::shared_ptr<APIClient>& api,
                       std::function<void()> onStarted) {
        screenAware_.speakFeedback(text, speed, api, std::move(onStarted));
    }

    bool startRecording() { return dictation_.startRecording(); }
    void stopAndTranscribe() { dictation_.stopAndTranscribe(); }
    void refreshMicrophonePermission(bool requestIfNeeded) {
        dictation_.refreshMicrophonePermission(requestIfNeeded);
    }
    void submit(Recording recording, std::shared_ptr<InsertionTarget> target) {
        dictation_.submit(std::move(recording), std::move(target));
    }
    void emitActivation(const std::string& event);
    std::string installationId();
    // The permission report to the service, and what it reports.
    void reportNativeStatus(bool force) { nativeStatus_.reportNativeStatus(force); }
    PermissionStates permissionStates();
    void refreshProjects() { projects_.refreshProjects(); }

    void setIcon(const std::string& name, const std::string& accessibility);
    void flash(const std::string& symbol);
    void fail(const std::string& message);

    // The signed-in setup; runs at most once per process.
    void finishAuthenticatedSetup(const Config& config);
    void openSignIn(const Config& config);
    void showWorkspace(const std::string& path);

    // Menu actions.
    void menuToggle() { dictation_.menuToggle(); }
    void retrySavedRecording() { pending_.retry(); }
    void copyLast() { lastInsertion_.copy(); }
    void toggleReadAloud();
    void toggleScreenAware();
    void toggleContextPreview();
    void undoLastInsertion() { lastInsertion_.undo(); }
    void openHistory();
    void openActivation();
    void openVault();
    void toggleAutostart();
    void openMicrophoneSettings();
    void openAccessibilitySettings();
    void quit();

    // Application callbacks.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);
    // URLs of the agent's "larkspire" scheme, from the desktop or a later launch.
    void openURLs(const std::vector<std::string>& urls);
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }

    const std::shared_ptr<Menu>& statusMenu() const { return statusMenu_; }
    const std::shared_ptr<Menu>& mainMenu() const { return mainMenu_; }
    const platform::StatusIcon& currentIcon() const { return icon_; }
    const Config& config() const { return config_; }
    Recorder& recorder() { return recorder_; }
    ScreenAwareHUD& hud() { return hud_; }
    const std::shared_ptr<APIClient>& api() const { return api_; }
    const std::optional<std::string>& lastText() const { return lastInsertion_.text(); }
    bool locked() const { return dictation_.locked(); }
    VaultSync* vault() const { return vault_.get(); }
    const FnKey& fnKey() const { return fnKey_; }
    bool authenticatedSetupComplete() const { return authenticatedSetupComplete_; }
    bool fnMonitoring() const { return fnMonitoring_; }
    const std::shared_ptr<Menu>& projectMenu() const { return projects_.menu(); }
    const std::shared_ptr<Menu>& microphoneMenu() const { return microphones_.menu(); }
    const std::shared_ptr<WorkspaceController>& workspaceController() const {
        return workspaceController_;
    }
    bool contextual() const { return screenAware_.contextual(); }
    const std::optional<AccessibilityContext>& capturedContext() const {
        return screenAware_.capturedContext();
    }
    platform::AudioPlayer* feedbackPlayer() const { return readAloud_.player(); }

    const std::shared_ptr<MenuItem>& toggleItem() const { return toggleItem_; }
    const std::shared_ptr<MenuItem>& retryRecordingItem() const { return pending_.item(); }
    const std::shared_ptr<MenuItem>& copyLastItem() const { return lastInsertion_.copyItem(); }
    const std::shared_ptr<MenuItem>& readAloudItem() const { return readAloudItem_; }
    const std::shared_ptr<MenuItem>& undoLastItem() const { return lastInsertion_.undoItem(); }
    const std::shared_ptr<MenuItem>& microphoneItem() const { return microphoneItem_; }
    const std::shared_ptr<MenuItem>& autostartItem() const { return autostartItem_; }
    const std::shared_ptr<MenuItem>& screenAwareItem() const { return screenAwareItem_; }
    const std::shared_ptr<MenuItem>& previewContextItem() const { return previewContextItem_; }

    // Hooks filled as the service client, the monitor and the workspace are connected.
    struct Hooks {
        // Opens the sign-in window; its completion calls finishAuthenticatedSetup.
        std::function<void(const std::shared_ptr<APIClient>&, const Config&,
                           std::function<void()> onSignedIn)>
            showSignIn;
        // Builds the workspace window over its controller, once per process.
        std::function<void(const std::shared_ptr<WorkspaceController>&)> makeWorkspaceWindow;
        // Once signed in, before the keys are listened to: what asks the desktop's
        // approval for keys and pasting starts here, never in front of the sign-in.
        std::function<void()> signedIn;
    };
    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  private:
    // The service client, status icon, failures and recording item, for the flows.
    FlowShell flowShell();
    void continueStartUp(bool signedIn);
    void persistActivationStage(int stage);
    void buildMainMenu();
    void buildStatusMenu();
    void resetIcon();
    // The desktop's settings page for a privacy pane, or a window that says how to grant
    // it on this desktop.
    void openSettingsPane(const std::string& pane);
    // The action of the warning item shown when the key monitor could not start.
    void explainKeyListener();
    // The warning item of a key listener that cannot hear the key, once.
    void showKeyListenerWarning();
    std::string keyWarningTitle() const;
    // The keys are heard; what the desktop refused is the keyboard for pasting.
    bool onlyPastingIsMissing() const;
    // Why the key is not heard, else why pastes cannot go out; empty when both work.
    std::string keyProblem() const;
    void keyListenerChanged();
    std::string screenAwareTitle() const;

    AppServices s_;
    Hooks hooks_;
    Config config_ = Config::developmentDefault();
    FnKey fnKey_{0, "Right Alt"};
    platform::StatusIcon icon_;

    std::shared_ptr<Menu> mainMenu_;
    std::shared_ptr<Menu> statusMenu_;
    std::shared_ptr<MenuItem> toggleItem_;
    std::shared_ptr<MenuItem> readAloudItem_;
    std::shared_ptr<MenuItem> screenAwareItem_;
    std::shared_ptr<MenuItem> previewContextItem_;
    std::shared_ptr<MenuItem> autostartItem_;
    std::shared_ptr<MenuItem> microphoneItem_;

    Recorder recorder_;
    PendingRecordings pending_;
    ScreenAwareHUD hud_;
    ReadAloud readAloud_;
    std::shared_ptr<APIClient> api_;
    LastInsertion lastInsertion_;
    // The page a link asked for before the agent was signed in.
    std::optional<std::string> linkedPage_;
    std::set<std::string> emittedActivationEvents_;
    std::unique_ptr<VaultSync> vault_;
    bool fnMonitoring_ = false;
    bool keyWarningShown_ = false;
    std::shared_ptr<platform::MenuItem> keyWarningItem_;
    bool authenticatedSetupComplete_ = false;
    NativeStatusReporter nativeStatus_;
    ProjectMenu projects_;
    MicrophoneMenu microphones_;
    DictationFlow dictation_;
    ScreenAwareFlow screenAware_;
    std::shared_ptr<WorkspaceController> workspaceController_;

    // Last member: callbacks guarded by it go quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire

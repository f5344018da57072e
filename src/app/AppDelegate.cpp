#include "app/AppDelegate.h"

#include <filesystem>

#include "platform/StatusSymbols.h"
#include "util/Preferences.h"
#include "util/Uuid.h"

namespace larkspire {
namespace {

constexpr platform::Duration kFlashReset{1.2};
constexpr platform::Duration kFailReset{2.5};
constexpr int kStageShortcutReady = 3;

}  // namespace

AppDelegate::AppDelegate(AppServices services)
    : s_(std::move(services)),
      mainMenu_(std::make_shared<Menu>()),
      statusMenu_(std::make_shared<Menu>()),
      recorder_(s_.audioInput, s_.scheduler, s_.clock, s_.recoveryStore),
      pending_(s_.recoveryStore, s_.scheduler, s_.insertion,
               PendingRecordings::Flow{
                   [this] { return recorder_.currentSpoolPath(); },
                   [this](Recording recording, std::shared_ptr<InsertionTarget> target) {
                       submit(std::move(recording), std::move(target));
                   }}),
      hud_(s_.hudPanel, s_.scheduler, s_.defaults),
      readAloud_(s_.scheduler, s_.clipboard, s_.players, hud_,
                 ReadAloud::Shell{
                     [this] { return api_; },
                     [this](const std::string& symbol, const std::string& accessibility) {
                         setIcon(symbol, accessibility);
                     },
                     [this](const std::string& message) { fail(message); },
                     [this] { resetIcon(); },
                     [this](const std::string& title) { readAloudItem_->setTitle(title); },
                 }),
      lastInsertion_(s_.insertion, s_.scheduler,
                     [this](const std::string& symbol) { flash(symbol); }),
      nativeStatus_(
          s_.scheduler, s_.clock, s_.log,
          NativeStatusReporter::Sources{
              [this] { return api_; },
              [this] { return installationId(); },
              [this] { return permissionStates(); },
              [&audioInput = s_.audioInput, bus = s_.accessibilityBus](PermissionStates& states) {
                  states.microphone = audioInput.authorizationStatus() ==
                                      platform::MicrophoneAuthorization::authorized;
                  states.accessibility = bus && bus->isEnabled();
              },
          }),
      projects_(s_.scheduler, s_.defaults, [this] { return api_; }),
      microphones_({s_.scheduler, s_.defaults, s_.audioInput}),
      dictation_(
          DictationFlow::Services{s_.clock, s_.scheduler, s_.defaults, s_.audioInput, s_.insertion,
                                  recorder_, hud_, pending_, lastInsertion_, microphones_},
          DictationFlow::Shell{
              flowShell(),
              [this](const std::string& title) { microphoneItem_->setTitle(title); },
              [this](const std::string& event) { emitActivation(event); },
              [this] { openSettingsPane(panes::microphone); },
              [this] {
                  if (vault_) {
                      vault_->syncSoon();
                  }
              },
              [this] { return screenAware_.contextual(); },
              [this] { screenAware_.dropInstruction(); },
          }),
      screenAware_(ScreenAwareFlow::Services{s_.clock, s_.scheduler, s_.defaults, s_.log,
                                             s_.players, s_.insertion, s_.fnMonitor, s_.screenAware,
                                             s_.homeDirectory, recorder_, hud_, pending_,
                                             lastInsertion_, readAloud_, dictation_},
                   ScreenAwareFlow::Shell{
                       flowShell(),
                       [this](bool images) { screenAwareItem_->setChecked(images); },
                       [this] { return fnKey_.displayName; },
                   }) {
    recorder_.setStartFailureHandler(
        lifetime_.guard([this](const std::filesystem::path& spool, const std::string& reason) {
            dictation_.microphoneFailed(spool, reason);
        }));
    recorder_.setWriteFailureHandler(
        lifetime_.guard([this](const std::filesystem::path& spool, const std::string& text) {
            dictation_.writeFailed(spool, text);
        }));
}

AppDelegate::~AppDelegate() = default;

FlowShell AppDelegate::flowShell() {
    return FlowShell{
        [this] { return api_; },
        [this](const std::string& symbol, const std::string& accessibility) {
            setIcon(symbol, accessibility);
        },
        [this] { resetIcon(); },
        [this](const std::string& symbol) { flash(symbol); },
        [this](const std::string& message) { fail(message); },
        [this](const std::string& title) { toggleItem_->setTitle(title); },
    };
}

void AppDelegate::applicationDidFinishLaunching() {
    buildMainMenu();
    s_.statusArea.setMainMenu(mainMenu_);
    setIcon(std::string(platform::symbols::idle), std::string(platform::symbols::idleText));
    buildStatusMenu();
    s_.statusArea.setMenu(statusMenu_);
    // A crash while a recording was being persisted leaves a hidden temporary file.
    s_.recoveryStore.removeLeftoverTemporaryFiles();

    // A missing or broken configuration is silent: the development origin applies.
    config_ = Config::load(Config::pathIn(s_.homeDirectory)).value_or(Config::developmentDefault());
    fnKey_ = chooseFnKey(config_.fn_key, s_.rightAltIsAltGr, s_.log);
    // Menu texts name the key the user actually holds.
    screenAwareItem_->setTitle(screenAwareTitle());

    api_ = std::make_shared<APIClient>(config_, s_.clock, s_.keychain, s_.transport);
    // The token check may wait on the network: keep the desktop responsive meanwhile.
    s_.scheduler.runInBackground(
        platform::Priority::userInitiated,
        [api = api_, &scheduler = s_.scheduler,
         done = lifetime_.guard([this](bool signedIn) { continueStartUp(signedIn); })]() mutable {
            bool signedIn = true;
            try {
                api->ensureToken();
            } catch (const std::exception&) {
                signedIn = false;  // any failure means: ask the user to sign in
            }
            scheduler.post([done, signedIn]() mutable { done(signedIn); });
        });
}

void AppDelegate::continueStartUp(bool signedIn) {
    if (!signedIn) {
        openSignIn(config_);
        return;
    }
    finishAuthenticatedSetup(config_);
}

void AppDelegate::buildMainMenu() {
    auto app = std::make_shared<Menu>();
    auto about = MenuItem::make("About Larkspire", lifetime_.guard([this] {
        if (s_.showAbout) {
            s_.showAbout();
        }
    }));
    about->setRole(MenuItem::Role::about);
    app->append(about);
    app->append(MenuItem::separator());
    // Hiding belongs to the desktop on Linux; the items stay so the menu reads as designed.
    auto hide = MenuItem::make("Hide Larkspire");
    hide->setKeyEquivalent("h");
    app->append(hide);
    app->append(MenuItem::make("Hide Others"));
    app->append(MenuItem::make("Show All"));
    app->append(MenuItem::separator());
    auto quitItem = MenuItem::make("Quit Larkspire", lifetime_.guard([this] { quit(); }));
    quitItem->setKeyEquivalent("q");
    quitItem->setRole(MenuItem::Role::quit);
    app->append(quitItem);

    auto window = std::make_shared<Menu>();
    auto minimize = MenuItem::make("Minimize");
    minimize->setKeyEquivalent("m");
    window->append(minimize);
    window->append(MenuItem::make("Zoom"));

    auto appItem = MenuItem::make("");
    appItem->setSubmenu(app);
    auto windowItem = MenuItem::make("Window");
    windowItem->setSubmenu(window);
    mainMenu_->append(appItem);
    mainMenu_->append(windowItem);
}

void AppDelegate::buildStatusMenu() {
    auto action = [this](void (AppDelegate::*method)()) {
        return lifetime_.guard([this, method] { (this->*method)(); });
    };

    toggleItem_ = MenuItem::make("Start recording", action(&AppDelegate::menuToggle));
    pending_.refresh();
    readAloudItem_ = MenuItem::make("Read clipboard aloud", action(&AppDelegate::toggleReadAloud));
    screenAwareItem_ = MenuItem::make(screenAwareTitle(), action(&AppDelegate::toggleScreenAware));
    screenAwareItem_->setCheckable(true);
    screenAwareItem_->setChecked(s_.defaults.boolValue(defaults::screenAwareEnabled));

    statusMenu_->append(toggleItem_);
    statusMenu_->append(pending_.item());
    statusMenu_->append(lastInsertion_.copyItem());
    statusMenu_->append(readAloudItem_);
    statusMenu_->append(screenAwareItem_);
    statusMenu_->append(MenuItem::separator());
    statusMenu_->append(MenuItem::make("Open Larkspire", action(&AppDelegate::openHistory)));
    statusMenu_->append(
        MenuItem::make("Settings & permissions…", action(&AppDelegate::openActivation)));

    // Items kept up to date but not among the main entries: reachable in a submenu.
    auto activeProject = MenuItem::make("Active project");
    activeProject->setSubmenu(projects_.menu());
    previewContextItem_ =
        MenuItem::make("Preview screen-aware drafts", action(&AppDelegate::toggleContextPreview));
    previewContextItem_->setCheckable(true);
    previewContextItem_->setChecked(s_.defaults.boolValue(defaults::screenAwarePreview));
    microphoneItem_ =
        MenuItem::make("Microphone permission…", action(&AppDelegate::openMicrophoneSettings));
    auto vaultItem = MenuItem::make("Open vault folder", action(&AppDelegate::openVault));
    autostartItem_ =
        MenuItem::make("Start Larkspire at login", action(&AppDelegate::toggleAutostart));
    autostartItem_->setChecked(s_.autostart.enabled());
    autostartItem_->setCheckable(true);  // a setting: its box shows when it is off too

    auto more = std::make_shared<Menu>();
    more->append(lastInsertion_.undoItem());
    more->append(activeProject);
    more->append(previewContextItem_);
    more->append(microphoneItem_);
    auto microphoneChoice = MenuItem::make("Microphone");
    microphoneChoice->setSubmenu(microphones_.menu());
    more->append(microphoneChoice);
    more->append(vaultItem);
    more->append(autostartItem_);
    auto moreItem = MenuItem::make("More");
    moreItem->setSubmenu(more);
    statusMenu_->append(moreItem);

    statusMenu_->append(MenuItem::separator());
    auto quitItem = MenuItem::make("Quit", lifetime_.guard([this] { quit(); }));
    quitItem->setKeyEquivalent("q");
    quitItem->setRole(MenuItem::Role::quit);
    statusMenu_->append(quitItem);
}

void AppDelegate::setIcon(const std::string& name, const std::string& accessibility) {
    platform::StatusIcon icon;
    icon.name = name;
    icon.accessibility = accessibility;
    if (name == platform::symbols::idle) {
        icon.hasImage = true;
        icon.templateImage = true;
    } else {
        icon.hasImage = s_.statusArea.hasSymbol(name);
        icon.templateImage = icon.hasImage && name != platform::symbols::recording;
    }
    icon.redTint = name == platform::symbols::recording;
    icon_ = icon;
    s_.statusArea.setIcon(icon_);
}

void AppDelegate::resetIcon() {
    setIcon(std::string(platform::symbols::idle), std::string(platform::symbols::idleText));
    toggleItem_->setTitle("Start recording");
}

void AppDelegate::flash(const std::string& symbol) {
    setIcon(symbol, "Done");
    s_.scheduler.postAfter(kFlashReset, lifetime_.guard([this] { resetIcon(); }));
}

void AppDelegate::fail(const std::string& message) {
    s_.log.log("Vantrel error: " + message);
    setIcon(std::string(platform::symbols::warning), message);
    s_.scheduler.postAfter(kFailReset, lifetime_.guard([this] { resetIcon(); }));
}

void AppDelegate::openSignIn(const Config& config) {
    if (!api_ || !hooks_.showSignIn) {
        return;
    }
    hooks_.showSignIn(api_, config,
                      lifetime_.guard([this, config] { finishAuthenticatedSetup(config); }));
}

void AppDelegate::finishAuthenticatedSetup(const Config& config) {
    if (authenticatedSetupComplete_ || !api_) {
        return;
    }
    authenticatedSetupComplete_ = true;
    config_ = config;
    emitActivation("signed_in");
    projects_.refreshProjects();
    vault_ = std::make_unique<VaultSync>(
        api_, config.vault_dir,
        VaultSync::Services{s_.scheduler, s_.clock, s_.log, s_.homeDirectory});
    vault_->start();
    refreshMicrophonePermission(true);
    microphones_.start();
    if (hooks_.signedIn) {
        hooks_.signedIn();
    }

    // The monitor's callbacks hold the controller weakly.
    FnKeyMonitor& monitor = s_.fnMonitor;
    // While the consent dialog is open, the keys the user presses belong to it: the
    // gesture that opened it is settled once it closes.
    monitor.onFnDown = lifetime_.guard([this] {
        if (!screenAware_.consentOpen()) {
            fnDown();
        }
    });
    monitor.onFnUp = lifetime_.guard([this] {
        if (!screenAware_.consentOpen()) {
            fnUp();
        }
    });
    monitor.onChordCancel = lifetime_.guard([this] {
        if (!screenAware_.consentOpen()) {
            chordCancel();
        }
    });
    monitor.onContextDown = lifetime_.guard([this] {
        if (!screenAware_.consentOpen()) {
            contextDown();
        }
    });
    monitor.onContextUp = lifetime_.guard([this] {
        if (!screenAware_.consentOpen()) {
            contextUp();
        }
    });
    monitor.onContextUpgrade = lifetime_.guardReturning(
        false, [this] { return !screenAware_.consentOpen() && promoteRecordingToContext(); });
    monitor.onListenerChange = lifetime_.guard([this] { keyListenerChanged(); });
    s_.insertion.onPasteProblemChange(lifetime_.guard([this] { keyListenerChanged(); }));
    if (!fnMonitoring_) {
        monitor.setFnKey(fnKey_);
        fnMonitoring_ = monitor.start();
        if (!fnMonitoring_) {
            showKeyListenerWarning();
        }
    }
    if (fnMonitoring_) {
        persistActivationStage(kStageShortcutReady);
        emitActivation("shortcut_ready");
    }
    // A forced report once the key monitor has started, then the 10 s poll.
    nativeStatus_.start();

    std::string page = "/app";
    if (!s_.defaults.boolValue(defaults::activationComplete)) {
        s_.defaults.setBool(defaults::activationComplete, true);
        page = "/settings";
    }
    // A launch by a link ends on the page the link asked for.
    showWorkspace(std::exchange(linkedPage_, std::nullopt).value_or(page));
}

void AppDelegate::persistActivationStage(int stage) {
    if (s_.defaults.integerValue(defaults::activationStage).value_or(0) < stage) {
        s_.defaults.setInteger(defaults::activationStage, stage);
    }
}

void AppDelegate::emitActivation(const std::string& event) {
    if (emittedActivationEvents_.count(event) || !api_) {
        return;
    }
    emittedActivationEvents_.insert(event);
    s_.scheduler.runInBackground(
        platform::Priority::utility, [api = api_, event, id = installationId(), &log = s_.log] {
            try {
                api->recordActivationEvent(event, id);
            } catch (const APIClient::APIError& e) {
                log.log("Activation analytics unavailable: " + e.description());
            } catch (const std::exception& e) {
                log.log(std::string("Activation analytics unavailable: ") + e.what());
            }
        });
}

std::string AppDelegate::installationId() {
    if (auto stored = s_.defaults.stringValue(defaults::installationId);
        stored && uuid::isValid(*stored)) {
        return *stored;
    }
    const std::string fresh = uuid::randomLowerCase();
    s_.defaults.setString(defaults::installationId, fresh);
    return fresh;
}

void AppDelegate::toggleReadAloud() {
    readAloud_.toggleReadAloud();
}

void AppDelegate::openVault() {
    if (!vault_) {
        return;
    }
    s_.desktop.openFolder(vault_->vaultDir().parent_path().string());
}

void AppDelegate::toggleAutostart() {
    // The entry may have been changed behind the menu's back: act on what the file says.
    const bool wanted = !s_.autostart.enabled();
    if (auto failure = s_.autostart.setEnabled(wanted); !failure.empty()) {
        s_.log.log("Start at login: " + failure);
        fail(wanted ? "Could not turn on start at login" : "Could not turn off start at login");
    }
    autostartItem_->setChecked(s_.autostart.enabled());
    autostartItem_->setCheckable(true);  // a setting: its box shows when it is off too
}

std::string AppDelegate::screenAwareTitle() const {
    return "Include active-window image with Control + " + fnKey_.displayName;
}

void AppDelegate::showKeyListenerWarning() {
    if (keyWarningShown_) {
        return;
    }
    keyWarningShown_ = true;
    keyWarningItem_ =
        MenuItem::make(keyWarningTitle(), lifetime_.guard([this] { explainKeyListener(); }));
    statusMenu_->insert(keyWarningItem_, 0);
    statusMenu_->insert(MenuItem::separator(), 1);
}

bool AppDelegate::onlyPastingIsMissing() const {
    return fnMonitoring_ && s_.fnMonitor.hearsKeys();
}

// What is missing, named: the paste keyboard where only that was refused, else the key
// the desktop granted, or the configured one.
std::string AppDelegate::keyWarningTitle() const {
    if (onlyPastingIsMissing()) {
        return "⚠ Grant Accessibility for the paste keyboard…";
    }
    const std::string assigned = s_.fnMonitor.assignedKey();
    return "⚠ Grant Accessibility for the " + (assigned.empty() ? fnKey_.displayName : assigned) +
           " key…";
}

std::string AppDelegate::keyProblem() const {
    const std::string keys = s_.fnMonitor.unavailableReason();
    return keys.empty() ? s_.insertion.pasteProblem() : keys;
}

void AppDelegate::keyListenerChanged() {
    if (!keyProblem().empty()) {
        showKeyListenerWarning();
        keyWarningItem_->setTitle(keyWarningTitle());
        return;
    }
    // A desktop that chooses the key itself: say which, once for each new choice.
    const std::string assigned = s_.fnMonitor.assignedKey();
    if (assigned.empty() || s_.defaults.stringValue(defaults::assignedDictationKey) == assigned) {
        return;
    }
    s_.defaults.setString(defaults::assignedDictationKey, assigned);
    s_.screenAware.alerts.run({"Dictate with " + assigned,
                               "Your desktop assigned " + assigned +
                                   " to dictation: hold it while you speak and release it to "
                                   "paste. You can change it in the desktop’s keyboard "
                                   "shortcut settings.",
                               {"OK"}});
}

void AppDelegate::explainKeyListener() {
    // On Linux the key is heard through X11, not granted in a settings page: say what this
    // session lacks where the listener knows it.
    const std::string reason = keyProblem();
    if (reason.empty()) {
        openAccessibilitySettings();
        return;
    }
    const std::string assigned = s_.fnMonitor.assignedKey();
    s_.screenAware.alerts.run(
        {onlyPastingIsMissing() ? std::string("Larkspire cannot paste into other applications")
                                : "Larkspire cannot hear the " +
                                      (assigned.empty() ? fnKey_.displayName : assigned) + " key",
         reason,
         {"OK"},
         platform::AlertStyle::warning});
}

void AppDelegate::openMicrophoneSettings() {
    openSettingsPane(panes::microphone);
}

void AppDelegate::openAccessibilitySettings() {
    openSettingsPane(panes::accessibility);
}

void AppDelegate::quit() {
    if (s_.terminate) {
        s_.terminate();
    }
}

bool AppDelegate::applicationShouldHandleReopen(bool hasVisibleWindows) {
    if (!hasVisibleWindows) {
        showWorkspace("/app");
    }
    return true;
}

void AppDelegate::toggleScreenAware() {
    const bool wasOn = screenAwareItem_->checked();
    if (wasOn || s_.screenAware.windows.canCaptureWindows()) {
        s_.defaults.setBool(defaults::screenAwareConsent, true);
        s_.defaults.setBool(defaults::screenAwareEnabled, !wasOn);
        screenAwareItem_->setChecked(!wasOn);
        return;
    }
    fail(s_.screenAware.windows.unavailableReason());
}

void AppDelegate::toggleContextPreview() {
    const bool on = !previewContextItem_->checked();
    s_.defaults.setBool(defaults::screenAwarePreview, on);
    previewContextItem_->setChecked(on);
}

}  // namespace larkspire

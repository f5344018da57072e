// The account side of the shell: the workspace window, the agent's URL scheme and what
// the service is told about permissions.
#include "account/LarkspireUrlRoute.h"
#include "app/AppDelegate.h"
#include "util/Preferences.h"

namespace larkspire {
namespace {

// How each permission is granted on a Linux desktop, for desktops without a settings page
// of their own for it.
struct HowToGrant {
    const char* pane;
    const char* message;
    const char* informativeText;
};

constexpr HowToGrant kHowToGrant[] = {
    {panes::microphone, "Larkspire needs a microphone",
     "Larkspire records through the desktop’s sound server (PulseAudio, or PipeWire with its "
     "PulseAudio service). Make sure the sound server runs and offers an input device that is "
     "connected and not muted, for example in a sound mixer such as pavucontrol."},
    {panes::accessibility, "Larkspire needs the accessibility bus",
     "Larkspire finds the text field you are typing in through the desktop’s accessibility "
     "bus (AT-SPI). Turn on assistive technologies in your desktop’s accessibility settings "
     "(on GNOME: gsettings set org.gnome.desktop.interface toolkit-accessibility true), then "
     "restart Larkspire."},
    {panes::inputMonitoring, "Larkspire needs to hear the dictation key",
     "In an X11 session Larkspire hears its key through the X server (XInput 2). On Wayland "
     "the desktop hands the key over: on GNOME and KDE Plasma, allow Larkspire’s dictation "
     "shortcut when the desktop asks (its key can be changed in Settings → Keyboard → "
     "Keyboard Shortcuts on GNOME, System Settings → Shortcuts on KDE); on sway, bind the key "
     "in your sway configuration: bindsym --no-repeat Alt_R exec larkspire --key press and "
     "bindsym --release Alt_R exec larkspire --key release."},
    {panes::screenRecording, "Larkspire needs to see windows",
     "Larkspire takes images of the active window through the X server (XComposite), which "
     "needs an X11 session. In a Wayland session other applications’ windows cannot be "
     "captured this way: log in to an X11 session (on GNOME: “GNOME on Xorg”)."},
};

}  // namespace

void AppDelegate::openSettingsPane(const std::string& pane) {
    if (s_.desktop.openSettingsPane(pane)) {
        return;
    }
    // A microphone that works needs nothing granted: say so, and where to choose it.
    if (pane == panes::microphone &&
        s_.audioInput.authorizationStatus() == platform::MicrophoneAuthorization::authorized) {
        s_.screenAware.alerts.run(
            {"Larkspire’s microphone is ready",
             "Larkspire records through the desktop’s sound server (PulseAudio, or PipeWire "
             "with its PulseAudio service), from its default input device. To choose or check "
             "that device, use a sound mixer such as pavucontrol.",
             {"OK"}});
        return;
    }
    for (const HowToGrant& how : kHowToGrant) {
        if (pane == how.pane) {
            s_.screenAware.alerts.run(
                {how.message, how.informativeText, {"OK"}, platform::AlertStyle::warning});
            return;
        }
    }
}

void AppDelegate::showWorkspace(const std::string& path) {
    if (!api_) {
        return;
    }
    // Read again: the window follows the configuration as it is now.
    const Config config =
        Config::load(Config::pathIn(s_.homeDirectory)).value_or(Config::developmentDefault());
    const auto baseUrl = WorkspaceController::baseUrlFor(
        config.api_url,
        config.web_origin.value_or(std::string(WorkspaceController::kProductionOrigin)));
    if (!baseUrl) {
        return;
    }
    if (!workspaceController_) {
        // The origin is fixed for the life of the process from here on.
        workspaceController_ = std::make_shared<WorkspaceController>(
            api_, *baseUrl, WorkspaceController::Services{s_.scheduler, s_.keychain, s_.desktop});
        if (hooks_.makeWorkspaceWindow) {
            hooks_.makeWorkspaceWindow(workspaceController_);
        }
        workspaceController_->rebuildWebView("/app");
    }
    workspaceController_->rebuildWebView(path);
    workspaceController_->present();
}

void AppDelegate::openHistory() {
    showWorkspace("/app");
}

void AppDelegate::openActivation() {
    showWorkspace("/settings");
}

void AppDelegate::openURLs(const std::vector<std::string>& urls) {
    const LarkspireUrlRoute route = LarkspireUrlRoute::of(urls);
    switch (route.kind) {
        case LarkspireUrlRoute::Kind::openPane:
            openSettingsPane(route.pane);
            break;
        case LarkspireUrlRoute::Kind::showSettings:
            if (authenticatedSetupComplete_) {
                showWorkspace("/settings");
            } else {
                linkedPage_ = "/settings";  // shown once signed in, instead of the start page
            }
            break;
        case LarkspireUrlRoute::Kind::nothing:
            break;
    }
}

// The microphone and the accessibility bus are probed off the main thread (see the
// reporter's sources).
PermissionStates AppDelegate::permissionStates() {
    PermissionStates states;
    // Input monitoring is the key listener running and hearing keys: a shortcut the
    // desktop refused, or has not granted yet, is not.
    states.inputMonitoring = fnMonitoring_ && s_.fnMonitor.hearsKeys();
    states.screenRecording = s_.screenAware.windows.canCaptureWindows();
    return states;
}

}  // namespace larkspire

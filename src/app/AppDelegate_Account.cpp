// The account side of the shell: the workspace window, the agent's URL scheme and what
// the service is told about permissions.
#include "account/LarkspireUrlRoute.h"
#include "app/AppDelegate.h"

namespace larkspire {

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
            s_.desktop.openUrl(route.pane, settingsFallbackUrl());
            break;
        case LarkspireUrlRoute::Kind::showSettings:
            showWorkspace("/settings");
            break;
        case LarkspireUrlRoute::Kind::nothing:
            break;
    }
}

PermissionStates AppDelegate::permissionStates() {
    PermissionStates states;
    states.microphone =
        s_.audioInput.authorizationStatus() == platform::MicrophoneAuthorization::authorized;
    states.accessibility = s_.accessibilityBus && s_.accessibilityBus->isEnabled();
    // Input monitoring is the key listener running.
    states.inputMonitoring = fnMonitoring_;
    states.screenRecording = s_.screenAware.windows.canCaptureWindows();
    return states;
}

}  // namespace larkspire

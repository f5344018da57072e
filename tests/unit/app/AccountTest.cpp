#include <nlohmann/json.hpp>

#include "AppFixture.h"

namespace larkspire {
namespace {

using testing::Strings;

// Records what the controller asks of the workspace window.
class RecordingWorkspaceView : public WorkspaceController::View {
  public:
    void load(const WorkspaceController::Page& page) override { pages.push_back(page); }
    void present() override { ++presented; }
    std::vector<WorkspaceController::Page> pages;
    int presented = 0;
};

class Account : public testing::AppFixture {
  protected:
    AppDelegate& startWithWindow(std::vector<std::string> launchUrls = {}) {
        AppDelegate::Hooks hooks;
        hooks.makeWorkspaceWindow = [this](const std::shared_ptr<WorkspaceController>& c) {
            ++windowsMade;
            c->attach(&view);
        };
        return start(hooks, std::move(launchUrls));
    }

    // Native status reports so far, each as its signature: the desktop is probed in the
    // background, the change decided on the main queue, the report sent in the background.
    Strings reports() {
        scheduler.runBackground();
        scheduler.runDue();
        scheduler.runBackground();
        Strings out;
        for (const HttpRequest& r : transport->sentTo("/api/native-status")) {
            const auto body = nlohmann::json::parse(r.body);
            out.push_back(PermissionStates{body["microphone"], body["accessibility"],
                                           body["inputMonitoring"], body["screenRecording"]}
                              .signature());
        }
        return out;
    }

    Strings urlsLoaded() const {
        Strings out;
        for (const auto& page : view.pages) {
            out.push_back(page.url);
        }
        return out;
    }

    RecordingWorkspaceView view;
    int windowsMade = 0;
};

TEST_F(Account, StatusIsReportedAtSetupThenOnChangeOrEveryThirtySeconds) {
    signedIn();
    windows.canCapture = false;
    accessibilityBus.enabled = false;
    start();
    // Forced at setup, once the key monitor runs.
    EXPECT_EQ(reports(), Strings{"true-false-true-false"});
    // Unchanged: nothing at 10 and 20 s after that report, one at 30 s.
    scheduler.advance(platform::Duration(20));
    EXPECT_EQ(reports().size(), 1u);
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(reports().size(), 2u);
    // The desktop withdraws the shortcut: no longer heard, reported at the next tick.
    keys.answer("", "The desktop removed Larkspire’s shortcut.");
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(reports().back(), "true-false-false-false");
    keys.answer("Ctrl+Alt+D");
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(reports().size(), 4u);
    // Screen recording granted while the agent runs: reported at the next tick.
    scheduler.advance(platform::Duration(1));
    windows.canCapture = true;
    scheduler.advance(platform::Duration(8.99));
    EXPECT_EQ(reports().size(), 4u);
    scheduler.advance(platform::Duration(0.01));
    EXPECT_EQ(reports().back(), "true-false-true-true");
    microphone.setAuthorization(platform::MicrophoneAuthorization::denied);
    accessibilityBus.enabled = true;
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(reports().back(), "false-true-true-true");
    // The poll's tick asks the sound server only off the main thread.
    const int queries = microphone.statusQueries;
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(microphone.statusQueries, queries);
    scheduler.runBackground();
    EXPECT_EQ(microphone.statusQueries, queries + 1);
    // Forced: sent even though nothing changed a moment ago.
    app->reportNativeStatus(true);
    EXPECT_EQ(reports().size(), 7u);
    const auto body = nlohmann::json::parse(transport->sentTo("/api/native-status").back().body);
    EXPECT_EQ(body["installationId"], defaults.stringValue("installationId").value_or(""));
}

TEST_F(Account, AFailedReportIsLoggedAndNotRepeatedForThirtySeconds) {
    signedIn();
    transport->on("/api/native-status", 503, R"({"error":"Status store down"})");
    start();
    keys.answer("", "The desktop removed Larkspire’s shortcut.");  // a change
    scheduler.advance(platform::Duration(10));
    EXPECT_EQ(reports().size(), 2u);
    scheduler.advance(platform::Duration(20));
    EXPECT_EQ(reports().size(), 2u);
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(),
                         "Native status unavailable: Status store down"),
              2);
}

TEST_F(Account, AFailedActivationEventDoesNotStopTheOthers) {
    signedIn();
    transport->once("/api/activation", 500, R"({"error":"Analytics down"})");
    start();
    scheduler.runUntilIdle();
    EXPECT_EQ(transport->count("/api/activation"), 2);
    EXPECT_EQ(log.lines, Strings{"Activation analytics unavailable: Analytics down"});
}

TEST_F(Account, ProjectMenuStates) {
    signedIn();
    const struct {
        const char* answer;
        std::optional<std::string> active;
        Strings titles;
        std::vector<bool> checks;
    } cases[] = {
        {R"({"projects":[]})",
         std::nullopt,
         {"No project memory", "-", "Refresh projects"},
         {true, false, false}},
        {R"({"projects":[{"id":"p1","name":"Garden"},{"id":"p2","name":"Garden"}]})",
         "p2",
         {"No project memory", "-", "Garden", "Garden", "-", "Refresh projects"},
         {false, false, false, true, false, false}},
        // A stored choice that is not in the list checks nothing.
        {R"({"projects":[{"id":"p1","name":"Garden"}]})",
         "gone",
         {"No project memory", "-", "Garden", "-", "Refresh projects"},
         {false, false, false, false, false}},
    };
    for (const auto& c : cases) {
        transport->on("/api/projects", 200, c.answer);
        if (c.active) {
            defaults.setString("activeProjectId", *c.active);
        } else {
            defaults.remove("activeProjectId");
        }
        start();
        const auto& menu = app->projectMenu();
        EXPECT_EQ(status.menu->find("Active project")->submenu(), menu);
        EXPECT_EQ(menu->titles(), c.titles) << c.answer;
        std::vector<bool> checks;
        for (const auto& item : menu->items()) {
            checks.push_back(item->checked());
        }
        EXPECT_EQ(checks, c.checks) << c.answer;
    }
}

TEST_F(Account, ChoosingAProjectStoresItsIdAndMovesTheCheckMark) {
    signedIn();
    transport->on("/api/projects", 200,
                  R"({"projects":[{"id":"p1","name":"Garden"},{"id":"p2","name":"Garden"}]})");
    start();
    const auto menu = app->projectMenu();
    menu->at(3)->trigger();
    EXPECT_EQ(defaults.stringValue("activeProjectId"), "p2");
    EXPECT_TRUE(menu->at(3)->checked());
    EXPECT_FALSE(menu->at(0)->checked());
    menu->at(0)->trigger();
    EXPECT_FALSE(defaults.contains("activeProjectId"));
    EXPECT_TRUE(menu->at(0)->checked());
    EXPECT_FALSE(menu->at(3)->checked());

    // Refreshing shows "Loading…" until the answer, which can be a failure.
    transport->on("/api/projects", 500, "{}");
    menu->find("Refresh projects")->trigger();
    EXPECT_EQ(menu->titles(), Strings{"Loading…"});
    EXPECT_FALSE(menu->at(0)->enabled());
    scheduler.runUntilIdle();
    EXPECT_EQ(menu->titles(), Strings{"Projects unavailable"});
    EXPECT_FALSE(menu->at(0)->hasAction());
}

TEST_F(Account, FirstSignedInStartOpensSettingsAndLaterStartsOpenTheApp) {
    signedIn();
    startWithWindow();
    EXPECT_EQ(windowsMade, 1);
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/settings"});
    EXPECT_EQ(view.presented, 1);
    // The loopback origin includes the port, which the hand-over leaves out: never stored.
    ASSERT_TRUE(view.pages.back().userScript);
    EXPECT_NE(view.pages.back().userScript->find("=== 'http://127.0.0.1')"), std::string::npos);

    // Every later request builds a fresh web view in the same window.
    status.menu->find("Settings & permissions…")->trigger();
    scheduler.runUntilIdle();
    status.menu->find("Open Larkspire")->trigger();
    scheduler.runUntilIdle();
    app->showWorkspace("settings");
    scheduler.runUntilIdle();
    EXPECT_EQ(windowsMade, 1);
    EXPECT_EQ(urlsLoaded(),
              (Strings{"http://127.0.0.1:3000/settings", "http://127.0.0.1:3000/settings",
                       "http://127.0.0.1:3000/app", "http://127.0.0.1:3000/settings"}));

    // A request still preparing is superseded by a newer one.
    view.pages.clear();
    app->openActivation();
    app->openHistory();
    scheduler.runUntilIdle();
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/app"});

    view.pages.clear();
    startWithWindow();
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/app"});

    // Started by a link while the session is still being checked: the link's page.
    view.pages.clear();
    startWithWindow({"larkspire://permissions/Microphone"});
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/settings"});
}

TEST_F(Account, ReopeningWithoutAVisibleWindowShowsTheApp) {
    startWithWindow();  // signed out: no window yet
    EXPECT_TRUE(app->applicationShouldHandleReopen(true));
    EXPECT_EQ(windowsMade, 0);
    EXPECT_TRUE(app->applicationShouldHandleReopen(false));
    scheduler.runUntilIdle();
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/app"});
}

TEST_F(Account, OtherHostsLoadFromTheWebOriginFixedAtFirstUse) {
    writeConfig(R"({"api_url":"http://larkspire.localhost","web_origin":"http://web.localhost"})");
    startWithWindow();
    app->finishAuthenticatedSetup(app->config());  // as after a sign-in, without a session
    scheduler.runUntilIdle();
    EXPECT_EQ(urlsLoaded(), Strings{"http://web.localhost/settings"});
    EXPECT_FALSE(view.pages.back().userScript);

    writeConfig(R"({"api_url":"http://127.0.0.1:3000"})");
    app->showWorkspace("/app");
    scheduler.runUntilIdle();
    EXPECT_EQ(view.pages.back().url, "http://web.localhost/app");
}

TEST_F(Account, NavigationStaysOnTheOriginsHostAndEverythingElseGoesToTheDesktop) {
    signedIn();
    startWithWindow();
    WorkspaceController& controller = *app->workspaceController();
    EXPECT_TRUE(controller.allowNavigation("http://127.0.0.1:3000/app"));
    EXPECT_TRUE(controller.allowNavigation("http://127.0.0.1:9/elsewhere"));
    EXPECT_FALSE(controller.allowNavigation(""));
    EXPECT_FALSE(controller.allowNavigation("https://example.org/help"));
    EXPECT_FALSE(controller.allowNavigation("larkspire://permissions/microphone"));
    // Only web, mail and the agent's own links leave for the desktop.
    for (const char* kept : {"file:///etc/passwd", "javascript:alert(1)", "smb://host/share",
                             "data:text/html,x", "mailto:help@example.org"}) {
        EXPECT_FALSE(controller.allowNavigation(kept)) << kept;
    }
    EXPECT_EQ(desktop.openedUrls,
              (Strings{"https://example.org/help", "larkspire://permissions/microphone",
                       "mailto:help@example.org"}));
}

TEST_F(Account, TheDesktopsApprovalForKeysIsAskedOnlyOnceSignedIn) {
    int asked = 0;
    std::function<void()> signIn;
    AppDelegate::Hooks hooks;
    hooks.signedIn = [&] { ++asked; };
    hooks.showSignIn = [&](const std::shared_ptr<APIClient>&, const Config&,
                           std::function<void()> done) { signIn = std::move(done); };
    start(hooks);
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(signIn);
    signIn();
    EXPECT_EQ(asked, 1);
}

TEST_F(Account, LarkspireUrlsOpenPanesOrTheSettingsPage) {
    signedIn();
    startWithWindow();
    view.pages.clear();
    app->openURLs({"larkspire://permissions/microphone/"});
    app->openURLs({"larkspire://permissions/screen-recording"});
    app->openURLs({"larkspire://settings/microphone"});
    EXPECT_EQ(desktop.openedUrls, (Strings{panes::microphone, panes::screenRecording}));
    EXPECT_TRUE(view.pages.empty());
    app->openURLs({"larkspire://permissions/Microphone"});
    scheduler.runUntilIdle();
    EXPECT_EQ(urlsLoaded(), Strings{"http://127.0.0.1:3000/settings"});
}

TEST_F(Account, WithoutASettingsPageTheAgentSaysHowToGrantIt) {
    microphone.setAuthorization(platform::MicrophoneAuthorization::denied);
    start();
    desktop.hasSettingsPages = false;
    for (const char* name :
         {"microphone", "accessibility", "input-monitoring", "screen-recording"}) {
        app->openURLs({std::string("larkspire://permissions/") + name});
    }
    Strings messages;
    for (const auto& alert : alerts.shown) {
        messages.push_back(alert.message);
    }
    EXPECT_EQ(
        messages,
        (Strings{"Larkspire needs a microphone", "Larkspire needs the accessibility bus",
                 "Larkspire needs to hear the dictation key", "Larkspire needs to see windows"}));
    EXPECT_EQ(alerts.shown[0].style, platform::AlertStyle::warning);
    EXPECT_TRUE(desktop.openedUrls.empty());
    // A microphone that works is not spoken of as missing.
    microphone.setAuthorization(platform::MicrophoneAuthorization::authorized);
    app->openURLs({"larkspire://permissions/microphone"});
    EXPECT_EQ(alerts.shown.back().message, "Larkspire’s microphone is ready");
    EXPECT_EQ(alerts.shown.back().style, platform::AlertStyle::information);
}

TEST_F(Account, RefusalsSayWhatThisDesktopLacks) {
    signedIn();
    keys.setAvailable(false);
    keys.setUnavailableReason("There is no X display.");
    start();
    status.menu->at(0)->trigger();
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "Larkspire cannot hear the Right Alt key");
    EXPECT_EQ(alerts.shown[0].informativeText, "There is no X display.");
    EXPECT_TRUE(desktop.openedUrls.empty());

    microphone.setAuthorization(platform::MicrophoneAuthorization::denied);
    microphone.setUnavailableReason("No sound server is running.");
    app->menuToggle();
    EXPECT_EQ(status.icon().accessibility,
              "No sound server is running. Then try again; the Larkspire menu → More → Microphone "
              "permission helps.");
}

}  // namespace
}  // namespace larkspire

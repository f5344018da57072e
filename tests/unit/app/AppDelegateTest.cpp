#include <nlohmann/json.hpp>
#include <regex>

#include "AppFixture.h"

namespace larkspire {
namespace {

using testing::Shown;
using testing::Strings;

class Shell : public testing::AppFixture {
  protected:
    std::filesystem::path home;
    void SetUp() override {
        testing::AppFixture::SetUp();
        home = root / "home";
    }
    void makePending() { testing::writeFile(store().newRecoveryURL("wav"), "RIFF"); }
};

TEST_F(Shell, StatusMenuAtStartUpWithNothingStored) {
    start();
    ASSERT_EQ(status.menu, app->statusMenu());
    EXPECT_TRUE(app->toggleItem()->enabled());
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    EXPECT_FALSE(app->copyLastItem()->enabled());
    EXPECT_FALSE(app->undoLastItem()->enabled());
    EXPECT_FALSE(status.menu->at(4)->checked());
    EXPECT_FALSE(status.menu->find("Preview screen-aware drafts")->checked());
    // Off, but a setting: the box shows.
    EXPECT_TRUE(status.menu->at(4)->checkable());
    EXPECT_TRUE(status.menu->find("Preview screen-aware drafts")->checkable());
    EXPECT_EQ(shown(), (Shown{"", "", "larkspire.idle", "Larkspire idle"}));
    EXPECT_TRUE(status.icon().templateImage);
}

TEST_F(Shell, StatusMenuReadsStoredChecksAndPendingRecordings) {
    defaults.setBool("screenAwareEnabled", true);
    defaults.setBool("screenAwarePreview", true);
    makePending();
    start();
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
    EXPECT_TRUE(status.menu->at(4)->checked());
    EXPECT_TRUE(status.menu->find("Preview screen-aware drafts")->checked());
    // Taken once at start-up, not re-read behind the user's back.
    std::filesystem::remove_all(root / "data");
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
}

TEST_F(Shell, StartAtLoginFollowsTheEntryAndReportsAFailedChange) {
    autostart.on = true;
    start();
    auto item = status.menu->find("Start Larkspire at login");
    ASSERT_TRUE(item);
    EXPECT_TRUE(item->checked());
    autostart.on = false;  // removed behind the menu's back: the click turns it on again
    item->trigger();
    EXPECT_TRUE(autostart.on);
    EXPECT_TRUE(item->checked());
    item->trigger();
    EXPECT_FALSE(item->checked());

    autostart.failure = "cannot write /ro/autostart/larkspire.desktop: Read-only file system";
    item->trigger();
    EXPECT_FALSE(item->checked());
    EXPECT_EQ(shown(),
              (Shown{"", "", "exclamationmark.triangle", "Could not turn on start at login"}));
    EXPECT_NE(std::find(log.lines.begin(), log.lines.end(), "Start at login: " + autostart.failure),
              log.lines.end());
}

TEST_F(Shell, BothQuitItemsEndTheAgent) {
    start();
    status.mainMenu->find("Quit Larkspire")->trigger();
    status.menu->find("Quit")->trigger();
    EXPECT_EQ(terminated, 2);
}

TEST_F(Shell, FlashResetsAfterOnePointTwoSecondsEvenDuringARecording) {
    start();
    app->flash("checkmark.circle.fill");
    EXPECT_EQ(shown(), (Shown{"", "", "checkmark.circle.fill", "Done"}));
    // A new recording starts before the reset lands.
    app->setIcon("record.circle.fill", "Recording");
    app->toggleItem()->setTitle("Stop & transcribe");
    scheduler.advance(platform::Duration(1.19));
    EXPECT_EQ(status.icon().name, "record.circle.fill");
    scheduler.advance(platform::Duration(0.02));
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_EQ(app->toggleItem()->title(), "Start recording");
}

TEST_F(Shell, TwoFailuresOneSecondApartGiveTwoResets) {
    start();
    app->fail("first");
    scheduler.advance(platform::Duration(1.0));
    app->fail("second");
    EXPECT_EQ(shown(), (Shown{"", "", "exclamationmark.triangle", "second"}));
    EXPECT_EQ(log.lines, (Strings{"Vantrel error: first", "Vantrel error: second"}));

    const size_t shown = status.icons.size();
    scheduler.advance(platform::Duration(1.49));
    EXPECT_EQ(status.icon().accessibility, "second");
    scheduler.advance(platform::Duration(0.02));  // 2.5 s after the first
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_EQ(status.icons.size(), shown + 1);
    app->setIcon("hourglass", "Transcribing");
    scheduler.advance(platform::Duration(1.0));  // 2.5 s after the second
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_EQ(status.icons.size(), shown + 3);
}

TEST_F(Shell, SetIconTintsOnlyTheRecordingSymbolAndKnowsNoFallback) {
    start();
    app->setIcon("record.circle.fill", "Recording");
    EXPECT_TRUE(status.icon().hasImage);
    EXPECT_TRUE(status.icon().redTint);
    EXPECT_FALSE(status.icon().templateImage);
    app->setIcon("hourglass", "Transcribing");
    EXPECT_FALSE(status.icon().redTint);
    EXPECT_TRUE(status.icon().templateImage);
    app->setIcon("no.such.symbol", "Unknown");
    EXPECT_FALSE(status.icon().hasImage);
    EXPECT_FALSE(status.icon().redTint);
}

TEST_F(Shell, StartUpWithoutSessionTakesTheSignInPath) {
    int signIns = 0;
    std::function<void()> completion;
    AppDelegate::Hooks hooks;
    hooks.showSignIn = [&](const std::shared_ptr<APIClient>& api, const Config& c,
                           std::function<void()> done) {
        EXPECT_TRUE(api);
        ++signIns;
        EXPECT_EQ(c.api_url, "http://127.0.0.1:3000");
        completion = std::move(done);
    };
    start(hooks);
    EXPECT_EQ(signIns, 1);
    EXPECT_FALSE(app->authenticatedSetupComplete());
    completion();
    EXPECT_TRUE(app->authenticatedSetupComplete());
    EXPECT_TRUE(app->fnMonitoring());
}

TEST_F(Shell, ConfigurationIsReadFromHomeAndAnUnknownFnKeyFallsBack) {
    writeConfig(R"({"api_url":"http://127.0.0.1:4321","fn_key":"KEY_NOPE"})");
    rightAltIsAltGr = true;
    start();
    EXPECT_EQ(app->config().api_url, "http://127.0.0.1:4321");
    EXPECT_EQ(app->fnKey().displayName, "Right Ctrl");
    EXPECT_EQ(status.menu->at(4)->title(), "Include active-window image with Control + Right Ctrl");
}

TEST_F(Shell, ConfiguredFnKeyNamesTheKeyInMenus) {
    writeConfig(R"({"api_url":"http://127.0.0.1:4321","fn_key":"KEY_F13"})");
    rightAltIsAltGr = true;
    signedIn();
    keys.setAvailable(false);
    start();
    EXPECT_EQ(app->fnKey(), (FnKey{183, "F13"}));
    EXPECT_EQ(status.menu->at(0)->title(), "⚠ Grant Accessibility for the F13 key…");
    EXPECT_EQ(status.menu->at(6)->title(), "Include active-window image with Control + F13");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Shell, BrokenConfigurationIsSilentAndUsesTheDevelopmentOrigin) {
    writeConfig(R"({"api_url":"http://127.0.0.1:4321","email":5})");
    start();
    EXPECT_EQ(app->config().api_url, "http://127.0.0.1:3000");
    EXPECT_EQ(app->fnKey().displayName, "Right Alt");
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(Shell, SignedInSetupRunsOnce) {
    signedIn();
    start();
    EXPECT_TRUE(app->authenticatedSetupComplete());
    EXPECT_TRUE(defaults.boolValue("activationComplete"));
    EXPECT_EQ(defaults.integerValue("activationStage"), 3);
    const int events = transport->count("/api/activation");
    app->finishAuthenticatedSetup(app->config());
    scheduler.runUntilIdle();
    EXPECT_EQ(transport->count("/api/activation"), events);
}

TEST_F(Shell, MonitorThatCannotStartPutsTheWarningFirstAndStoresNoStage) {
    signedIn();
    keys.setAvailable(false);
    defaults.setInteger("activationStage", 2);
    start();
    EXPECT_EQ(status.menu->at(0)->title(), "⚠ Grant Accessibility for the Right Alt key…");
    EXPECT_TRUE(status.menu->at(1)->isSeparator());
    EXPECT_EQ(status.menu->at(2)->title(), "Start recording");
    EXPECT_EQ(defaults.integerValue("activationStage"), 2);
    status.menu->at(0)->trigger();
    EXPECT_EQ(desktop.openedUrls, Strings{"x-apple.systempreferences:com.apple.preference.security?"
                                          "Privacy_Accessibility"});
}

TEST_F(Shell, DesktopsLaterAnswerNamesItsKeyOnceOrShowsTheWarning) {
    signedIn();
    start();
    keys.answer("Ctrl+Alt+D");
    keys.answer("Ctrl+Alt+D");
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "Dictate with Ctrl+Alt+D");
    EXPECT_EQ(status.menu->at(0)->title(), "Start recording");
    keys.answer("", "You declined Larkspire’s dictation shortcut.");
    keys.answer("", "You declined Larkspire’s dictation shortcut.");
    EXPECT_EQ(status.menu->at(0)->title(), "⚠ Grant Accessibility for the Right Alt key…");
    EXPECT_EQ(status.menu->at(2)->title(), "Start recording");
    status.menu->at(0)->trigger();
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[1].informativeText, "You declined Larkspire’s dictation shortcut.");
}

TEST_F(Shell, TheWarningNamesWhatTheDesktopRefused) {
    signedIn();
    start();
    keys.answer("Ctrl+Alt+D");
    insertion.refusePaste("You declined Larkspire’s keyboard for pasting.");
    EXPECT_EQ(status.menu->at(0)->title(), "⚠ Grant Accessibility for the paste keyboard…");
    status.menu->at(0)->trigger();
    EXPECT_EQ(alerts.shown.back().message, "Larkspire cannot paste into other applications");
    EXPECT_EQ(app->permissionStates().inputMonitoring, true);
    // The shortcut withdrawn as well: the warning names the key the desktop had granted.
    keys.answer("Ctrl+Alt+D", "The desktop removed Larkspire’s shortcut.");
    EXPECT_EQ(status.menu->at(0)->title(), "⚠ Grant Accessibility for the Ctrl+Alt+D key…");
    EXPECT_EQ(app->permissionStates().inputMonitoring, false);
}

TEST_F(Shell, StoredStageNeverDecreases) {
    signedIn();
    defaults.setInteger("activationStage", 4);
    start();
    EXPECT_EQ(defaults.integerValue("activationStage"), 4);
}

TEST_F(Shell, PreviewToggleStoresItsCheckMark) {
    start();
    status.menu->find("Preview screen-aware drafts")->trigger();
    EXPECT_TRUE(defaults.boolValue("screenAwarePreview"));
    EXPECT_TRUE(status.menu->find("Preview screen-aware drafts")->checked());
    status.menu->find("Preview screen-aware drafts")->trigger();
    EXPECT_FALSE(defaults.boolValue("screenAwarePreview"));
}

TEST_F(Shell, CallbacksOfAGoneControllerDoNothing) {
    start();
    app->fail("late");
    auto quitItem = status.menu->find("Quit");
    app.reset();
    scheduler.advance(platform::Duration(3));
    quitItem->trigger();
    EXPECT_EQ(terminated, 0);
    EXPECT_EQ(status.icon().name, "exclamationmark.triangle");
}

TEST_F(Shell, AnUnusableInstallationIdIsReplacedByAFreshLowerCaseUuid) {
    const std::regex lowerUuid(
        "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
    signedIn();
    defaults.setString("installationId", "install-1");
    start();
    scheduler.runUntilIdle();
    const auto fresh = defaults.stringValue("installationId").value_or("");
    EXPECT_TRUE(std::regex_match(fresh, lowerUuid)) << fresh;
    // What the activation reports carry.
    const auto reports = transport->sentTo("/api/activation");
    ASSERT_FALSE(reports.empty());
    for (const HttpRequest& r : reports) {
        EXPECT_EQ(nlohmann::json::parse(r.body)["installationId"], fresh);
    }

    const std::string kept[] = {"0f8fad5b-d9cb-469f-a165-70867728950e",
                                "0F8FAD5B-D9CB-469F-A165-70867728950E"};
    for (const std::string& stored : kept) {
        defaults.setString("installationId", stored);
        EXPECT_EQ(app->installationId(), stored);
        EXPECT_EQ(defaults.stringValue("installationId"), stored);
    }
    const std::string replaced[] = {"{0f8fad5b-d9cb-469f-a165-70867728950e}",
                                    std::string("0f8fad5b-d9cb-469f-a165-70867728950\0", 36)};
    for (const std::string& stored : replaced) {
        defaults.setString("installationId", stored);
        const std::string id = app->installationId();
        EXPECT_TRUE(std::regex_match(id, lowerUuid)) << id;
        EXPECT_NE(id, fresh);
        EXPECT_EQ(defaults.stringValue("installationId"), id);
    }
    defaults.remove("installationId");
    EXPECT_TRUE(std::regex_match(app->installationId(), lowerUuid));
}

}  // namespace
}  // namespace larkspire

#include <nlohmann/json.hpp>

#include "AppFixture.h"

namespace larkspire {
namespace {

using fake::FakeAccessibleElement;
using nlohmann::json;
using testing::FakeInsertion;
using testing::Shown;
using testing::Strings;

constexpr platform::ProcessId kMail = 4242;
constexpr int kRightAlt = 108;
constexpr int kControl = 37;
constexpr int kReturn = 36;

class ScreenAware : public testing::AppFixture {
  protected:
    void SetUp() override {
        AppFixtureWith::SetUp();
        signedIn();
        writeConfig(R"({"api_url":"http://127.0.0.1:3000"})");
        defaults.setBool("screenAwareConsent", true);
        transport->on("/api/transcribe", 200, R"({"text":"reply that I'll be there at six"})");
        answerDraft(R"({"intent":"reply","draft":"  See you at six.\n","voiceEnabled":false})");
        transport->on("/api/speech", 200, "RIFF....WAVE");
        frontmost.open(platform::FrontWindow{77, kMail, "Mail", "mail", "Mail"});
        auto window = element("AXWindow", "", "Re: dinner");
        window->add(element("AXStaticText", "From: Ana"));
        field = window->add(element("AXTextArea", "Dear Ana,"));
        field->setRange(platform::TextRange{9, 0});
        accessibility.setWindow(kMail, window);
        accessibility.setFocused(kMail, field);
        start();
    }

    std::shared_ptr<FakeAccessibleElement> element(std::string role, std::string value,
                                                   std::string title = "") {
        auto e = std::make_shared<FakeAccessibleElement>(actions, role, role);
        e->texts(std::move(value), std::move(title));
        return e;
    }
    // Answers the draft endpoint and keeps each request's body.
    void answerDraft(std::string body, int status = 200) {
        transport->on("/api/contextual", [this, body, status](const HttpRequest& r) {
            drafts.push_back(json::parse(r.body));
            return HttpResponse{body, status};
        });
    }
    void key(int keycode, bool pressed) { monitor.handleKey({keycode, pressed, false}); }
    // Control + the key held while the microphone hears a spoken-like tone.
    void hold() {
        microphone.load(tone(1.0));
        key(kControl, true);
        key(kRightAlt, true);
        scheduler.runSerialQueues();  // the microphone opens
        microphone.playAll();
        scheduler.advance(platform::Duration(1.0));
    }
    void release() {
        key(kRightAlt, false);
        key(kControl, false);
        scheduler.runSerialQueues();
    }
    // The draft request is answered; its continuation runs on the main queue.
    void answered() {
        scheduler.runBackground();
        scheduler.runDue();
    }
    size_t pending() const { return store().pendingRecordings().size(); }

    std::shared_ptr<FakeAccessibleElement> field;
    std::vector<json> drafts;
    std::string lastUpload;
};

TEST_F(ScreenAware, ControlAndTheKeyDraftFromTheWindowAndWriteAtItsCursor) {
    transport->on("/api/transcribe", [this](const HttpRequest& r) {
        lastUpload = r.body;
        return HttpResponse{R"({"text":"reply that I'll be there at six"})", 200};
    });
    hold();
    EXPECT_TRUE(app->contextual());
    EXPECT_EQ(shown(), (Shown{"Screen-aware listening · Mail", "viewfinder",
                              "viewfinder.circle.fill", "Screen-aware listening"}));
    EXPECT_EQ(pending(), 1u);

    release();
    EXPECT_FALSE(app->contextual());
    EXPECT_EQ(shown(), (Shown{"Writing with context", "sparkles", "sparkles",
                              "Drafting from application context"}));
    EXPECT_EQ(app->toggleItem()->title(), "Start recording");
    // In flight like a dictation: a retry meanwhile neither sends it nor deletes it.
    app->retrySavedRecording();
    EXPECT_EQ(scheduler.pendingBackground(), 1u);
    EXPECT_EQ(pending(), 1u);

    answered();
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_EQ(drafts[0], (json{{"instruction", "reply that I'll be there at six"},
                               {"application", "Mail"},
                               {"windowTitle", "Re: dinner"},
                               {"role", "AXTextArea"},
                               {"selectedText", ""},
                               {"surroundingText", "Dear Ana,"},
                               {"windowText", "From: Ana"}}));
    EXPECT_NE(lastUpload.find("name=\"ephemeral\"\r\n\r\ntrue"), std::string::npos);
    EXPECT_EQ(shown(), (Shown{"Written at your cursor", "checkmark.circle.fill",
                              "checkmark.circle.fill", "Done"}));
    EXPECT_EQ(app->lastText(), "See you at six.");
    EXPECT_TRUE(app->copyLastItem()->enabled());
    // The window that was in front comes back first, then its focus and caret.
    EXPECT_EQ(actions.actions(),
              (Strings{"activate 77", "focus AXTextArea", "select AXTextArea 9+0"}));
    EXPECT_EQ(insertion.events, Strings{"pasteFront See you at six."});
    EXPECT_TRUE(app->undoLastItem()->enabled());  // once the paste chord went out
    EXPECT_EQ(pending(), 0u);                     // kept until the draft was pasted
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    scheduler.advance(platform::Duration(1.3));
    EXPECT_TRUE(panel.isVisible());
    scheduler.advance(platform::Duration(0.1));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ScreenAware, TheRecordingStaysOnDiskUntilItsDraftWasPasted) {
    insertion.holdPastes = true;
    hold();
    release();
    answered();
    ASSERT_EQ(insertion.held.size(), 1u);
    EXPECT_EQ(pending(), 1u);
    insertion.held.front()(true, true);
    EXPECT_EQ(pending(), 0u);

    // No paste keyboard: the draft is only on the clipboard, the recording stays.
    insertion.holdPastes = false;
    insertion.sent = false;
    hold();
    release();
    answered();
    EXPECT_EQ(pending(), 1u);
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
}

TEST_F(ScreenAware, AnEmptyDraftIsExplainedAloudAndTheRecordingGoesOnceItPlays) {
    answerDraft(
        R"({"intent":"ask","draft":" \n","explanation":"It is an invoice.","voiceSpeed":3.0})");
    hold();
    release();
    answered();
    EXPECT_EQ(shown(),
              (Shown{"Ready to explain", "speaker.wave.2", "checkmark.circle.fill", "Done"}));
    EXPECT_TRUE(insertion.events.empty());
    EXPECT_EQ(pending(), 1u);
    scheduler.runUntilIdle();  // the speech request
    ASSERT_NE(players.latest(), nullptr);
    EXPECT_EQ(players.latest()->calls(), (Strings{"rate 1.500000", "play"}));
    EXPECT_EQ(app->feedbackPlayer(), players.latest());
    EXPECT_EQ(pending(), 0u);
    scheduler.advance(platform::Duration(5));
    EXPECT_TRUE(actions.actions().empty());  // nothing was pasted or activated
    // Played to its end, the explanation's sound is let go.
    players.latest()->finish(true);
    scheduler.runDue();
    EXPECT_EQ(app->feedbackPlayer(), nullptr);
    EXPECT_EQ(players.latest(), nullptr);
}

// One player: an explanation ends a reading; choosing the reading then ends the explanation.
TEST_F(ScreenAware, AnExplanationAndAReadingShareOnePlayer) {
    answerDraft(R"({"intent":"ask","draft":"","explanation":"It is an invoice."})");
    clipboard.setText("A long text to read.");
    app->readAloudItem()->trigger();
    scheduler.runUntilIdle();
    auto* reading = players.latest();
    ASSERT_NE(reading, nullptr);
    hold();
    release();
    answered();
    scheduler.runUntilIdle();
    ASSERT_EQ(players.live().size(), 1u) << "the reading's player is gone";
    EXPECT_NE(players.latest(), reading);
    EXPECT_EQ(app->feedbackPlayer(), players.latest());
    EXPECT_EQ(app->readAloudItem()->title(), "Read clipboard aloud");

    app->readAloudItem()->trigger();
    EXPECT_EQ(app->feedbackPlayer(), nullptr);
    EXPECT_EQ(panel.content().text, "Reading stopped");
}

TEST_F(ScreenAware, AnExplanationThatCannotPlayLeavesTheRecordingPending) {
    answerDraft(R"({"draft":"","explanation":"It is an invoice."})");
    players.startFails = true;
    hold();
    release();
    scheduler.runUntilIdle();
    EXPECT_EQ(pending(), 1u);
    EXPECT_EQ(log.lines.back(), "Screen-aware voice unavailable: playback could not start");
}

TEST_F(ScreenAware, AnEmptyDraftWithNothingToSayKeepsTheRecordingForRetry) {
    answerDraft(R"({"draft":"","explanation":"  "})");
    hold();
    release();
    answered();
    EXPECT_EQ(shown(),
              (Shown{"No answer returned · recording saved", "exclamationmark.arrow.circlepath",
                     "checkmark.circle.fill", "Done"}));
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
    EXPECT_EQ(pending(), 1u);
    EXPECT_EQ(transport->count("/api/speech"), 0);
    scheduler.advance(platform::Duration(2.7));
    EXPECT_TRUE(panel.isVisible());
    scheduler.advance(platform::Duration(0.1));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ScreenAware, SpokenFeedbackNamesTheReplyAndKeepsItsSpeedWithinBounds) {
    answerDraft(R"({"intent":"reply","draft":"See you at six."})");
    transport->on("/api/speech", [this](const HttpRequest& r) {
        drafts.push_back(json::parse(r.body));
        return HttpResponse{"RIFF....WAVE", 200};
    });
    hold();
    release();
    scheduler.runUntilIdle();
    ASSERT_EQ(drafts.size(), 2u);
    EXPECT_EQ(drafts[1], (json{{"text", "I pasted your reply."}}));
    EXPECT_EQ(players.latest()->rate(), 1.0);

    for (auto [speed, rate] : {std::pair{0.5, 0.75}, {1.2, 1.2}, {3.0, 1.5}}) {
        app->speakFeedback("Again.", speed, app->api(), {});
        scheduler.runUntilIdle();
        EXPECT_EQ(players.latest()->rate(), rate) << speed;
        EXPECT_TRUE(players.latest()->isPlaying());
        EXPECT_EQ(players.live().size(), 1u);  // a new explanation replaces the last
    }
}

TEST_F(ScreenAware, AFailedDraftLeavesTheRecordingPendingWithTheFailureText) {
    answerDraft(R"({"error":"Too many requests"})", 429);
    hold();
    release();
    answered();
    const std::string message =
        "Too many requests\n\nYour recording is saved. Use “Retry saved recording” to "
        "transcribe it normally.";
    EXPECT_EQ(shown(), (Shown{"Couldn’t write · recording saved", "exclamationmark.triangle",
                              "exclamationmark.triangle", message}));
    EXPECT_EQ(log.lines.back(), "Vantrel error: " + message);
    EXPECT_EQ(pending(), 1u);
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
    EXPECT_TRUE(insertion.events.empty());
    scheduler.advance(platform::Duration(2.5));
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_TRUE(panel.isVisible());
    scheduler.advance(platform::Duration(0.3));
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(ScreenAware, AFailedWriteIsSaidAndTheInstructionIsNeverSentAsDictation) {
    int uploads = 0;
    transport->on("/api/transcribe", [&uploads](const HttpRequest&) {
        ++uploads;
        return HttpResponse{R"({"text":"reply that I'll be there at six"})", 200};
    });
    const std::string tooLarge = "Couldn’t save the recording: File too large";
    // While recording: the spool file stops growing after two blocks.
    microphone.load(tone(1.0));
    key(kControl, true);
    key(kRightAlt, true);
    hearWithRoomForTwoBlocks();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_EQ(shown(),
              (Shown{tooLarge, "exclamationmark.triangle", "exclamationmark.triangle", tooLarge}));
    release();
    scheduler.runUntilIdle();
    EXPECT_EQ(pending(), 1u);
    // At the release: the recording is whole, its WAV copy cannot be written.
    hold();
    scheduler.runSerialQueues();
    {
        const testing::FileSizeLimit noRoom(1000);
        release();
        scheduler.runUntilIdle();
    }
    EXPECT_FALSE(app->contextual());
    EXPECT_EQ(panel.content().text, tooLarge);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines.back(), "Vantrel error: " + tooLarge);
    scheduler.advance(platform::Duration(4.1));
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(uploads, 0);
    EXPECT_TRUE(drafts.empty());
    EXPECT_TRUE(insertion.events.empty());
}

TEST_F(ScreenAware, TheWindowImageGoesOnlyWhenAllowedAndTheApplicationIsNotTextOnly) {
    defaults.setBool("screenAwareEnabled", true);
    windows.windows = {{{77, kMail, 0, 1200, 800}}};
    windows.images[77] = platform::Image{3600, 2000, {}};
    hold();
    release();
    answered();
    ASSERT_EQ(drafts.size(), 1u);
    // Base64 of the encoder's bytes: "jpeg 1800x1000 q68 from 3600x2000".
    EXPECT_EQ(drafts[0]["windowImage"], "anBlZyAxODAweDEwMDAgcTY4IGZyb20gMzYwMHgyMDAw");

    writeConfig(R"({"api_url":"http://127.0.0.1:3000","context_text_only_apps":["mail"]})");
    const int listReads = windows.listReads;
    hold();
    release();
    answered();
    ASSERT_EQ(drafts.size(), 2u);
    EXPECT_FALSE(drafts[1].contains("windowImage"));
    EXPECT_EQ(windows.listReads, listReads);
}

TEST_F(ScreenAware, AnExcludedApplicationIsRefusedAndNothingIsRecorded) {
    auto refusal = [this] {
        key(kControl, true);
        key(kRightAlt, true);
        const std::string message = status.icon().accessibility;
        EXPECT_FALSE(app->recorder().isRecording());
        release();
        return message;
    };
    writeConfig(R"({"api_url":"http://127.0.0.1:3000","context_excluded_apps":["Mail"]})");
    EXPECT_EQ(refusal(), "Context capture is disabled for Mail");
    // No application in front: the refusal names none.
    writeConfig(R"({"api_url":"http://127.0.0.1:3000","context_excluded_apps":["unknown"]})");
    frontmost.clearFront();
    EXPECT_EQ(refusal(), "Context capture is disabled for this application");
    std::filesystem::remove(root / "home/.vantrel/config.json");
    EXPECT_EQ(refusal(), "Missing ~/.vantrel/config.json");
    EXPECT_EQ(pending(), 0u);
}

TEST_F(ScreenAware, ControlJoiningAHeldDictationMakesItScreenAware) {
    insertion.front = std::make_shared<FakeInsertion::Target>(kMail, false);
    microphone.load(tone(1.0));
    key(kRightAlt, true);
    EXPECT_EQ(panel.content().text, "Listening");
    scheduler.runSerialQueues();  // the microphone opens
    microphone.playAll();
    key(kControl, true);
    EXPECT_TRUE(app->contextual());
    EXPECT_EQ(panel.content().text, "Screen-aware listening · Mail");
    scheduler.advance(platform::Duration(1.0));
    release();
    scheduler.runUntilIdle();
    scheduler.advance(platform::Duration(0.2));
    EXPECT_EQ(drafts.size(), 1u);  // the same recording became the instruction
    EXPECT_EQ(insertion.events, Strings{"pasteFront See you at six."});

    // An excluded application: the dictation goes on as dictation.
    writeConfig(R"({"api_url":"http://127.0.0.1:3000","context_excluded_apps":["Mail"]})");
    insertion.events.clear();
    microphone.load(tone(1.0));
    key(kRightAlt, true);
    scheduler.runSerialQueues();
    microphone.playAll();
    key(kControl, true);
    EXPECT_FALSE(app->contextual());
    EXPECT_EQ(status.icon().accessibility, "Context capture is disabled for Mail");
    EXPECT_TRUE(app->recorder().isRecording());
    scheduler.advance(platform::Duration(1.0));
    release();
    scheduler.runUntilIdle();
    EXPECT_EQ(drafts.size(), 1u);
    EXPECT_EQ(insertion.events, Strings{"paste 4242 reply that I'll be there at six"});
}

TEST_F(ScreenAware, ControlAndTheKeyDuringARecordingDoNothing) {
    app->menuToggle();
    ASSERT_TRUE(app->recorder().isRecording());
    app->contextDown();
    EXPECT_FALSE(app->contextual());
    EXPECT_TRUE(accessibility.queried().empty());
}

TEST_F(ScreenAware, TheConsentDialogAsksOnceInItsOrderAndStoresTheAnswer) {
    defaults.remove("screenAwareConsent");
    alerts.answer = 2;  // Cancel
    hold();
    ASSERT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(alerts.shown[0].message, "Turn on screen-aware dictation?");
    EXPECT_EQ(alerts.shown[0].style, platform::AlertStyle::question);
    EXPECT_EQ(alerts.shown[0].informativeText,
              "When you hold Control + Right Alt, Larkspire reads focused and accessible text "
              "from the active window to write at your cursor. You can optionally include one "
              "image of that window. Context is used only for this request, images are never "
              "saved, and sensitive fields are blocked.");
    EXPECT_EQ(alerts.shown[0].buttons,
              (Strings{"Include active-window images", "Use text only", "Cancel"}));
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_FALSE(defaults.contains("screenAwareConsent"));
    release();

    // Where the desktop gives no image of one window, none is offered, and the dialog says
    // why; text only goes on at once.
    windows.canCapture = false;
    alerts.answer = 0;
    hold();
    ASSERT_EQ(alerts.shown.size(), 2u);
    EXPECT_EQ(alerts.shown[1].buttons, (Strings{"Use text only", "Cancel"}));
    EXPECT_NE(alerts.shown[1].informativeText.find(
                  "This desktop lets programs take only the whole screen, never one window"),
              std::string::npos);
    EXPECT_TRUE(defaults.boolValue("screenAwareConsent"));
    EXPECT_FALSE(defaults.boolValue("screenAwareEnabled"));
    EXPECT_FALSE(app->screenAwareItem()->checked());
    EXPECT_TRUE(app->contextual());
    release();
    answered();
    EXPECT_FALSE(drafts.at(0).contains("windowImage"));

    // On X11 images need no permission: they are on at once.
    defaults.remove("screenAwareConsent");
    windows.canCapture = true;
    hold();
    EXPECT_TRUE(defaults.boolValue("screenAwareEnabled"));
    EXPECT_TRUE(app->screenAwareItem()->checked());
    EXPECT_TRUE(app->contextual());
}

TEST_F(ScreenAware, KeysTypedIntoTheDialogAreNoGestureAndALetGoKeyEndsIt) {
    defaults.remove("screenAwareConsent");
    // Answered with Return while the keys are still held: the request goes on.
    alerts.respond = [this](const platform::AlertContent&) {
        key(kReturn, true);
        key(kReturn, false);
        return std::size_t{1};
    };
    hold();
    EXPECT_TRUE(app->contextual());
    release();
    answered();
    EXPECT_EQ(drafts.size(), 1u);

    // A dictation asks to become screen-aware; in the dialog the user lets go of Control
    // and answers with Return while still holding the key: no chord, the upgrade stands.
    defaults.remove("screenAwareConsent");
    insertion.front = std::make_shared<FakeInsertion::Target>(kMail, false);
    alerts.respond = [this](const platform::AlertContent&) {
        key(kControl, false);
        key(kReturn, true);
        key(kReturn, false);
        return std::size_t{1};
    };
    microphone.load(tone(1.0));
    key(kRightAlt, true);
    scheduler.runSerialQueues();
    microphone.playAll();
    key(kControl, true);
    EXPECT_TRUE(app->contextual());
    scheduler.advance(platform::Duration(1.0));
    key(kRightAlt, false);
    scheduler.runUntilIdle();
    EXPECT_EQ(drafts.size(), 2u);

    // The keys let go while the dialog is open: that gesture is over, nothing records.
    defaults.remove("screenAwareConsent");
    alerts.respond = [this](const platform::AlertContent&) {
        key(kRightAlt, false);
        key(kControl, false);
        return std::size_t{1};
    };
    hold();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_FALSE(app->contextual());
}

TEST_F(ScreenAware, TheImageToggleStoresItsChoiceAndSaysWhenImagesCannotBeTaken) {
    const auto& item = app->screenAwareItem();
    EXPECT_EQ(item->title(), "Include active-window image with Control + Right Alt");
    item->trigger();
    EXPECT_TRUE(item->checked());
    EXPECT_TRUE(defaults.boolValue("screenAwareEnabled"));
    item->trigger();
    EXPECT_FALSE(item->checked());
    EXPECT_FALSE(defaults.boolValue("screenAwareEnabled"));

    defaults.remove("screenAwareConsent");
    windows.canCapture = false;
    item->trigger();
    EXPECT_FALSE(item->checked());
    EXPECT_FALSE(defaults.contains("screenAwareConsent"));
    EXPECT_EQ(status.icon().accessibility,
              "Window images need an X11 session: this session cannot capture other windows");
}

}  // namespace
}  // namespace larkspire

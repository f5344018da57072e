#include <signal.h>
#include <sys/resource.h>

#include "AppFixture.h"

namespace larkspire {
namespace {

using testing::FakeInsertion;
using testing::Shown;
using testing::Strings;

class Dictation : public testing::AppFixture {
  protected:
    void SetUp() override {
        testing::AppFixture::SetUp();
        signedIn();
        transport->on("/api/transcribe", 200, R"({"text":"Hello world.","id":"note-1"})");
        insertion.front = std::make_shared<FakeInsertion::Target>(4242, false);
        insertion.running.insert(4242);
        start();
        insertion.captures = 0;
    }

    size_t pending() const { return store().pendingRecordings().size(); }
    int uploads() const { return transport->count("/api/transcribe"); }
    std::vector<std::filesystem::path> silentFiles() const {
        std::vector<std::filesystem::path> out;
        const auto dir = root / "data/Larkspire/Pending Recordings/Silent Recordings";
        if (std::filesystem::exists(dir)) {
            for (const auto& e : std::filesystem::directory_iterator(dir)) {
                out.push_back(e.path());
            }
        }
        return out;
    }
    void tap() {
        press();
        scheduler.advance(platform::Duration(0.1));
        app->fnUp();
    }
};

TEST_F(Dictation, HoldRecordsAndPastesTheTextWhereRecordingBegan) {
    microphone.load(tone(0.8));
    press();
    EXPECT_EQ(shown(), (Shown{"Listening", "waveform", "record.circle.fill", "Recording"}));
    EXPECT_EQ(app->toggleItem()->title(), "Stop & transcribe");
    EXPECT_EQ(pending(), 1u);  // the spool file is on disk from the first moment
    microphone.playAll();
    scheduler.advance(platform::Duration(0.8));
    app->fnUp();
    EXPECT_EQ(shown(),
              (Shown{"Turning speech into text", "ellipsis", "hourglass", "Transcribing"}));
    EXPECT_EQ(app->toggleItem()->title(), "Start recording");
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    EXPECT_EQ(pending(), 1u);  // still on disk while the upload runs

    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Hello world."});
    EXPECT_EQ(uploads(), 1);
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(app->lastText(), "Hello world.");
    EXPECT_TRUE(app->copyLastItem()->enabled());
    EXPECT_TRUE(app->undoLastItem()->enabled());
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    EXPECT_EQ(defaults.stringValue("activationFirstThoughtId"), "note-1");
    EXPECT_EQ(shown(), (Shown{"Pasted and remembered", "checkmark.circle.fill",
                              "checkmark.circle.fill", "Done"}));
    scheduler.advance(platform::Duration(1.2));
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_TRUE(panel.isVisible());
    scheduler.advance(platform::Duration(0.11));
    EXPECT_FALSE(panel.isVisible());
}

// A press held 0.35 s or more dictates; two quick taps whose releases are at most 0.45 s
// apart lock a hands-free recording, which the next press ends.
struct Presses {
    const char* what;
    std::vector<double> seconds;  // held, then let go, then held ...
    bool locked;
    bool recording;
    const char* icon;
    int uploads;
};

void PrintTo(const Presses& p, std::ostream* out) {
    *out << p.what;
}

class Gestures : public Dictation, public ::testing::WithParamInterface<Presses> {};

TEST_P(Gestures, TimingDecidesBetweenDictationLockAndNothing) {
    const Presses& p = GetParam();
    microphone.load(tone(3.0));
    for (size_t i = 0; i < p.seconds.size(); ++i) {
        if (i % 2 == 0) {
            press();
            microphone.playAll();
        }
        scheduler.advance(platform::Duration(p.seconds[i]));
        if (i % 2 == 0) {
            app->fnUp();
        }
    }
    EXPECT_EQ(app->locked(), p.locked);
    EXPECT_EQ(app->recorder().isRecording(), p.recording);
    EXPECT_EQ(status.icon().name, p.icon);
    scheduler.runUntilIdle();
    EXPECT_EQ(uploads(), p.uploads);
}

INSTANTIATE_TEST_SUITE_P(
    Dictation, Gestures,
    ::testing::Values(
        Presses{"held exactly 0.35 s", {0.35}, false, false, "hourglass", 1},
        Presses{"one quick tap", {0.2}, false, false, "larkspire.idle", 0},
        Presses{"releases 0.45 s apart", {0.1, 0.35, 0.1}, true, true, "record.circle.fill", 0},
        Presses{"releases 0.46 s apart", {0.1, 0.36, 0.1}, false, false, "larkspire.idle", 0},
        Presses{"a third quick tap", {0.1, 0, 0.1, 0, 0.1}, false, false, "larkspire.idle", 0}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST_F(Dictation, DoubleTapLocksAndTheNextPressTranscribes) {
    tap();
    scheduler.advance(platform::Duration(0.25));
    microphone.load(tone(2.0));
    tap();
    EXPECT_TRUE(app->locked());
    EXPECT_TRUE(app->recorder().isRecording());
    EXPECT_EQ(shown(),
              (Shown{"Recording hands-free", "record.circle", "record.circle.fill", "Recording"}));
    microphone.playAll();
    scheduler.advance(platform::Duration(2.0));
    press();  // stops the hands-free recording
    EXPECT_FALSE(app->locked());
    EXPECT_FALSE(app->recorder().isRecording());
    app->fnUp();  // does nothing
    scheduler.runUntilIdle();
    EXPECT_EQ(uploads(), 1);
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Hello world."});
}

TEST_F(Dictation, ChordCancelDiscardsAndNeverPairsIntoADoubleTap) {
    microphone.load(tone(0.1));
    press();
    microphone.playAll();
    app->chordCancel();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    app->fnUp();  // the key's release after a chord does nothing
    tap();        // a quick tap right after: a lone tap, not a double tap
    EXPECT_FALSE(app->locked());
    app->chordCancel();  // without a press being timed: nothing
    scheduler.runUntilIdle();
    EXPECT_EQ(pending(), 0u);
    EXPECT_EQ(uploads(), 0);
}

TEST_F(Dictation, SecureFieldRefusesAndTheReleaseResetsTheIcon) {
    insertion.front = std::make_shared<FakeInsertion::Target>(77, true);
    press();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_EQ(shown(),
              (Shown{"", "", "exclamationmark.triangle", "Dictation is off in secure fields"}));
    EXPECT_EQ(log.lines.back(), "Vantrel error: Dictation is off in secure fields");
    scheduler.advance(platform::Duration(0.5));
    app->fnUp();
    EXPECT_EQ(status.icon().name, "larkspire.idle");
    EXPECT_EQ(pending(), 0u);
}

TEST_F(Dictation, MenuStartIgnoresTheSecureFieldAndAPressStopsIt) {
    insertion.front = std::make_shared<FakeInsertion::Target>(77, true);
    microphone.load(tone(1.0));
    app->toggleItem()->trigger();
    EXPECT_TRUE(app->recorder().isRecording());
    EXPECT_TRUE(app->locked());
    EXPECT_EQ(panel.content().text, "Recording hands-free");
    scheduler.runSerialQueues();  // the microphone opens
    microphone.playAll();
    scheduler.advance(platform::Duration(1.0));
    press();
    app->fnUp();
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 77 Hello world."});
}

TEST_F(Dictation, MicrophoneRefusedShowsWhyAndRequestsWhenUndecided) {
    microphone.setAuthorization(platform::MicrophoneAuthorization::notDetermined);
    microphone.setRequestAnswer(false);
    press();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_EQ(shown(),
              (Shown{"Microphone permission needed", "mic.slash", "exclamationmark.triangle",
                     "Microphone permission is off. Open the Larkspire menu → More → Microphone "
                     "permission, enable Larkspire, then reopen the app."}));
    EXPECT_EQ(microphone.requestCount(), 1);
    scheduler.runDue();
    EXPECT_EQ(desktop.openedUrls.back(),
              "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone");
    EXPECT_EQ(app->microphoneItem()->title(), "Microphone permission…");
    scheduler.advance(platform::Duration(2.41));
    EXPECT_FALSE(panel.isVisible());

    microphone.setAuthorization(platform::MicrophoneAuthorization::denied);
    app->toggleItem()->trigger();
    EXPECT_FALSE(app->locked());
    EXPECT_EQ(microphone.requestCount(), 1);  // a denial is never asked again
}

TEST_F(Dictation, RecorderErrorIsShownWithThePlatformText) {
    microphone.failNextStart("Connection refused");
    press();
    scheduler.runDue();  // the failure to open comes back from the recorder's queue
    EXPECT_EQ(status.icon().accessibility, "Mic error: Connection refused");
    EXPECT_FALSE(app->recorder().isRecording());
}

TEST_F(Dictation, ServiceFailureKeepsTheRecordingAndRetryDeliversItLater) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    ASSERT_EQ(pending(), 1u);
    const auto saved = store().pendingRecordings().front();
    EXPECT_TRUE(app->retryRecordingItem()->enabled());
    EXPECT_EQ(shown(), (Shown{"Recording saved for retry", "exclamationmark.arrow.circlepath",
                              "exclamationmark.triangle",
                              "Transcription failed. Recording saved at " + saved.string()}));
    EXPECT_TRUE(insertion.events.empty());
    EXPECT_FALSE(app->lastText());

    // The service is back; the user is now in another application.
    transport->on("/api/transcribe", 200, R"({"text":"Second try."})");
    insertion.front = std::make_shared<FakeInsertion::Target>(5151, false);
    app->retryRecordingItem()->trigger();
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 5151 Second try."});
    EXPECT_EQ(pending(), 0u);
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    EXPECT_FALSE(defaults.contains("activationFirstThoughtId")) << "a receipt without an id";
}

TEST_F(Dictation, SilentAudioIsArchivedAndNeverSent) {
    dictate(0.6, std::vector<float>(48000 * 0.6, 0.0f));
    scheduler.runUntilIdle();
    EXPECT_EQ(uploads(), 0);
    EXPECT_EQ(pending(), 0u);
    const auto archived = silentFiles();
    ASSERT_EQ(archived.size(), 1u);
    EXPECT_EQ(panel.content().text, "Microphone audio is unusable");
    EXPECT_EQ(status.icon().accessibility,
              "The microphone captured silence or corrupted audio. Reopen Larkspire and confirm "
              "the correct input device before trying again. The silent file was preserved at " +
                  archived.front().string() + ".");
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
}

TEST_F(Dictation, EmptyTranscriptPastesNothingButDeliversTheRecording) {
    transport->on("/api/transcribe", 200, R"({"text":""})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    EXPECT_TRUE(insertion.events.empty());
    EXPECT_FALSE(app->lastText());
    EXPECT_EQ(shown(), (Shown{"Pasted and remembered", "checkmark.circle.fill",
                              "checkmark.circle.fill", "Done"}));
    EXPECT_EQ(pending(), 0u);
}

TEST_F(Dictation, WithoutACapturedTargetTheTextGoesToTheFrontAndUndoStaysAsItWas) {
    insertion.front = nullptr;
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"pasteFront Hello world."});
    EXPECT_FALSE(app->undoLastItem()->enabled());
}

TEST_F(Dictation, TwoSubmissionsInFlightEachPasteIntoTheirOwnTarget) {
    transport->on("/api/transcribe", [n = 0](const HttpRequest&) mutable {
        return HttpResponse{"{\"text\":\"text " + std::to_string(++n) + "\"}", 200};
    });
    dictate(0.6, tone(0.6));  // first upload queued, not yet run
    insertion.front = std::make_shared<FakeInsertion::Target>(9, false);
    dictate(0.6, tone(0.6));  // second recording, new target
    EXPECT_EQ(scheduler.pendingBackground(), 2u);
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, (Strings{"paste 4242 text 1", "paste 9 text 2"}));
    EXPECT_EQ(pending(), 0u);
}

TEST_F(Dictation, RetryDuringARecordingLeavesThatRecordingWhole) {
    microphone.load(tone(1.0));
    press();
    microphone.playAll();
    const auto spool = app->recorder().currentSpoolPath();
    ASSERT_TRUE(spool);
    EXPECT_FALSE(app->retryRecordingItem()->enabled()) << "the recording in progress is not saved";
    app->retryRecordingItem()->trigger();  // chosen all the same: nothing else is pending
    EXPECT_FALSE(app->retryRecordingItem()->enabled());
    EXPECT_TRUE(app->recorder().isRecording());
    EXPECT_TRUE(std::filesystem::exists(*spool));
    scheduler.advance(platform::Duration(1.0));
    app->fnUp();
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Hello world."});
    EXPECT_EQ(uploads(), 1);
}

TEST_F(Dictation, RetryTakesTheNewestOtherRecordingWhileOneRecords) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    ASSERT_EQ(pending(), 1u);
    transport->on("/api/transcribe", 200, R"({"text":"Recovered."})");
    microphone.load(tone(1.0));
    scheduler.advance(platform::Duration(5));
    press();  // a new recording whose spool is now the newest pending file
    microphone.playAll();
    app->retryRecordingItem()->trigger();
    for (int step = 0; step < 2; ++step) {  // the recovery, then the upload
        scheduler.runBackground();
        scheduler.runDue();
    }
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Recovered."});
    EXPECT_TRUE(app->recorder().isRecording());
    EXPECT_TRUE(std::filesystem::exists(*app->recorder().currentSpoolPath()));
}

TEST_F(Dictation, ALeftoverRecordingIsConvertedForRetryOffTheMainThread) {
    const auto leftover = store().newRecoveryURL("caf");
    auto spool = CafSpoolFile::create(leftover, platform::AudioFormat{48000, 1});
    ASSERT_TRUE(spool->append(tone(1.0)));
    spool->close();
    app->retryRecordingItem()->trigger();
    app->retryRecordingItem()->trigger();  // chosen twice before the first is found
    scheduler.runDue();
    EXPECT_TRUE(std::filesystem::exists(leftover));
    EXPECT_EQ(scheduler.pendingBackground(), 1u);
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Hello world."});
    EXPECT_EQ(pending(), 0u);
}

TEST_F(Dictation, CopyAndUndoActOnTheLastPaste) {
    app->copyLastItem()->trigger();
    EXPECT_TRUE(insertion.events.empty());
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    insertion.events.clear();
    app->copyLastItem()->trigger();
    EXPECT_EQ(status.icon().name, "doc.on.clipboard");
    app->undoLastItem()->trigger();
    EXPECT_EQ(insertion.events, (Strings{"copy Hello world.", "activate 4242"}));
    scheduler.advance(platform::Duration(0.2));
    EXPECT_EQ(insertion.events.back(), "undo");
    EXPECT_FALSE(app->undoLastItem()->enabled());
    EXPECT_EQ(status.icon().name, "arrow.uturn.backward.circle.fill");
}

TEST_F(Dictation, AfterATerminalPasteUndoStaysOffAndDoneFlashesOnlyForASentUndo) {
    // A terminal: no undo chord exists, the item stays disabled.
    insertion.undoable = false;
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    EXPECT_FALSE(app->undoLastItem()->enabled());
    // An editor, but by the time of the undo a terminal is in front: nothing was undone.
    insertion.undoable = true;
    insertion.undoSent = false;
    scheduler.advance(platform::Duration(5));
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    ASSERT_TRUE(app->undoLastItem()->enabled());
    const std::string iconBefore = status.icon().name;
    app->undoLastItem()->trigger();
    scheduler.advance(platform::Duration(0.2));
    EXPECT_EQ(insertion.events.back(), "no undo");
    EXPECT_EQ(status.icon().name, iconBefore);
    EXPECT_FALSE(app->undoLastItem()->enabled());
}

TEST_F(Dictation, UndoAfterTheTargetQuitPostsNoKey) {
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    insertion.events.clear();
    insertion.running.clear();
    app->undoLastItem()->trigger();
    scheduler.advance(platform::Duration(1));
    EXPECT_TRUE(insertion.events.empty());
    EXPECT_FALSE(app->undoLastItem()->enabled());
}

TEST_F(Dictation, TheChosenMicrophoneIsRecordedFromAndOneUnpluggedFallsBackSayingSoOnce) {
    const platform::AudioSource builtIn{"builtin", "Built-in Audio"}, usb{"usb", "USB Microphone"};
    auto relist = [&](std::vector<platform::AudioSource> sources) {
        microphone.setSources(std::move(sources));
        scheduler.advance(platform::Duration(MicrophoneMenu::kRefreshSeconds));
        scheduler.runUntilIdle();
    };
    auto holdAndRelease = [&] {
        scheduler.advance(platform::Duration(0.6));
        app->fnUp();
        scheduler.runUntilIdle();
    };
    relist({builtIn, usb});  // plugged in while the agent runs
    const auto& menu = app->microphoneMenu();
    EXPECT_EQ(menu->titles(), (Strings{"System default", "Built-in Audio", "USB Microphone"}));
    EXPECT_TRUE(menu->at(0)->checked());
    menu->find("USB Microphone")->trigger();
    EXPECT_EQ(defaults.stringValue("microphoneSource"), "usb");
    EXPECT_FALSE(menu->at(0)->checked());
    EXPECT_TRUE(menu->find("USB Microphone")->checked());
    press();
    EXPECT_EQ(microphone.startedSource(), "usb");
    holdAndRelease();

    relist({builtIn});  // unplugged: the default, said at the first press only
    EXPECT_TRUE(menu->at(0)->checked());
    for (const char* shownText :
         {"Chosen microphone not found · listening with the system default", "Listening"}) {
        press();
        EXPECT_EQ(panel.content().text, shownText);
        EXPECT_EQ(microphone.startedSource(), "");
        holdAndRelease();
    }
    relist({builtIn, usb});  // back: chosen again
    EXPECT_TRUE(menu->find("USB Microphone")->checked());
    press();
    EXPECT_EQ(microphone.startedSource(), "usb");
    EXPECT_EQ(panel.content().text, "Listening");
}

TEST_F(Dictation, KeyHandlingNeverWaitsOnTheSoundServer) {
    constexpr int kRightAlt = 108;
    microphone.blockStartFor(std::chrono::seconds(1));  // a wedged sound server
    const auto began = std::chrono::steady_clock::now();
    for (int tap = 0; tap < 2; ++tap) {  // a double tap: both presses start a recording
        keys.press(kRightAlt);
        scheduler.runDue();
        EXPECT_TRUE(app->recorder().isRecording());
        keys.release(kRightAlt);
        scheduler.runDue();
    }
    EXPECT_TRUE(app->locked());
    keys.press(kRightAlt);  // ends the hands-free recording, which never heard anything
    scheduler.runDue();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(200));
    EXPECT_EQ(microphone.startCount(), 0);
}

TEST_F(Dictation, RawKeysOfTheDictationKeyDriveTheGestures) {
    constexpr int kRightAlt = 108, kV = 55;
    microphone.load(tone(0.6));
    keys.press(kRightAlt);
    scheduler.runDue();
    ASSERT_TRUE(app->recorder().isRecording());
    scheduler.runSerialQueues();
    microphone.playAll();
    scheduler.advance(platform::Duration(0.6));
    keys.release(kRightAlt);
    scheduler.runUntilIdle();
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Hello world."});

    // Right Alt + V types a character: the chord cancels, and a quick tap after it does
    // not lock.
    keys.press(kRightAlt);
    keys.press(kV);
    keys.release(kV);
    keys.release(kRightAlt);
    scheduler.runDue();
    EXPECT_FALSE(app->recorder().isRecording());
    keys.press(kRightAlt);
    scheduler.advance(platform::Duration(0.1));
    keys.release(kRightAlt);
    scheduler.runUntilIdle();
    EXPECT_FALSE(app->locked());
    EXPECT_EQ(uploads(), 1);
}

TEST_F(Dictation, TheVaultStartsSignedInAndSyncsAfterEachDelivery) {
    ASSERT_NE(app->vault(), nullptr);
    EXPECT_EQ(app->vault()->vaultDir(), root / "home/Vantrel/Notes");
    scheduler.runUntilIdle();
    const int passes = transport->count("/api/notes");
    EXPECT_EQ(passes, 1);  // the pass at start
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    EXPECT_EQ(transport->count("/api/notes"), passes + 1);
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    EXPECT_EQ(transport->count("/api/notes"), passes + 1) << "no pass after a failure";
    status.menu->find("Open vault folder")->trigger();
    EXPECT_EQ(desktop.openedFolders, Strings{(root / "home/Vantrel").string()});
}

TEST_F(Dictation, FirstRecordingIsReportedOnceUntilActivationCompletes) {
    defaults.setBool("activationComplete", false);
    dictate(0.6, tone(0.6));
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    // signed_in and shortcut_ready at start-up, then first_recording_started once.
    EXPECT_EQ(transport->count("/api/activation"), 3);
}

TEST_F(Dictation, ARetryChosenAgainWhileTheFirstIsInFlightSendsNothingTwice) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    dictate(0.6, tone(0.6));
    scheduler.runUntilIdle();
    transport->on("/api/transcribe", 200, R"({"text":"Once."})");
    app->retryRecordingItem()->trigger();
    app->retryRecordingItem()->trigger();  // the first retry has not come back yet
    scheduler.runUntilIdle();
    EXPECT_EQ(uploads(), 2);  // the failed one and one retry
    EXPECT_EQ(insertion.events, Strings{"paste 4242 Once."});
}

TEST_F(Dictation, ADoubleTapThatRecordedNothingNeverClaimsHandsFreeRecording) {
    for (const bool secureField : {true, false}) {
        SCOPED_TRACE(secureField ? "secure field" : "microphone refused");
        insertion.front = std::make_shared<FakeInsertion::Target>(77, secureField);
        microphone.setAuthorization(secureField ? platform::MicrophoneAuthorization::authorized
                                                : platform::MicrophoneAuthorization::denied);
        tap();
        tap();
        EXPECT_FALSE(app->locked());
        EXPECT_NE(panel.content().text, "Recording hands-free");
        scheduler.advance(platform::Duration(5));
    }
}

TEST_F(Dictation, AFailedWriteIsSaidAndEndsTheRecordingKeepingWhatWasWritten) {
    transport->on("/api/transcribe", 500, R"({"error":"Transcription failed"})");
    microphone.load(tone(1.0));
    press();
    EXPECT_EQ(panel.content().text, "Listening");
    hearWithRoomForTwoBlocks();
    EXPECT_FALSE(app->recorder().isRecording());
    EXPECT_NE(panel.content().text, "Listening");
    EXPECT_EQ(status.icon().accessibility, "Couldn’t save the recording: File too large");
    scheduler.runUntilIdle();
    ASSERT_EQ(store().pendingRecordings().size(), 1u);
    // The two blocks written before the failure, as 16 kHz audio.
    EXPECT_GT(std::filesystem::file_size(store().pendingRecordings().front()), 5000u);
    EXPECT_EQ(Recorder::saveFailureText(ENOSPC), "Couldn’t save the recording: the disk is full");
}

TEST_F(Dictation, AWriteFailureReportedLateEndsOnlyItsOwnRecording) {
    microphone.load(tone(1.0));
    press();
    hearWithRoomForTwoBlocks(false);  // the report waits on the main queue
    clock.advanceBy(platform::Duration(1.0));
    app->fnUp();
    press();  // the next recording has begun when the report is handled
    scheduler.runDue();
    EXPECT_TRUE(app->recorder().isRecording());
    EXPECT_EQ(status.icon().accessibility, "Couldn’t save the recording: File too large");
}

}  // namespace
}  // namespace larkspire

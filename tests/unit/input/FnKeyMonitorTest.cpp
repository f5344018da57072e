#include "input/FnKeyMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/InjectionJournal.h"
#include "platform/fake/FakeKeyListener.h"
#include "platform/fake/FakeScheduler.h"

namespace larkspire {
namespace {

// X keycodes of the evdev layout.
constexpr int kAltR = 108;
constexpr int kAltL = 64;
constexpr int kCtrlL = 37;
constexpr int kCtrlR = 105;
constexpr int kShiftL = 50;
constexpr int kSuperL = 133;
constexpr int kKeyE = 26;
constexpr int kKeyV = 55;

class FnKeyMonitorTest : public ::testing::Test {
  protected:
    FnKeyMonitorTest() { makeMonitor(*fnKeyNamed("KEY_RIGHTALT")); }

    void makeMonitor(const FnKey& key) {
        monitor = std::make_unique<FnKeyMonitor>(listener, scheduler, journal);
        monitor->setFnKey(key);
        monitor->onFnDown = [this] { calls.push_back("fnDown"); };
        monitor->onFnUp = [this] { calls.push_back("fnUp"); };
        monitor->onContextDown = [this] { calls.push_back("contextDown"); };
        monitor->onContextUp = [this] { calls.push_back("contextUp"); };
        monitor->onChordCancel = [this] { calls.push_back("chordCancel"); };
        monitor->onContextUpgrade = [this] {
            calls.push_back("upgrade?");
            return acceptUpgrade;
        };
        ASSERT_TRUE(monitor->start());
    }

    // Keys as the listener hears them, then the main queue runs.
    void press(int keycode, bool synthetic = false) {
        listener.press(keycode, synthetic);
        scheduler.runDue();
    }
    void release(int keycode, bool synthetic = false) {
        listener.release(keycode, synthetic);
        scheduler.runDue();
    }

    using Calls = std::vector<std::string>;

    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeKeyListener listener;
    InjectionJournal journal{clock};
    std::unique_ptr<FnKeyMonitor> monitor;
    std::vector<std::string> calls;
    bool acceptUpgrade = true;
};

TEST_F(FnKeyMonitorTest, FnAloneIsOneDictationGesture) {
    press(kAltR);
    EXPECT_EQ(calls, Calls{"fnDown"});
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
    EXPECT_FALSE(monitor->activeGesture().has_value());
    EXPECT_FALSE(monitor->fnIsDown());
}

TEST_F(FnKeyMonitorTest, RepeatedFnPressWhileHeldStartsNothingNew) {
    press(kAltR);
    press(kAltR);  // auto-repeat
    press(kAltR);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, ControlFirstGivesContextualGesture) {
    press(kCtrlL);
    press(kAltR);
    release(kAltR);
    release(kCtrlL);
    EXPECT_EQ(calls, (Calls{"contextDown", "contextUp"}));
}

TEST_F(FnKeyMonitorTest, RightControlCountsAsControl) {
    press(kCtrlR);
    press(kAltR);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"contextDown", "contextUp"}));
    EXPECT_TRUE(monitor->controlIsDown());
}

TEST_F(FnKeyMonitorTest, AcceptedUpgradeEndsContextualAndIsAskedOnce) {
    press(kAltR);
    press(kCtrlL);
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::contextual);
    // Control released and pressed again: already contextual, nothing more is asked.
    release(kCtrlL);
    press(kCtrlL);
    release(kCtrlL);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?", "contextUp"}));
}

TEST_F(FnKeyMonitorTest, RefusedUpgradeStaysDictationAndIsAskedAgainAfterControlRepress) {
    acceptUpgrade = false;
    press(kAltR);
    press(kCtrlL);
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    release(kCtrlL);
    press(kCtrlL);
    release(kCtrlL);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?", "upgrade?", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, SecondControlKeyWhileOneIsHeldAsksNothing) {
    acceptUpgrade = false;
    press(kAltR);
    press(kCtrlL);
    press(kCtrlR);  // Control was already down
    release(kCtrlL);
    EXPECT_TRUE(monitor->controlIsDown());  // the right one is still held
    release(kCtrlR);
    EXPECT_FALSE(monitor->controlIsDown());
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, UpgradeWithoutHandlerStaysDictation) {
    monitor->onContextUpgrade = nullptr;
    press(kAltR);
    press(kCtrlL);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, ContextualEndsContextualAfterControlLetGo) {
    press(kCtrlL);
    press(kAltR);
    release(kCtrlL);
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::contextual);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"contextDown", "contextUp"}));
}

TEST_F(FnKeyMonitorTest, OtherModifiersWhileHeldCallNothing) {
    press(kAltR);
    for (int key : {kShiftL, kAltL, kSuperL}) {
        press(key);
        release(key);
    }
    EXPECT_EQ(calls, Calls{"fnDown"});
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, ReleaseWithNoPressSeenCallsNothingAndControlFollows) {
    press(kCtrlL);
    release(kAltR);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(monitor->controlIsDown());
    EXPECT_FALSE(monitor->fnIsDown());
    release(kCtrlL);
    EXPECT_FALSE(monitor->controlIsDown());
    EXPECT_TRUE(calls.empty());
}

TEST_F(FnKeyMonitorTest, StateMovesWithEmptySlots) {
    monitor->onFnDown = nullptr;
    monitor->onFnUp = nullptr;
    press(kAltR);
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    release(kAltR);
    EXPECT_FALSE(monitor->activeGesture().has_value());
    EXPECT_TRUE(calls.empty());
}

TEST_F(FnKeyMonitorTest, RightControlAsFnKeyLeavesLeftControlAsControl) {
    makeMonitor(*fnKeyNamed("KEY_RIGHTCTRL"));
    press(kCtrlR);
    EXPECT_EQ(calls, Calls{"fnDown"});
    press(kCtrlL);
    release(kCtrlL);
    release(kCtrlR);
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?", "contextUp"}));
    calls.clear();
    // Right Alt is an ordinary modifier now.
    press(kAltR);
    release(kAltR);
    EXPECT_TRUE(calls.empty());
}

// Keyboard chords: the Fn key used as AltGr must not start or lock anything.

TEST_F(FnKeyMonitorTest, TypingKeyWhileFnHeldCancelsAndReleaseCallsNothing) {
    press(kAltR);
    press(kKeyE);
    EXPECT_EQ(calls, (Calls{"fnDown", "chordCancel"}));
    EXPECT_FALSE(monitor->activeGesture().has_value());
    release(kKeyE);
    press(kKeyE);  // a second character in the same chord
    release(kKeyE);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "chordCancel"}));
    // The next hold is an ordinary gesture again.
    press(kAltR);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "chordCancel", "fnDown", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, TwoQuickChordsGiveNoGestureEnd) {
    for (int i = 0; i < 2; ++i) {
        press(kAltR);
        press(kKeyE);
        release(kKeyE);
        release(kAltR);
        clock.advanceBy(platform::Duration(0.05));
    }
    EXPECT_EQ(calls, (Calls{"fnDown", "chordCancel", "fnDown", "chordCancel"}));
}

TEST_F(FnKeyMonitorTest, ControlAfterChordAsksNoUpgrade) {
    press(kAltR);
    press(kKeyE);
    press(kCtrlL);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "chordCancel"}));
}

TEST_F(FnKeyMonitorTest, TypingKeyInContextualGestureIsNoChord) {
    press(kCtrlL);
    press(kAltR);
    press(kKeyE);
    release(kKeyE);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"contextDown", "contextUp"}));
}

TEST_F(FnKeyMonitorTest, KeyReleasedWhileFnHeldIsNoChord) {
    press(kKeyE);  // held before the Fn key
    press(kAltR);
    release(kKeyE);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
}

// The agent's own injections.

TEST_F(FnKeyMonitorTest, OwnInjectedPasteChordWhileFnHeldIsIgnored) {
    press(kAltR);
    for (auto [key, down] : {std::pair{kAltR, false},
                             {kCtrlL, true},
                             {kKeyV, true},
                             {kKeyV, false},
                             {kCtrlL, false}}) {
        journal.record(key, down);
    }
    release(kAltR, true);
    press(kCtrlL, true);
    press(kKeyV, true);
    release(kKeyV, true);
    release(kCtrlL, true);
    EXPECT_EQ(calls, Calls{"fnDown"});
    EXPECT_EQ(monitor->activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    EXPECT_EQ(journal.pending(), 0u);
    release(kAltR);
    EXPECT_EQ(calls, (Calls{"fnDown", "fnUp"}));
}

TEST_F(FnKeyMonitorTest, OthersInjectionsStillCount) {
    journal.record(kCtrlL, true);
    // Synthetic, but not what the agent sent.
    press(kAltR, true);
    // What the agent sent, but from a real keyboard: the user pressed it.
    press(kCtrlL, false);
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?"}));
    EXPECT_EQ(journal.pending(), 1u);
}

TEST_F(FnKeyMonitorTest, ForgottenInjectionNoLongerHidesEvents) {
    journal.record(kAltR, true);
    clock.advanceBy(platform::Duration(1.5));
    press(kAltR, true);
    EXPECT_EQ(calls, Calls{"fnDown"});
}

// Delivery.

TEST_F(FnKeyMonitorTest, EventsRunOnTheMainQueueInArrivalOrder) {
    listener.press(kAltR);
    listener.press(kCtrlL);
    listener.release(kAltR);
    EXPECT_TRUE(calls.empty());  // nothing runs on the listener's thread
    EXPECT_EQ(scheduler.pendingMain(), 3u);
    scheduler.runDue();
    EXPECT_EQ(calls, (Calls{"fnDown", "upgrade?", "contextUp"}));
}

TEST_F(FnKeyMonitorTest, EventsQueuedForAGoneMonitorDoNothing) {
    listener.press(kAltR);
    monitor.reset();
    EXPECT_FALSE(listener.running());
    scheduler.runDue();
    EXPECT_TRUE(calls.empty());
}

TEST(FnKeyMonitorStart, FailsWhenTheListenerCannotStart) {
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeKeyListener listener;
    InjectionJournal journal{clock};
    listener.setAvailable(false);
    FnKeyMonitor monitor(listener, scheduler, journal);
    EXPECT_FALSE(monitor.start());
    listener.setAvailable(true);
    EXPECT_TRUE(monitor.start());
    EXPECT_TRUE(monitor.start());
    EXPECT_EQ(listener.startCount(), 2);
}

TEST(InjectionJournalTest, ClaimTakesTheOldestMatchAndDropsUnheardOnes) {
    fake::VirtualClock clock;
    InjectionJournal journal{clock};
    journal.record(kAltR, false);  // a release the server may drop
    journal.record(kCtrlL, true);
    journal.record(kCtrlL, false);
    EXPECT_TRUE(journal.claim(kCtrlL, true));
    EXPECT_FALSE(journal.claim(kCtrlL, true));  // heard once, claimed once
    EXPECT_EQ(journal.pending(), 1u);
    EXPECT_FALSE(journal.claim(kAltR, false));  // dropped with the match after it
    EXPECT_TRUE(journal.claim(kCtrlL, false));
    EXPECT_EQ(journal.pending(), 0u);
}

TEST(InjectionJournalTest, EntriesExpire) {
    fake::VirtualClock clock;
    InjectionJournal journal{clock, platform::Seconds(1.0)};
    journal.record(kKeyV, true);
    clock.advanceBy(platform::Duration(0.9));
    journal.record(kKeyV, false);
    clock.advanceBy(platform::Duration(0.2));
    EXPECT_FALSE(journal.claim(kKeyV, true));
    EXPECT_TRUE(journal.claim(kKeyV, false));
}

}  // namespace
}  // namespace larkspire

#include "input/FnKeyMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "input/InjectionJournal.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeKeyListener.h"
#include "platform/fake/FakeScheduler.h"
#include "support/GestureLog.h"

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
constexpr int kKeyF13 = 191;
// Pointer buttons, told apart from key codes in the tables below.
constexpr int kButtonBase = 1000;
constexpr int kClick = kButtonBase + 1;
constexpr int kWheelDown = kButtonBase + 5;

class FnKeyMonitorTest : public ::testing::Test {
  protected:
    FnKeyMonitorTest() { makeMonitor(*fnKeyNamed("KEY_RIGHTALT")); }

    void makeMonitor(const FnKey& key) {
        monitor.reset();
        calls.clear();
        monitor = std::make_unique<FnKeyMonitor>(listener, scheduler, journal, injector);
        monitor->setFnKey(key);
        testing::recordGestures(*monitor, calls, [this] { return acceptUpgrade; });
        ASSERT_TRUE(monitor->start());
    }

    // Keys as the listener hears them, then the main queue runs.
    void press(int keycode, bool synthetic = false) {
        if (keycode > kButtonBase) {
            listener.send({keycode - kButtonBase, true, synthetic, true});
        } else {
            listener.press(keycode, synthetic);
        }
        scheduler.runDue();
    }
    void release(int keycode, bool synthetic = false) {
        if (keycode > kButtonBase) {
            listener.send({keycode - kButtonBase, false, synthetic, true});
        } else {
            listener.release(keycode, synthetic);
        }
        scheduler.runDue();
    }

    using Calls = std::vector<std::string>;

    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeKeyListener listener;
    InjectionJournal journal{clock};
    fake::ActionLog injected{clock};
    fake::FakeKeyInjector injector{injected};
    std::unique_ptr<FnKeyMonitor> monitor;
    std::vector<std::string> calls;
    bool acceptUpgrade = true;
};

// Each row: which handlers are set, the keys as the listener hears them (+ press,
// - release), and each call with the number of the key event that caused it.
TEST_F(FnKeyMonitorTest, KeySequencesGiveTheirGestures) {
    enum class Slots { accept, refuse, noUpgrade, noContext };
    struct Case {
        const char* what;
        Slots slots;
        std::vector<int> keys;
        Calls calls;
        const char* fnKey = "KEY_RIGHTALT";
    };
    using enum Slots;
    const std::vector<Case> cases = {
        {"Fn alone", accept, {kAltR, -kAltR}, {"fnDown@1", "fnUp@2"}},
        {"auto-repeat", accept, {kAltR, kAltR, kAltR, -kAltR}, {"fnDown@1", "fnUp@4"}},
        {"other modifiers while held",
         accept,
         {kAltR, kShiftL, -kShiftL, kAltL, -kAltL, kSuperL, -kSuperL, -kAltR},
         {"fnDown@1", "fnUp@8"}},
        {"release without press", accept, {kCtrlL, -kAltR, -kCtrlL}, {}},
        // Control.
        {"left Control first",
         accept,
         {kCtrlL, kAltR, -kAltR, -kCtrlL},
         {"contextDown@2", "contextUp@3"}},
        {"right Control first", accept, {kCtrlR, kAltR, -kAltR}, {"contextDown@2", "contextUp@3"}},
        {"Control let go first",
         accept,
         {kCtrlL, kAltR, -kCtrlL, -kAltR},
         {"contextDown@2", "contextUp@4"}},
        {"accepted upgrade is asked once",
         accept,
         {kAltR, kCtrlL, -kCtrlL, kCtrlL, -kCtrlL, -kAltR},
         {"fnDown@1", "upgrade?@2", "contextUp@6"}},
        {"refused upgrade is asked at each Control press",
         refuse,
         {kAltR, kCtrlL, -kCtrlL, kCtrlL, -kCtrlL, -kAltR},
         {"fnDown@1", "upgrade?@2", "upgrade?@4", "fnUp@6"}},
        {"second Control key while one is held",
         refuse,
         {kAltR, kCtrlL, kCtrlR, -kCtrlL, -kCtrlR, -kAltR},
         {"fnDown@1", "upgrade?@2", "fnUp@6"}},
        {"no upgrade handler", noUpgrade, {kAltR, kCtrlL, -kAltR}, {"fnDown@1", "fnUp@3"}},
        {"no context handlers",
         noContext,
         {kCtrlL, kAltR, -kAltR, -kCtrlL, kAltR, kCtrlL, -kCtrlL, -kAltR},
         {"fnDown@5", "fnUp@8"}},
        {"Right Ctrl as the key leaves left Control as Control",
         accept,
         {kCtrlR, kCtrlL, -kCtrlL, -kCtrlR, kAltR, -kAltR},
         {"fnDown@1", "upgrade?@2", "contextUp@4"},
         "KEY_RIGHTCTRL"},
        // Chords: the key used as AltGr starts and locks nothing.
        {"typing key while held",
         accept,
         {kAltR, kKeyE, -kKeyE, kKeyE, -kKeyE, -kAltR, kAltR, -kAltR},
         {"fnDown@1", "chordCancel@2", "fnDown@7", "fnUp@8"}},
        {"two quick chords",
         accept,
         {kAltR, kKeyE, -kKeyE, -kAltR, kAltR, kKeyE, -kKeyE, -kAltR},
         {"fnDown@1", "chordCancel@2", "fnDown@5", "chordCancel@6"}},
        {"Control after a chord",
         accept,
         {kAltR, kKeyE, kCtrlL, -kAltR},
         {"fnDown@1", "chordCancel@2"}},
        {"typing key in a contextual gesture",
         accept,
         {kCtrlL, kAltR, kKeyE, -kKeyE, -kAltR},
         {"contextDown@2", "contextUp@5"}},
        // A click or drag with the key held is a chord too; scrolling is not.
        {"click while held",
         accept,
         {kAltR, kClick, -kClick, -kAltR},
         {"fnDown@1", "chordCancel@2"}},
        {"wheel while held",
         accept,
         {kAltR, kWheelDown, -kWheelDown, -kAltR},
         {"fnDown@1", "fnUp@4"}},
        {"click in a contextual gesture",
         accept,
         {kCtrlL, kAltR, kClick, -kClick, -kAltR},
         {"contextDown@2", "contextUp@5"}},
        {"button held since before the Fn key",
         accept,
         {kClick, kAltR, -kClick, -kAltR},
         {"fnDown@2", "fnUp@4"}},
        {"key held since before the Fn key",
         accept,
         {kKeyE, kAltR, -kKeyE, -kAltR},
         {"fnDown@2", "fnUp@4"}},
    };
    for (const Case& c : cases) {
        makeMonitor(*fnKeyNamed(c.fnKey));
        acceptUpgrade = c.slots == accept;
        if (c.slots == noUpgrade || c.slots == noContext) {
            monitor->onContextUpgrade = nullptr;
        }
        if (c.slots == noContext) {
            monitor->onContextDown = nullptr;
            monitor->onContextUp = nullptr;
        }
        Calls tagged;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            const size_t before = calls.size();
            c.keys[i] > 0 ? press(c.keys[i]) : release(-c.keys[i]);
            for (size_t j = before; j < calls.size(); ++j) {
                tagged.push_back(calls[j] + "@" + std::to_string(i + 1));
            }
        }
        EXPECT_EQ(tagged, c.calls) << c.what;
        EXPECT_FALSE(monitor->activeGesture().has_value()) << c.what;
    }
}

// The agent's own injections.

TEST_F(FnKeyMonitorTest, EachPressOfAModifierKeyGetsOneBlankTapSoItIsNeverALoneTap) {
    struct Case {
        const char* what;
        const char* fnKey;
        std::vector<int> keys;
        size_t taps;
    };
    const std::vector<Case> cases = {
        {"hold", "KEY_RIGHTALT", {kAltR, kAltR, kAltR, -kAltR}, 1},
        {"two taps", "KEY_RIGHTALT", {kAltR, -kAltR, kAltR, -kAltR}, 2},
        {"chord-cancelled", "KEY_RIGHTALT", {kAltR, kKeyE, -kKeyE, -kAltR}, 1},
        {"contextual", "KEY_RIGHTALT", {kCtrlL, kAltR, -kAltR, -kCtrlL}, 1},
        {"Super", "KEY_LEFTMETA", {kSuperL, -kSuperL}, 1},
        {"other keys", "KEY_RIGHTALT", {kAltL, -kAltL, kKeyE, -kKeyE}, 0},
        {"a key that opens no menu", "KEY_F13", {kKeyF13, -kKeyF13}, 0},
    };
    for (const auto& c : cases) {
        makeMonitor(*fnKeyNamed(c.fnKey));
        injected.clear();
        for (int k : c.keys) {
            k > 0 ? press(k) : release(-k);
        }
        EXPECT_EQ(injected.actions().size(), c.taps) << c.what;
    }
}

TEST_F(FnKeyMonitorTest, TheBlankTapComesBeforeTheGestureStarts) {
    monitor->onFnDown = [this] {
        calls.push_back("fnDown after " + std::to_string(injected.actions().size()));
    };
    press(kAltR);
    EXPECT_EQ(calls, Calls{"fnDown after 1"});
}

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
    fake::ActionLog injected{clock};
    fake::FakeKeyInjector injector{injected};
    listener.setAvailable(false);
    FnKeyMonitor monitor(listener, scheduler, journal, injector);
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

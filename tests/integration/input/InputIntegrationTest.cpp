// Key gestures and insertion against the real desktop of the headless session: XTest keys
// reach the monitor; GTK entries receive pastes, selections and password detection
// through EWMH and AT-SPI; the clipboard is served by this process.
// gtest and Qt before Xlib, whose macros (None, Bool) clash with them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "input/FnKeyMonitor.h"
#include "input/InjectionJournal.h"
#include "insert/InsertionTarget.h"
#include "insert/Paster.h"
#include "integration/support/TargetApp.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtClipboard.h"
#include "platform/linux/qt/QtScheduler.h"
#include "platform/linux/x11/EwmhFrontmostApp.h"
#include "platform/linux/x11/XHandles.h"
#include "platform/linux/x11/XInputKeyListener.h"
#include "platform/linux/x11/XTestKeyInjector.h"
#include "support/ChildProcess.h"
#include "support/GestureLog.h"

#include <X11/extensions/XTest.h>

namespace larkspire {
namespace {

using testing::pumpFor;
using testing::pumpUntil;

using Calls = std::vector<std::string>;

// X keycodes of the session's evdev layout.
constexpr int kAltR = 108;
constexpr int kKeyE = 26;

class StderrLog : public platform::SystemLog {
  public:
    void log(const std::string& line) override { std::fprintf(stderr, "log: %s\n", line.c_str()); }
};

// Another program's keyboard: XTest from a connection of the test's own.
class TestKeyboard {
  public:
    TestKeyboard() : display_(linux_desktop::openDisplay()) {}
    void press(int keycode) { fake(keycode, true); }
    void release(int keycode) { fake(keycode, false); }
    // A pointer button pressed and released (1 left, 4 wheel up).
    void click(unsigned button) {
        XTestFakeButtonEvent(display_.get(), button, True, CurrentTime);
        XTestFakeButtonEvent(display_.get(), button, False, CurrentTime);
        XSync(display_.get(), False);
    }

  private:
    void fake(int keycode, bool down) {
        XTestFakeKeyEvent(display_.get(), static_cast<unsigned>(keycode), down, CurrentTime);
        XSync(display_.get(), False);
    }
    linux_desktop::DisplayPtr display_;
};

// The GTK test application.
class TargetApp : public testing::TargetApp {
  public:
    explicit TargetApp(std::vector<std::string> args)
        : testing::TargetApp(GTK_TARGET_PATH, std::move(args)) {}
};

class InputIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(injector.available());
        ASSERT_TRUE(frontmost.available());
    }

    void startMonitor() {
        monitor.setFnKey(*fnKeyNamed("KEY_RIGHTALT"));
        testing::recordGestures(monitor, calls, [] { return true; });
        ASSERT_TRUE(monitor.start());
    }

    // Waits for `expected`, then a little longer so that extra callbacks would show.
    Calls callsAfter(size_t expected) {
        pumpUntil([&] { return calls.size() >= expected; }, 3);
        pumpFor(0.15);
        return calls;
    }

    // Until the application's focused field is known; on a loaded machine its focus event
    // came later than a fixed 0.2 s pause.
    bool waitFocused(pid_t pid) {
        return pumpUntil([&] { return accessibility.focusedElement(pid) != nullptr; }, 5);
    }
    bool waitFront(pid_t pid) { return testing::waitFront(frontmost, pid); }

    StderrLog log;
    linux_desktop::SystemClock clock;
    linux_desktop::QtScheduler scheduler{QCoreApplication::instance()};
    InjectionJournal journal{clock};
    linux_desktop::XInputKeyListener listener{log};
    linux_desktop::XTestKeyInjector injector{[this](int k, bool p) { journal.record(k, p); }};
    linux_desktop::EwmhFrontmostApp frontmost;
    linux_desktop::AtspiAccessibility accessibility{log};
    linux_desktop::QtClipboard clipboard;
    Paster paster{
        InsertionServices{clipboard, injector, frontmost, accessibility, scheduler, clock, log}};
    FnKeyMonitor monitor{listener, scheduler, journal, injector};
    Calls calls;
    TestKeyboard keyboard;
};

TEST_F(InputIntegrationTest, UnderAWaylandSessionTheListenerDoesNotStart) {
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    linux_desktop::XInputKeyListener wayland{log};
    const bool started = wayland.start([](const platform::RawKeyEvent&) {});
    qunsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(started);
    linux_desktop::XInputKeyListener x11{log};
    EXPECT_TRUE(x11.start([](const platform::RawKeyEvent&) {}));
}

TEST_F(InputIntegrationTest, TwoAltGrChordsInQuickSuccessionLockNothing) {
    startMonitor();
    for (int i = 0; i < 2; ++i) {
        keyboard.press(kAltR);
        keyboard.press(kKeyE);
        keyboard.release(kKeyE);
        keyboard.release(kAltR);
    }
    EXPECT_EQ(callsAfter(4), (Calls{"fnDown", "chordCancel", "fnDown", "chordCancel"}));
    EXPECT_FALSE(monitor.fnIsDown());
    EXPECT_FALSE(monitor.activeGesture().has_value());
}

TEST_F(InputIntegrationTest, AClickWithTheKeyHeldCancelsButScrollingDoesNot) {
    startMonitor();
    keyboard.press(kAltR);
    keyboard.click(4);
    keyboard.release(kAltR);
    EXPECT_EQ(callsAfter(2), (Calls{"fnDown", "fnUp"}));
    calls.clear();
    keyboard.press(kAltR);
    keyboard.click(1);
    keyboard.release(kAltR);
    EXPECT_EQ(callsAfter(2), (Calls{"fnDown", "chordCancel"}));
}

TEST_F(InputIntegrationTest, CapturedSelectionIsReplacedByThePasteAndTheClipboardKeepsIt) {
    TargetApp first({"--text", "0123456789", "--select", "5", "8", "--title", "first"});
    ASSERT_TRUE(first.waitReady());
    ASSERT_TRUE(waitFront(first.pid()));
    ASSERT_TRUE(waitFocused(first.pid()));

    const auto t0 = std::chrono::steady_clock::now();
    auto target = InsertionTarget::capture(frontmost, accessibility);
    const auto took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
    std::printf("capture() took %.2f ms (focused element from %s)\n", took.count(),
                accessibility.lastSource());
    ASSERT_TRUE(target);
    EXPECT_EQ(target->processIdentifier, first.pid());
    ASSERT_TRUE(target->focusedElement);
    EXPECT_EQ(target->focusedElement->role(), "AXTextField");
    EXPECT_FALSE(target->isSecure);
    EXPECT_EQ(target->selectedRange, (platform::TextRange{5, 3}));

    // The user moves to another window before the text arrives.
    TargetApp second({"--text", "elsewhere", "--title", "second"});
    ASSERT_TRUE(second.waitReady());
    ASSERT_TRUE(waitFront(second.pid()));

    target->paste("XYZ", paster);
    EXPECT_TRUE(first.waitFor("text 01234XYZ89")) << ::testing::PrintToString(first.lines());
    EXPECT_TRUE(waitFront(first.pid()));
    for (const auto& line : second.lines()) {
        EXPECT_NE(line.rfind("text ", 0), 0u) << "the other window changed: " << line;
    }

    EXPECT_EQ(clipboard.text(), "XYZ");
    // Another client reads the CLIPBOARD selection, served by this process.
    QProcess xclip;
    xclip.start("xclip", {"-o", "-selection", "clipboard"});
    ASSERT_TRUE(pumpUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5));
    EXPECT_EQ(xclip.readAllStandardOutput().toStdString(), "XYZ");
}

TEST_F(InputIntegrationTest, TheFocusCacheForgetsApplicationsThatQuit) {
    {
        TargetApp gone({"--text", "gone", "--title", "gone"});
        ASSERT_TRUE(gone.waitReady());
        ASSERT_TRUE(waitFront(gone.pid()));
        ASSERT_TRUE(pumpUntil([&] { return accessibility.cachedProcesses() == 1; }, 5));
    }
    TargetApp next({"--text", "next", "--title", "next"});
    ASSERT_TRUE(next.waitReady());
    ASSERT_TRUE(waitFront(next.pid()));
    pumpFor(0.3);  // the new application's focus event
    EXPECT_EQ(accessibility.cachedProcesses(), 1u);
}

TEST_F(InputIntegrationTest, FocusIsFoundByWalkingWhenNoFocusEventWasHeard) {
    TargetApp app({"--text", "walk", "--select", "1", "3"});
    ASSERT_TRUE(app.waitReady());
    ASSERT_TRUE(waitFront(app.pid()));
    // A fresh instance has heard no focus event of this application.
    linux_desktop::AtspiAccessibility fresh{log};
    const auto t0 = std::chrono::steady_clock::now();
    auto element = fresh.focusedElement(app.pid());
    const auto took =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0);
    std::printf("focus walk took %.2f ms\n", took.count());
    ASSERT_TRUE(element);
    EXPECT_STREQ(fresh.lastSource(), "walk");
    EXPECT_EQ(element->selectedTextRange(), (platform::TextRange{1, 2}));
}

TEST_F(InputIntegrationTest, TerminalGetsCtrlShiftVAndNoUndoWhileFieldsGetCtrlVAndCtrlZ) {
    {
        TargetApp terminal({"--wmclass", "xfce4-terminal", "--text", "$ "});
        ASSERT_TRUE(terminal.waitReady());
        ASSERT_TRUE(waitFront(terminal.pid()));
        EXPECT_EQ(frontmost.frontmost()->windowInstance, "xfce4-terminal");
        paster.paste("ls");
        EXPECT_TRUE(terminal.waitFor("key ctrl+shift+V"))
            << ::testing::PrintToString(terminal.lines());
        paster.undo();
        pumpFor(0.5);
        for (const auto& line : terminal.lines()) {
            EXPECT_EQ(line.find("key ctrl+z"), std::string::npos) << line;
            EXPECT_EQ(line.find("key ctrl+v"), std::string::npos) << line;
        }
    }
    TargetApp field({"--text", "a"});
    ASSERT_TRUE(field.waitReady());
    ASSERT_TRUE(waitFront(field.pid()));
    paster.paste("b");
    EXPECT_TRUE(field.waitFor("key ctrl+v")) << ::testing::PrintToString(field.lines());
    EXPECT_TRUE(field.waitFor("text b"));  // the focus selected all; the paste replaced it
    paster.undo();
    EXPECT_TRUE(field.waitFor("key ctrl+z"));
}

TEST_F(InputIntegrationTest, TheApplicationSeesABlankKeyWhileTheDictationKeyIsDown) {
    TargetApp app({"--text", ""});
    ASSERT_TRUE(app.waitReady());
    ASSERT_TRUE(waitFront(app.pid()));
    startMonitor();
    keyboard.press(kAltR);
    pumpFor(0.2);
    keyboard.release(kAltR);
    // The blank tap came back through the listener and was known as the agent's own.
    EXPECT_EQ(callsAfter(2), (Calls{"fnDown", "fnUp"}));
    EXPECT_EQ(journal.pending(), 0u);
    // Alt_R, then a key with no symbol while Alt is held: no longer a lone Alt tap.
    EXPECT_TRUE(app.waitFor("key alt+(null)")) << ::testing::PrintToString(app.lines());
    for (const auto& line : app.lines()) {  // and nothing was typed
        EXPECT_FALSE(line.rfind("text", 0) == 0 && line.size() > 5) << line;
    }
}

TEST_F(InputIntegrationTest, PasteWhileTheFnKeyIsHeldMakesNoGestureCallback) {
    TargetApp app({"--text", ""});
    ASSERT_TRUE(app.waitReady());
    ASSERT_TRUE(waitFront(app.pid()));
    startMonitor();
    keyboard.press(kAltR);
    ASSERT_EQ(callsAfter(1), Calls{"fnDown"});

    const auto t0 = std::chrono::steady_clock::now();
    paster.paste("held");
    // Ctrl+V under a held Alt would not paste: the agent waits, then lets Alt go itself.
    EXPECT_TRUE(app.waitFor("text held", 5)) << ::testing::PrintToString(app.lines());
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0);
    std::printf("paste under a held Fn key arrived after %.2f s\n", took.count());
    EXPECT_GE(took.count(), 1.0);
    pumpFor(0.3);
    EXPECT_EQ(calls, Calls{"fnDown"});
    EXPECT_EQ(monitor.activeGesture(), FnKeyMonitor::ActiveGesture::dictation);
    EXPECT_EQ(journal.pending(), 0u);
    // No chord under Alt; the one Alt key is the blank tap (a key with no symbol).
    for (const auto& line : app.lines()) {
        if (line != "key alt+(null)") {
            EXPECT_EQ(line.find("alt+"), std::string::npos) << line;
        }
    }

    // The user's own release still ends the gesture.
    keyboard.release(kAltR);
    EXPECT_EQ(callsAfter(2), (Calls{"fnDown", "fnUp"}));
}

}  // namespace
}  // namespace larkspire

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

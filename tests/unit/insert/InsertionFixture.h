#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "insert/Paster.h"
#include "platform/fake/ActionLog.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeClipboard.h"
#include "platform/fake/FakeFrontmostApp.h"
#include "platform/fake/FakeKeyInjector.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeSystemLog.h"

namespace larkspire::testing {

using Actions = std::vector<std::string>;
using fake::FakeAccessibleElement;

inline constexpr int kAltR = 108;
inline constexpr int kShiftL = 50;
inline constexpr platform::ProcessId kEditorPid = 4242;
inline constexpr platform::WindowId kEditorWindow = 0x600001;

inline platform::FrontWindow editorWindow() {
    return {kEditorWindow, kEditorPid, "Gedit", "gedit", "Text Editor"};
}

inline platform::FrontWindow terminalWindow() {
    return {0x700001, 5151, "Xfce4-terminal", "xfce4-terminal", "Xfce Terminal"};
}

// The desktop's insertion services as fakes that log what they are asked to do, with a
// text editor and a terminal to send text to.
class InsertionFixture : public ::testing::Test {
  protected:
    // Runs the main queue up to `seconds` after the start of the test.
    void runUntil(double seconds) {
        const double now = platform::secondsBetween(start, clock.now());
        scheduler.advance(platform::Duration(seconds - now));
    }
    // The editor in front with its text field focused and `selection` selected.
    void focusEditorField(platform::TextRange selection) {
        frontmost.open(editorWindow());
        accessibility.setFocused(kEditorPid, std::make_shared<FakeAccessibleElement>(
                                                 log, "field", "AXTextField", "", selection));
    }
    // The virtual time of the first logged action that starts with `prefix`.
    double timeOf(const std::string& prefix) const {
        for (const auto& e : log.entries()) {
            if (e.action.rfind(prefix, 0) == 0) {
                return e.seconds;
            }
        }
        return -1;
    }

    fake::VirtualClock clock;
    platform::TimePoint start = clock.now();
    fake::FakeScheduler scheduler{clock};
    fake::ActionLog log{clock};
    fake::FakeClipboard clipboard{&log};
    fake::FakeKeyInjector keys{log};
    fake::FakeFrontmostApp frontmost{log};
    fake::FakeAccessibility accessibility;
    fake::FakeSystemLog systemLog;
    std::unique_ptr<Paster> paster = std::make_unique<Paster>(
        InsertionServices{clipboard, keys, frontmost, accessibility, scheduler, clock, systemLog});
};

}  // namespace larkspire::testing

#include "platform/linux/atspi/AtspiFrontmostApp.h"

#include <unistd.h>

#include "platform/linux/atspi/AtspiCalls.h"
#include "platform/linux/posix/AgentProcesses.h"

namespace larkspire::linux_desktop {
namespace {

using atspi::call;
using atspi::CharPtr;
using atspi::hasState;
using atspi::processOf;

bool hasWindow(AtspiAccessible* application, AtspiStateType state) {
    return atspi::windowInState(application, state) != nullptr;
}

// Calls `visit(application, pid)` for each application on the bus other than the agent's
// own processes, until it returns true.
template <class Visit>
void forEachOtherApplication(const platform::FrontmostApp& self, Visit visit) {
    AccessiblePtr desktop(atspi_get_desktop(0));
    if (!desktop) {
        return;
    }
    auto [apps, ok] =
        call([&](GError** e) { return atspi_accessible_get_child_count(desktop.get(), e); });
    for (gint i = 0; ok && i < apps; ++i) {
        auto [child, got] = call(
            [&](GError** e) { return atspi_accessible_get_child_at_index(desktop.get(), i, e); });
        AccessiblePtr application(child);
        if (!got || !application) {
            continue;
        }
        // The process id comes from the bus daemon, not from the application.
        const platform::ProcessId pid = processOf(application.get());
        if (pid <= 0 || self.isAgentProcess(pid)) {
            continue;
        }
        if (visit(application.get(), pid)) {
            return;
        }
    }
}

platform::FrontWindow describe(AtspiAccessible* application, platform::ProcessId pid) {
    platform::FrontWindow w;
    w.window = static_cast<platform::WindowId>(pid);
    w.processIdentifier = pid;
    w.processName = commandName(pid);
    auto [name, ok] = call([&](GError** e) { return atspi_accessible_get_name(application, e); });
    CharPtr owned(name);
    w.applicationName = ok && owned && *owned ? owned.get() : w.processName;
    return w;
}

}  // namespace

std::optional<platform::FrontWindow> AtspiFrontmostApp::frontmost() {
    std::optional<platform::FrontWindow> front;
    forEachOtherApplication(*this, [&](AtspiAccessible* application, platform::ProcessId pid) {
        if (hasWindow(application, ATSPI_STATE_ACTIVE)) {
            front = describe(application, pid);
        }
        return front.has_value();
    });
    if (front) {
        lastOther_ = front;
    }
    // The agent's own window in front is not on this list: nothing else is active then.
    return front;
}

bool AtspiFrontmostApp::activate(platform::WindowId window) {
    // Wayland lets only the compositor move the focus; the window is there or it is not.
    return window != 0 && windowOf(static_cast<platform::ProcessId>(window)).has_value();
}

std::optional<platform::WindowId> AtspiFrontmostApp::windowOf(platform::ProcessId pid) {
    std::optional<platform::WindowId> found;
    forEachOtherApplication(*this, [&](AtspiAccessible* application, platform::ProcessId p) {
        if (p == pid && hasWindow(application, ATSPI_STATE_SHOWING)) {
            found = static_cast<platform::WindowId>(pid);
        }
        return p == pid;
    });
    return found;
}

std::optional<platform::FrontWindow> AtspiFrontmostApp::lastWindowNotOf(platform::ProcessId pid) {
    if (lastOther_ && lastOther_->processIdentifier != pid &&
        windowOf(lastOther_->processIdentifier)) {
        return lastOther_;
    }
    return std::nullopt;
}

platform::ProcessId AtspiFrontmostApp::ownProcess() const {
    return static_cast<platform::ProcessId>(getpid());
}

bool AtspiFrontmostApp::isAgentProcess(platform::ProcessId pid) const {
    return isThisAgent(pid);
}

}  // namespace larkspire::linux_desktop

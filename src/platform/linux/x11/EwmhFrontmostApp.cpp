#include "platform/linux/x11/EwmhFrontmostApp.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/posix/AgentProcesses.h"
#include "platform/linux/posix/DesktopEntries.h"

namespace larkspire::linux_desktop {

EwmhFrontmostApp::EwmhFrontmostApp() : display_(openDisplay()) {
    if (!display_) {
        return;
    }
    Display* d = display_.get();
    root_ = DefaultRootWindow(d);
    activeWindow_ = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    wmPid_ = XInternAtom(d, "_NET_WM_PID", False);
    clientList_ = XInternAtom(d, "_NET_CLIENT_LIST", False);
    clientListStacking_ = XInternAtom(d, "_NET_CLIENT_LIST_STACKING", False);
    timeProbe_ = XInternAtom(d, "_LARKSPIRE_TIME", False);
    windowType_ = XInternAtom(d, "_NET_WM_WINDOW_TYPE", False);
    typeNormal_ = XInternAtom(d, "_NET_WM_WINDOW_TYPE_NORMAL", False);
    typeDialog_ = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
    wmState_ = XInternAtom(d, "_NET_WM_STATE", False);
    stateHidden_ = XInternAtom(d, "_NET_WM_STATE_HIDDEN", False);
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    clock_ = XCreateWindow(d, root_, -10, -10, 1, 1, 0, CopyFromParent, InputOnly, CopyFromParent,
                           CWEventMask, &attributes);
}

EwmhFrontmostApp::~EwmhFrontmostApp() {
    if (display_ && clock_) {
        XDestroyWindow(display_.get(), clock_);
    }
}

std::vector<unsigned long> EwmhFrontmostApp::cardinals(Window window, Atom property, Atom type) {
    return linux_desktop::cardinals(display_.get(), window, property, type);
}

std::optional<platform::FrontWindow> EwmhFrontmostApp::frontmost() {
    if (!display_) {
        return std::nullopt;
    }
    const auto active = cardinals(root_, activeWindow_, XA_WINDOW);
    if (active.empty() || active[0] == 0) {
        return std::nullopt;
    }
    return describe(active[0]);
}

platform::FrontWindow EwmhFrontmostApp::describe(Window window) {
    platform::FrontWindow w;
    w.window = window;
    if (const auto pid = cardinals(window, wmPid_, XA_CARDINAL); !pid.empty()) {
        w.processIdentifier = static_cast<platform::ProcessId>(pid[0]);
    }
    XClassHint hint{};
    if (XGetClassHint(display_.get(), window, &hint)) {
        XPtr<char> name(hint.res_name);
        XPtr<char> cls(hint.res_class);
        w.windowInstance = name ? name.get() : "";
        w.windowClass = cls ? cls.get() : "";
    }
    w.processName = commandName(w.processIdentifier);
    w.applicationName = applicationName(w);
    return w;
}

std::optional<platform::FrontWindow> EwmhFrontmostApp::lastWindowNotOf(platform::ProcessId pid) {
    if (!display_) {
        return std::nullopt;
    }
    // Activation raises in EWMH window managers: the top-most ordinary window of another
    // process is the one most recently in front. Docks, panels and hidden windows are not.
    const auto stacking = cardinals(root_, clientListStacking_, XA_WINDOW);
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        const auto window = static_cast<Window>(*it);
        const auto owner = cardinals(window, wmPid_, XA_CARDINAL);
        if (owner.empty() || static_cast<platform::ProcessId>(owner[0]) == pid ||
            isAgentHelperOf(static_cast<platform::ProcessId>(owner[0]), pid)) {
            continue;
        }
        const auto types = cardinals(window, windowType_, XA_ATOM);
        if (!types.empty() && types[0] != typeNormal_ && types[0] != typeDialog_) {
            continue;
        }
        const auto states = cardinals(window, wmState_, XA_ATOM);
        if (std::find(states.begin(), states.end(), stateHidden_) != states.end()) {
            continue;
        }
        return describe(window);
    }
    return std::nullopt;
}

std::string EwmhFrontmostApp::applicationName(const platform::FrontWindow& w) const {
    if (auto name = applicationNameOf(w.windowClass, w.windowInstance, applicationDirs())) {
        return *name;
    }
    if (!w.windowClass.empty()) {
        return w.windowClass;
    }
    return w.processName;
}

Time EwmhFrontmostApp::serverTime() {
    // An empty append changes nothing but makes the server send a PropertyNotify
    // stamped with its current time.
    Display* d = display_.get();
    XChangeProperty(d, clock_, timeProbe_, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XEvent ev;
    XWindowEvent(d, clock_, PropertyChangeMask, &ev);
    return ev.xproperty.time;
}

bool EwmhFrontmostApp::activate(platform::WindowId window) {
    if (!display_ || window == 0) {
        return false;
    }
    const auto managed = cardinals(root_, clientList_, XA_WINDOW);
    if (std::find(managed.begin(), managed.end(), window) == managed.end()) {
        return false;
    }
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = static_cast<Window>(window);
    ev.xclient.message_type = activeWindow_;
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = 2;  // source indication: a pager, on the user's behalf
    ev.xclient.data.l[1] = static_cast<long>(serverTime());
    const auto current = cardinals(root_, activeWindow_, XA_WINDOW);
    ev.xclient.data.l[2] = current.empty() ? 0 : static_cast<long>(current[0]);
    XSendEvent(display_.get(), root_, False, SubstructureRedirectMask | SubstructureNotifyMask,
               &ev);
    XSync(display_.get(), False);
    return true;
}

std::optional<platform::WindowId> EwmhFrontmostApp::windowOf(platform::ProcessId pid) {
    if (!display_ || pid <= 0) {
        return std::nullopt;
    }
    // Bottom to top: the last match is the top-most window of the process.
    const auto stacking = cardinals(root_, clientListStacking_, XA_WINDOW);
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        const auto owner = cardinals(static_cast<Window>(*it), wmPid_, XA_CARDINAL);
        if (!owner.empty() && static_cast<platform::ProcessId>(owner[0]) == pid) {
            return *it;
        }
    }
    return std::nullopt;
}

platform::ProcessId EwmhFrontmostApp::ownProcess() const {
    return static_cast<platform::ProcessId>(getpid());
}

bool EwmhFrontmostApp::isAgentProcess(platform::ProcessId pid) const {
    return isThisAgent(pid);
}

}  // namespace larkspire::linux_desktop

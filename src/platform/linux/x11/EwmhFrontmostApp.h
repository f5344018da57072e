#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire::linux_desktop {

// The active window through EWMH (_NET_ACTIVE_WINDOW, _NET_WM_PID) on a display
// connection of its own; activation by a _NET_ACTIVE_WINDOW request as a pager would
// send it (source 2) with a current server time, which window managers with
// focus-stealing prevention honour. Main thread.
class EwmhFrontmostApp : public platform::FrontmostApp {
  public:
    EwmhFrontmostApp();
    ~EwmhFrontmostApp() override;

    bool available() const { return display_ != nullptr; }

    std::optional<platform::FrontWindow> frontmost() override;
    bool activate(platform::WindowId window) override;
    std::optional<platform::WindowId> windowOf(platform::ProcessId pid) override;
    std::optional<platform::FrontWindow> lastWindowNotOf(platform::ProcessId pid) override;
    platform::ProcessId ownProcess() const override;
    bool isAgentProcess(platform::ProcessId pid) const override;

  private:
    std::vector<unsigned long> cardinals(Window window, Atom property, Atom type);
    platform::FrontWindow describe(Window window);
    std::string applicationName(const platform::FrontWindow& w) const;
    Time serverTime();

    DisplayPtr display_;
    Window root_ = 0;
    Window clock_ = 0;  // an unmapped window whose property changes tell the server time
    Atom activeWindow_ = 0;
    Atom wmPid_ = 0;
    Atom clientList_ = 0;
    Atom clientListStacking_ = 0;
    Atom timeProbe_ = 0;
    Atom windowType_ = 0;
    Atom typeNormal_ = 0;
    Atom typeDialog_ = 0;
    Atom wmState_ = 0;
    Atom stateHidden_ = 0;
};

}  // namespace larkspire::linux_desktop

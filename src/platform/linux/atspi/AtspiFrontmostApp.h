#pragma once

#include <optional>

#include "platform/FrontmostApp.h"
#include "platform/linux/atspi/AtspiAccessibility.h"

namespace larkspire::linux_desktop {

// The frontmost application where the display server names none to other clients
// (Wayland): the application on the accessibility bus whose frame is active. A process
// stands for its windows, so window ids are process ids here, and activation is the
// compositor's to grant: it only tells whether the process still shows a window. The
// agent's own processes are never asked (a call into the agent from its main thread
// blocks until the bus times out). Main thread.
class AtspiFrontmostApp : public platform::FrontmostApp {
  public:
    std::optional<platform::FrontWindow> frontmost() override;
    bool activate(platform::WindowId window) override;
    std::optional<platform::WindowId> windowOf(platform::ProcessId pid) override;
    std::optional<platform::FrontWindow> lastWindowNotOf(platform::ProcessId pid) override;
    platform::ProcessId ownProcess() const override;
    bool isAgentProcess(platform::ProcessId pid) const override;

  private:
    // The front window of another application than the agent, remembered from the last
    // frontmost() that found one.
    std::optional<platform::FrontWindow> lastOther_;
};

}  // namespace larkspire::linux_desktop

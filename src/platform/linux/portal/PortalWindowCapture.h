#pragma once

#include "platform/FrontmostApp.h"
#include "platform/SystemLog.h"
#include "platform/WindowCapture.h"
#include "platform/linux/portal/Portal.h"

namespace larkspire::desktop {

// Images through the desktop portal's Screenshot interface, where the compositor lets no
// program copy a window: the portal takes the whole screen (a program cannot ask it for
// one window without a dialog), so the "window" of the application in front is the
// screen, which shows it. The desktop may ask the user the first time; the agent waits
// for the answer. The portal leaves the picture in a file, which is read and deleted at
// once. Main thread.
class PortalWindowCapture : public platform::WindowCapture {
  public:
    PortalWindowCapture(Portal& portal, platform::FrontmostApp& frontmost,
                        platform::SystemLog& log);

    bool canCaptureWindows() const override;
    std::optional<std::vector<platform::WindowDescription>> onScreenWindows() override;
    std::optional<platform::Image> imageOf(platform::WindowId window) override;

  private:
    Portal& portal_;
    platform::FrontmostApp& frontmost_;
    platform::SystemLog& log_;
};

}  // namespace larkspire::desktop

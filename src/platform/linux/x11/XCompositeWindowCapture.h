#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <vector>

#include "platform/WindowCapture.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire::linux_desktop {

// The window manager's stacking list (_NET_CLIENT_LIST_STACKING, front first) and images
// of client windows on a display connection of its own. Images come through XComposite:
// from its start the capture keeps the top-level windows redirected (automatically: the
// server still draws the screen, as a compositing window manager would), so each keeps
// its whole content, covered parts included. Redirecting a window only at the moment of
// the capture gave black where another window covered it, until the application had
// repainted (seen in the headless session). The client area is cut out of its frame.
// Without the extension the image is taken from the screen. Under Wayland, where the X
// server sees only X clients, no image is taken. Main thread.
class XCompositeWindowCapture : public platform::WindowCapture {
  public:
    XCompositeWindowCapture();

    bool canCaptureWindows() const override;
    std::string unavailableReason() const override;
    std::optional<std::vector<platform::WindowDescription>> onScreenWindows() override;
    std::optional<platform::Image> imageOf(platform::WindowId window) override;

  private:
    std::vector<unsigned long> cardinals(Window window, Atom property, Atom type);
    // The layer of a window, or none for desktop backgrounds and hidden windows.
    std::optional<int> layerOf(Window window);
    // The window's ancestor that is a child of the root: the frame of a client window.
    Window topLevelOf(Window window);

    DisplayPtr display_;
    Window root_ = 0;
    bool composite_ = false;
    bool wayland_ = false;
    Atom stacking_ = 0, wmPid_ = 0, windowType_ = 0, wmState_ = 0;
    Atom typeDesktop_ = 0, typeDock_ = 0, typeToolbar_ = 0, typeMenu_ = 0, typeUtility_ = 0,
         typeSplash_ = 0, typeDropdown_ = 0, typePopup_ = 0, typeTooltip_ = 0,
         typeNotification_ = 0, typeCombo_ = 0, typeDnd_ = 0;
    Atom stateHidden_ = 0, stateAbove_ = 0;
};

}  // namespace larkspire::linux_desktop

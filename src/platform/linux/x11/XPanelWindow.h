#pragma once

#include "platform/linux/x11/XHandles.h"

namespace larkspire::linux_desktop {

// What a floating panel needs of the X server beyond what Qt offers: to be on every
// workspace, to know whether a compositing manager runs (only then can it cast a
// translucent shadow), and to let clicks on that shadow through to the windows below.
class XPanelWindow {
  public:
    XPanelWindow();

    // True while a compositing manager owns the screen's _NET_WM_CM_Sn selection.
    bool composited() const;
    // Before `window` is mapped: on every workspace, sticky, out of taskbar and pager.
    // The window manager reads these at map time and drops them when it is withdrawn.
    void showOnEveryWorkspace(unsigned long window) const;
    // Clicks reach `window` only inside this rectangle (window coordinates).
    void setInputArea(unsigned long window, int x, int y, int width, int height) const;

  private:
    DisplayPtr display_;
};

}  // namespace larkspire::linux_desktop

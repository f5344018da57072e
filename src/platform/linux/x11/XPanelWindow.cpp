#include "platform/linux/x11/XPanelWindow.h"

#include <X11/Xatom.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <string>

namespace larkspire::linux_desktop {

XPanelWindow::XPanelWindow() : display_(openDisplay()) {}

bool XPanelWindow::composited() const {
    if (!display_) {
        return false;
    }
    const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_.get()));
    return XGetSelectionOwner(display_.get(), XInternAtom(display_.get(), name.c_str(), False)) !=
           None;
}

void XPanelWindow::showOnEveryWorkspace(unsigned long window) const {
    Display* d = display_.get();
    if (!d) {
        return;
    }
    const unsigned long everyDesktop = 0xFFFFFFFF;
    XChangeProperty(d, window, XInternAtom(d, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&everyDesktop), 1);
    // Added to what the toolkit put there (it keeps "above"), never replacing it.
    const Atom netWmState = XInternAtom(d, "_NET_WM_STATE", False);
    auto states = cardinals(d, window, netWmState, XA_ATOM);
    for (const char* name :
         {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
        const Atom state = XInternAtom(d, name, False);
        if (std::find(states.begin(), states.end(), state) == states.end()) {
            states.push_back(state);
        }
    }
    XChangeProperty(d, window, netWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(states.data()), int(states.size()));
    // Processed before the toolkit maps the window from its own connection.
    XSync(d, False);
}

void XPanelWindow::setInputArea(unsigned long window, int x, int y, int width, int height) const {
    Display* d = display_.get();
    int event = 0;
    int error = 0;
    if (!d || !XShapeQueryExtension(d, &event, &error)) {
        return;
    }
    XRectangle area{short(x), short(y), static_cast<unsigned short>(width),
                    static_cast<unsigned short>(height)};
    XShapeCombineRectangles(d, window, ShapeInput, 0, 0, &area, 1, ShapeSet, Unsorted);
    XSync(d, False);
}

}  // namespace larkspire::linux_desktop

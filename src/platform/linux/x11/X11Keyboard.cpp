#include "platform/linux/x11/X11Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <memory>

namespace larkspire::desktop {

bool rightAltIsAltGr() {
    std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    if (!display) {
        return false;
    }
    constexpr unsigned kRightAltKeycode = 108;  // KEY_RIGHTALT (100) + 8
    return XkbKeycodeToKeysym(display.get(), kRightAltKeycode, 0, 0) == XK_ISO_Level3_Shift;
}

}  // namespace larkspire::desktop

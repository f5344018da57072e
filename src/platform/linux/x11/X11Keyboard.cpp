#include "platform/linux/x11/X11Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <linux/input-event-codes.h>

#include <memory>

#include "platform/KeyListener.h"

namespace larkspire::linux_desktop {

bool rightAltIsAltGr() {
    std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
    if (!display) {
        return false;
    }
    return XkbKeycodeToKeysym(display.get(), platform::xKeycodeOf(KEY_RIGHTALT), 0, 0) ==
           XK_ISO_Level3_Shift;
}

}  // namespace larkspire::linux_desktop

#include "platform/linux/x11/XHandles.h"

#include <cstdlib>
#include <string_view>

namespace larkspire::desktop {
namespace {

// A request about a window that has just gone fails with BadWindow; Xlib's default
// handler would end the process for it.
int ignoreError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

DisplayPtr openDisplay() {
    XSetErrorHandler(ignoreError);
    return DisplayPtr(XOpenDisplay(nullptr));
}

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (type && std::string_view(type) == "wayland") || (wayland && *wayland);
}

}  // namespace larkspire::desktop

#include "platform/linux/x11/XHandles.h"

#include <cstdlib>
#include <string_view>

namespace larkspire::linux_desktop {
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

std::vector<unsigned long> cardinals(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* raw = nullptr;
    const int status = XGetWindowProperty(display, window, property, 0, 4096, False, type,
                                          &actualType, &format, &count, &remaining, &raw);
    XPtr<unsigned char> data(raw);
    if (status != Success || !data || format != 32 || actualType != type) {
        return {};
    }
    // Format-32 properties come back as an array of long.
    const auto* values = reinterpret_cast<const unsigned long*>(data.get());
    return {values, values + count};
}

}  // namespace larkspire::linux_desktop

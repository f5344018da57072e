#include "platform/linux/x11/XHandles.h"

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

}  // namespace larkspire::desktop

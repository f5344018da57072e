#pragma once

#include <X11/Xlib.h>

#include "util/CHandle.h"

namespace larkspire::desktop {

using DisplayPtr = CHandle<Display, XCloseDisplay>;
template <class T>
using XPtr = CHandle<T, XFree>;

// A connection of our own whose errors (a window closed meanwhile) fail the call instead
// of ending the process.
DisplayPtr openDisplay();

// True in a Wayland session, where the X server (XWayland) sees only X applications.
bool waylandSession();

}  // namespace larkspire::desktop

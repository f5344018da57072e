#pragma once

#include <X11/Xlib.h>

#include <vector>

#include "util/CHandle.h"

namespace larkspire::linux_desktop {

using DisplayPtr = CHandle<Display, XCloseDisplay>;
template <class T>
using XPtr = CHandle<T, XFree>;

// A connection of our own whose errors (a window closed meanwhile) fail the call instead
// of ending the process.
DisplayPtr openDisplay();

// A format-32 property of `window` of that type (window ids, atoms, cardinals); empty when
// it is absent, of another type, or the window is gone.
std::vector<unsigned long> cardinals(Display* display, Window window, Atom property, Atom type);

// True in a Wayland session, where the X server (XWayland) sees only X applications.
bool waylandSession();

}  // namespace larkspire::linux_desktop

#pragma once

#include <X11/Xlib.h>

#include <memory>

namespace larkspire::desktop {

struct DisplayCloser {
    void operator()(Display* d) const {
        if (d) {
            XCloseDisplay(d);
        }
    }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreer {
    void operator()(void* p) const {
        if (p) {
            XFree(p);
        }
    }
};
template <class T>
using XPtr = std::unique_ptr<T, XFreer>;

// A connection of our own whose errors (a window closed meanwhile) fail the call instead
// of ending the process.
DisplayPtr openDisplay();

}  // namespace larkspire::desktop

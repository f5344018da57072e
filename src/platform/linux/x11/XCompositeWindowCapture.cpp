#include "platform/linux/x11/XCompositeWindowCapture.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xcomposite.h>

#include <algorithm>

namespace larkspire::linux_desktop {
namespace {

// Layers as the logic knows them: ordinary application windows (dialogs included) are
// 0; windows kept above others 3; docks and panels 20; menus and drop-downs 101;
// notifications and tooltips 200.
constexpr int kNormal = 0;
constexpr int kFloating = 3;
constexpr int kDock = 20;
constexpr int kMenu = 101;
constexpr int kOverlay = 200;

using ImagePtr = CHandle<XImage, [](XImage* image) { XDestroyImage(image); }>;

// The pixels of an XImage as 0xffRRGGBB words.
platform::Image toImage(XImage& x) {
    platform::Image image;
    image.width = x.width;
    image.height = x.height;
    image.pixels.resize(static_cast<size_t>(x.width) * static_cast<size_t>(x.height));
    const bool plain = x.bits_per_pixel == 32 && x.byte_order == LSBFirst &&
                       x.red_mask == 0xff0000 && x.green_mask == 0xff00 && x.blue_mask == 0xff;
    for (int y = 0; y < x.height; ++y) {
        std::uint32_t* out = image.pixels.data() + static_cast<size_t>(y) * x.width;
        if (plain) {
            const auto* row = reinterpret_cast<const std::uint32_t*>(
                x.data + static_cast<ptrdiff_t>(y) * x.bytes_per_line);
            for (int i = 0; i < x.width; ++i) {
                out[i] = row[i] | 0xff000000u;
            }
            continue;
        }
        // Other visuals: through the masks, one pixel at a time.
        auto channel = [](unsigned long pixel, unsigned long mask) -> std::uint32_t {
            if (mask == 0) {
                return 0;
            }
            int shift = 0;
            while (!((mask >> shift) & 1)) {
                ++shift;
            }
            const unsigned long max = mask >> shift;
            return static_cast<std::uint32_t>(((pixel & mask) >> shift) * 255 / max);
        };
        for (int i = 0; i < x.width; ++i) {
            const unsigned long p = XGetPixel(&x, i, y);
            out[i] = 0xff000000u | channel(p, x.red_mask) << 16 | channel(p, x.green_mask) << 8 |
                     channel(p, x.blue_mask);
        }
    }
    return image;
}

}  // namespace

XCompositeWindowCapture::XCompositeWindowCapture()
    : display_(openDisplay()), wayland_(waylandSession()) {
    if (!display_) {
        return;
    }
    Display* d = display_.get();
    root_ = DefaultRootWindow(d);
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 2;
    composite_ = XCompositeQueryExtension(d, &event, &error) &&
                 XCompositeQueryVersion(d, &major, &minor) && (major > 0 || minor >= 2);
    if (composite_ && !wayland_) {
        XCompositeRedirectSubwindows(d, root_, CompositeRedirectAutomatic);
        XSync(d, False);
    }
    auto atom = [d](const char* name) { return XInternAtom(d, name, False); };
    stacking_ = atom("_NET_CLIENT_LIST_STACKING");
    wmPid_ = atom("_NET_WM_PID");
    windowType_ = atom("_NET_WM_WINDOW_TYPE");
    wmState_ = atom("_NET_WM_STATE");
    typeDesktop_ = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    typeDock_ = atom("_NET_WM_WINDOW_TYPE_DOCK");
    typeToolbar_ = atom("_NET_WM_WINDOW_TYPE_TOOLBAR");
    typeMenu_ = atom("_NET_WM_WINDOW_TYPE_MENU");
    typeUtility_ = atom("_NET_WM_WINDOW_TYPE_UTILITY");
    typeSplash_ = atom("_NET_WM_WINDOW_TYPE_SPLASH");
    typeDropdown_ = atom("_NET_WM_WINDOW_TYPE_DROPDOWN_MENU");
    typePopup_ = atom("_NET_WM_WINDOW_TYPE_POPUP_MENU");
    typeTooltip_ = atom("_NET_WM_WINDOW_TYPE_TOOLTIP");
    typeNotification_ = atom("_NET_WM_WINDOW_TYPE_NOTIFICATION");
    typeCombo_ = atom("_NET_WM_WINDOW_TYPE_COMBO");
    typeDnd_ = atom("_NET_WM_WINDOW_TYPE_DND");
    stateHidden_ = atom("_NET_WM_STATE_HIDDEN");
    stateAbove_ = atom("_NET_WM_STATE_ABOVE");
}

bool XCompositeWindowCapture::canCaptureWindows() const {
    return display_ != nullptr && !wayland_;
}

// X11 needs no permission for images of other windows: only a session whose X server
// cannot see other applications (Xwayland under Wayland), or none, lacks them.
std::string XCompositeWindowCapture::unavailableReason() const {
    return canCaptureWindows()
               ? std::string()
               : "Window images need an X11 session: this session cannot capture other windows";
}

std::vector<unsigned long> XCompositeWindowCapture::cardinals(Window window, Atom property,
                                                              Atom type) {
    return linux_desktop::cardinals(display_.get(), window, property, type);
}

std::optional<int> XCompositeWindowCapture::layerOf(Window window) {
    int layer = kNormal;
    for (unsigned long type : cardinals(window, windowType_, XA_ATOM)) {
        if (type == typeDesktop_) {
            return std::nullopt;  // the desktop background is no window of the application
        }
        if (type == typeDock_ || type == typeToolbar_) {
            layer = std::max(layer, kDock);
        } else if (type == typeMenu_ || type == typeDropdown_ || type == typePopup_ ||
                   type == typeCombo_) {
            layer = std::max(layer, kMenu);
        } else if (type == typeTooltip_ || type == typeNotification_ || type == typeDnd_ ||
                   type == typeSplash_) {
            layer = std::max(layer, kOverlay);
        } else if (type == typeUtility_) {
            layer = std::max(layer, kFloating);
        }
    }
    for (unsigned long state : cardinals(window, wmState_, XA_ATOM)) {
        if (state == stateHidden_) {
            return std::nullopt;  // minimised: not on screen
        }
        if (state == stateAbove_) {
            layer = std::max(layer, kFloating);
        }
    }
    return layer;
}

std::optional<std::vector<platform::WindowDescription>> XCompositeWindowCapture::onScreenWindows() {
    if (!canCaptureWindows()) {
        return std::nullopt;
    }
    const auto stacking = cardinals(root_, stacking_, XA_WINDOW);
    std::vector<platform::WindowDescription> out;
    // The list runs bottom to top.
    for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
        const auto window = static_cast<Window>(*it);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display_.get(), window, &attributes) ||
            attributes.map_state != IsViewable) {
            continue;
        }
        const auto layer = layerOf(window);
        if (!layer) {
            continue;
        }
        platform::WindowDescription w;
        w.window = window;
        if (const auto pid = cardinals(window, wmPid_, XA_CARDINAL); !pid.empty()) {
            w.owner = static_cast<platform::ProcessId>(pid[0]);
        }
        w.layer = *layer;
        w.width = attributes.width;
        w.height = attributes.height;
        out.push_back(w);
    }
    return out;
}

Window XCompositeWindowCapture::topLevelOf(Window window) {
    for (int depth = 0; depth < 32; ++depth) {
        Window root = 0;
        Window parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_.get(), window, &root, &parent, &children, &count)) {
            return window;
        }
        XPtr<Window> owned(children);
        if (parent == root || parent == 0) {
            return window;
        }
        window = parent;
    }
    return window;
}

std::optional<platform::Image> XCompositeWindowCapture::imageOf(platform::WindowId id) {
    if (!canCaptureWindows() || id == 0) {
        return std::nullopt;
    }
    Display* d = display_.get();
    const auto window = static_cast<Window>(id);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(d, window, &attributes) || attributes.map_state != IsViewable ||
        attributes.width <= 0 || attributes.height <= 0) {
        return std::nullopt;
    }
    const auto width = static_cast<unsigned>(attributes.width);
    const auto height = static_cast<unsigned>(attributes.height);
    ImagePtr image;
    if (composite_) {
        const Window top = topLevelOf(window);
        int x = 0;
        int y = 0;
        Window child = 0;
        const Pixmap pixmap = XCompositeNameWindowPixmap(d, top);
        if (pixmap && XTranslateCoordinates(d, window, top, 0, 0, &x, &y, &child)) {
            image.reset(XGetImage(d, pixmap, x, y, width, height, AllPlanes, ZPixmap));
        }
        if (pixmap) {
            XFreePixmap(d, pixmap);
        }
    }
    if (!image) {
        image.reset(XGetImage(d, window, 0, 0, width, height, AllPlanes, ZPixmap));
    }
    if (!image) {
        return std::nullopt;
    }
    // An image of a pixmap carries no colour masks: they are the window's visual's.
    if (image->red_mask == 0 && attributes.visual) {
        image->red_mask = attributes.visual->red_mask;
        image->green_mask = attributes.visual->green_mask;
        image->blue_mask = attributes.visual->blue_mask;
    }
    return toImage(*image);
}

}  // namespace larkspire::linux_desktop

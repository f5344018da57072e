#include "platform/linux/x11/XInputKeyListener.h"

#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

namespace larkspire::linux_desktop {

XInputKeyListener::XInputKeyListener(platform::SystemLog& log) : log_(log) {}

XInputKeyListener::~XInputKeyListener() {
    stop();
}

bool XInputKeyListener::start(Handler handler) {
    if (thread_.joinable()) {
        return true;
    }
    // The reasons as the user can act on them; the log keeps the technical line.
    auto unavailable = [this](const char* logLine, const char* reason) {
        log_.log(std::string("Larkspire: keyboard gestures are off: ") + logLine);
        reason_ = reason;
        return false;
    };
    if (waylandSession()) {
        return unavailable("under Wayland the X server hears only X applications",
                           "This is a Wayland session: the X server hears only the keys of X "
                           "applications. Log in to an X11 session to dictate everywhere.");
    }
    auto display = openDisplay();
    if (!display) {
        return unavailable("no X display",
                           "There is no X display: the agent can hear keys only in an X11 "
                           "session.");
    }
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display.get(), "XInputExtension", &xiOpcode_, &event, &error)) {
        return unavailable("the X server has no XInput extension",
                           "The X server has no XInput extension, through which the agent "
                           "hears keys.");
    }
    int major = 2;
    int minor = 2;
    if (XIQueryVersion(display.get(), &major, &minor) != Success || major < 2) {
        return unavailable("the X server offers no XInput 2",
                           "The X server offers no XInput 2, through which the agent hears "
                           "keys.");
    }
    reason_.clear();

    // The slave devices fed by XTest: their events are injected, not typed.
    syntheticDevices_.clear();
    int count = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(display.get(), XIAllDevices, &count)) {
        for (int i = 0; i < count; ++i) {
            if ((devices[i].use == XISlaveKeyboard || devices[i].use == XISlavePointer) &&
                std::strstr(devices[i].name, "XTEST")) {
                syntheticDevices_.insert(devices[i].deviceid);
            }
        }
        XIFreeDeviceInfo(devices);
    }

    // Master devices only: each key or button then arrives once, with the slave as its source.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawKeyPress);
    XISetMask(bits, XI_RawKeyRelease);
    XISetMask(bits, XI_RawButtonPress);
    XISetMask(bits, XI_RawButtonRelease);
    XIEventMask mask{XIAllMasterDevices, sizeof(bits), bits};
    XISelectEvents(display.get(), DefaultRootWindow(display.get()), &mask, 1);
    XSync(display.get(), False);

    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        log_.log("Larkspire: keyboard gestures are off: no event descriptor");
        return false;
    }
    display_ = std::move(display);
    handler_ = std::move(handler);
    thread_ = std::thread([this] { run(); });
    return true;
}

void XInputKeyListener::stop() {
    if (!thread_.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof(one));
    thread_.join();
    close(wakeFd_);
    wakeFd_ = -1;
    display_.reset();
    handler_ = nullptr;
}

void XInputKeyListener::run() {
    Display* d = display_.get();
    pollfd fds[2] = {{ConnectionNumber(d), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    for (;;) {
        while (XPending(d) > 0) {
            XEvent ev;
            XNextEvent(d, &ev);
            XGenericEventCookie* cookie = &ev.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode_ ||
                !XGetEventData(d, cookie)) {
                continue;
            }
            const int type = cookie->evtype;
            if (type == XI_RawKeyPress || type == XI_RawKeyRelease || type == XI_RawButtonPress ||
                type == XI_RawButtonRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                const bool button = type == XI_RawButtonPress || type == XI_RawButtonRelease;
                handler_(platform::RawKeyEvent{raw->detail,
                                               type == XI_RawKeyPress || type == XI_RawButtonPress,
                                               syntheticDevices_.contains(raw->sourceid), button});
            }
            XFreeEventData(d, cookie);
        }
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents & POLLIN) {
            return;
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) {
            log_.log("Larkspire: the X connection of the key listener closed");
            return;
        }
    }
}

}  // namespace larkspire::linux_desktop

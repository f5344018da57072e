#include "platform/linux/evdev/EvdevKeyListener.h"

#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <optional>
#include <vector>

#include "platform/linux/evdev/UinputKeyInjector.h"

namespace larkspire::linux_desktop {
namespace {

constexpr int kLongBits = sizeof(unsigned long) * CHAR_BIT;
using KeyBits = std::array<unsigned long, (KEY_MAX + kLongBits) / kLongBits>;

bool has(const KeyBits& bits, int code) {
    return (bits[static_cast<std::size_t>(code / kLongBits)] >> (code % kLongBits)) & 1UL;
}

// Key codes are in three blocks; the codes between them are the buttons of pointers,
// touch surfaces, pens and game pads.
bool isKey(int code) {
    return (code > KEY_RESERVED && code < BTN_MISC) || (code >= KEY_OK && code < BTN_DPAD_UP) ||
           (code >= KEY_ALS_TOGGLE && code < BTN_TRIGGER_HAPPY);
}

// The pointer buttons by the numbers X gives them (4 to 7 are its wheel); 0 for the
// buttons that are no click (a touchpad's touch, a pen's tip, a game pad's).
int xButton(int code) {
    switch (code) {
        case BTN_LEFT:
            return 1;
        case BTN_MIDDLE:
            return 2;
        case BTN_RIGHT:
            return 3;
        default:
            return code >= BTN_SIDE && code <= BTN_TASK ? code - BTN_SIDE + 8 : 0;
    }
}

std::optional<platform::RawKeyEvent> rawKeyEvent(const input_event& event, bool synthetic) {
    // Value 2 is the kernel's autorepeat of a held key, not a transition.
    if (event.type != EV_KEY || (event.value != 0 && event.value != 1)) {
        return std::nullopt;
    }
    const bool pressed = event.value == 1;
    if (isKey(event.code)) {
        return platform::RawKeyEvent{platform::xKeycodeOf(event.code), pressed, synthetic};
    }
    if (const int button = xButton(event.code)) {
        return platform::RawKeyEvent{button, pressed, synthetic, true};
    }
    return std::nullopt;
}

// Keyboards, mice, and the keys of other devices (a laptop's hotkeys, where Fn may be).
// Only evdev nodes answer the capability query: a node that does not (a pipe a test puts
// in place of a keyboard) is read as it is.
bool reportsKeys(int fd) {
    KeyBits bits{};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(bits)), bits.data()) < 0) {
        return errno == ENOTTY;
    }
    if (has(bits, BTN_LEFT)) {
        return true;
    }
    for (int code = KEY_ESC; code < KEY_MAX; ++code) {
        if (isKey(code) && has(bits, code)) {
            return true;
        }
    }
    return false;
}

bool isOwnKeyboard(int fd) {
    std::array<char, 256> name{};
    return ioctl(fd, EVIOCGNAME(name.size() - 1), name.data()) >= 0 &&
           std::string_view(name.data()) == UinputKeyInjector::deviceName;
}

}  // namespace

EvdevKeyListener::EvdevKeyListener(platform::SystemLog& log, std::filesystem::path folder)
    : log_(log), folder_(std::move(folder)) {}

EvdevKeyListener::~EvdevKeyListener() {
    stop();
}

EvdevKeyListener::Opened EvdevKeyListener::open(const std::string& name) {
    const int fd = ::open((folder_ / name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno == EACCES || errno == EPERM ? Opened::unreadable : Opened::skipped;
    }
    if (!reportsKeys(fd)) {
        close(fd);
        return Opened::skipped;
    }
    devices_.emplace_back(fd, name, isOwnKeyboard(fd));
    return Opened::reading;
}

bool EvdevKeyListener::start(Handler handler) {
    if (thread_.joinable()) {
        return true;
    }
    const std::string where = folder_.string();
    auto unavailable = [this](const std::string& logLine, const std::string& reason) {
        log_.log("Larkspire: keyboard gestures are off: " + logLine);
        reason_ = reason;
        devices_.clear();
        return false;
    };

    devices_.clear();
    int nodes = 0;
    int unreadable = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("event")) {
            ++nodes;
            unreadable += open(name) == Opened::unreadable ? 1 : 0;
        }
    }
    if (devices_.empty()) {
        if (unreadable > 0) {
            return unavailable(
                std::to_string(unreadable) + " input devices in " + where + " are not readable",
                "Larkspire cannot read the keyboard devices in " + where +
                    ": add your user to the “input” group (sudo usermod -aG input $USER), then "
                    "log out and back in.");
        }
        if (nodes == 0) {
            return unavailable(
                "no input devices in " + where,
                "There are no input devices in " + where + ": Larkspire cannot hear the keyboard.");
        }
        return unavailable(
            "no input device in " + where + " has keys",
            "No input device in " + where + " has keys: Larkspire cannot hear the keyboard.");
    }

    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        return unavailable("no event descriptor", "Larkspire could not listen to the keyboard.");
    }
    wake_.emplace(wake);
    // Device nodes appear root-only and get their group a moment later: both are watched.
    const int added = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (added >= 0) {
        added_.emplace(added);
        if (inotify_add_watch(added, folder_.c_str(), IN_CREATE | IN_ATTRIB) < 0) {
            added_.reset();
        }
    }
    reason_.clear();
    log_.log("Larkspire: hearing keys from " + std::to_string(devices_.size()) +
             " input devices in " + where);
    handler_ = std::move(handler);
    thread_ = std::thread([this] { run(); });
    return true;
}

void EvdevKeyListener::stop() {
    if (!thread_.joinable()) {
        return;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = write(wake_->get(), &one, sizeof(one));
    thread_.join();
    wake_.reset();
    added_.reset();
    devices_.clear();
    handler_ = nullptr;
}

bool EvdevKeyListener::drain(Device& device) {
    std::array<input_event, 64> events;
    for (;;) {
        const ssize_t n = read(device.fd.get(), events.data(), sizeof(events));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            // ENODEV: unplugged.
            return errno == EAGAIN;
        }
        if (n == 0) {
            return false;
        }
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof(input_event); ++i) {
            if (auto event = rawKeyEvent(events[i], device.synthetic)) {
                handler_(*event);
            }
        }
    }
}

void EvdevKeyListener::openAdded() {
    alignas(inotify_event) std::array<char, 4096> buffer;
    for (;;) {
        const ssize_t n = read(added_->get(), buffer.data(), buffer.size());
        if (n <= 0) {
            return;
        }
        for (ssize_t at = 0; at < n;) {
            const auto* change = reinterpret_cast<const inotify_event*>(buffer.data() + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + change->len);
            const std::string name = change->len > 0 ? change->name : "";
            const bool known = std::any_of(devices_.begin(), devices_.end(),
                                           [&](const Device& d) { return d.node == name; });
            if (name.starts_with("event") && !known && open(name) == Opened::reading) {
                log_.log("Larkspire: hearing keys from " + (folder_ / name).string() + " too");
            }
        }
    }
}

void EvdevKeyListener::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.assign({{wake_->get(), POLLIN, 0}, {added_ ? added_->get() : -1, POLLIN, 0}});
        for (const Device& device : devices_) {
            fds.push_back({device.fd.get(), POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            log_.log("Larkspire: the key listener stopped: poll failed");
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        auto ready = fds.begin() + 2;
        for (auto device = devices_.begin(); device != devices_.end(); ++ready) {
            const short events = ready->revents;
            if (events == 0 || (drain(*device) && !(events & (POLLERR | POLLHUP | POLLNVAL)))) {
                ++device;
                continue;
            }
            log_.log("Larkspire: input device " + (folder_ / device->node).string() + " went away");
            device = devices_.erase(device);
        }
        // After the devices: a node that replaced one just gone is opened anew.
        if (fds[1].revents != 0) {
            openAdded();
        }
    }
}

}  // namespace larkspire::linux_desktop

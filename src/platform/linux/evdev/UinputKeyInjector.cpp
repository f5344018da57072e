#include "platform/linux/evdev/UinputKeyInjector.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/linux/common/ChordInputCodes.h"

namespace larkspire::linux_desktop {
namespace {

// KEY_UNKNOWN: no symbol at any level in the xkeyboard-config layouts us, de, fr, gb, ch,
// br, ru, jp and us(dvorak) (measured with xkbcommon), and the highest such key.
constexpr int kBlankKey = KEY_UNKNOWN;

// The first events of a new device are lost until the X server or compositor has opened
// it. Not measured here (no input devices on the build machine): the kernel's uinput
// documentation pauses 1 s after creating a device in its example for this reason.
// Waited only by a chord sent that soon after creation.
constexpr std::chrono::seconds kRegistration{1};

input_event inputEvent(unsigned short type, unsigned short code, int value) {
    input_event event{};
    event.type = type;
    event.code = code;
    event.value = value;
    return event;
}

// A keyboard with every key below the buttons: udev tags a device as a full keyboard only
// when it has the keys Esc to D, and release() may be asked for any key.
bool makeKeyboard(int fd) {
    if (ioctl(fd, UI_SET_EVBIT, EV_KEY) < 0) {
        return false;
    }
    for (int code = KEY_ESC; code < BTN_MISC; ++code) {
        if (ioctl(fd, UI_SET_KEYBIT, code) < 0) {
            return false;
        }
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, UinputKeyInjector::deviceName, UINPUT_MAX_NAME_SIZE - 1);
    return ioctl(fd, UI_DEV_SETUP, &setup) >= 0 && ioctl(fd, UI_DEV_CREATE) >= 0;
}

}  // namespace

UinputKeyInjector::UinputKeyInjector(SendObserver beforeSend,
                                     const std::vector<std::filesystem::path>& nodes)
    : beforeSend_(std::move(beforeSend)) {
    std::string refused;  // the node that exists but may not be opened
    for (const auto& node : nodes) {
        const int fd = ::open(node.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM) {
                refused = node.string();
            }
            continue;
        }
        if (!makeKeyboard(fd)) {
            const int error = errno;
            close(fd);
            reason_ = "Larkspire could not make its virtual keyboard on " + node.string() + " (" +
                      std::strerror(error) + ").";
            return;
        }
        device_.emplace(fd);
        readyAt_ = std::chrono::steady_clock::now() + kRegistration;
        return;
    }
    if (!refused.empty()) {
        reason_ = "Larkspire cannot write to " + refused +
                  ", through which it types: let the “input” group write to it with a udev "
                  "rule (KERNEL==\"uinput\", GROUP=\"input\", MODE=\"0660\", "
                  "OPTIONS+=\"static_node=uinput\" in a file in /etc/udev/rules.d), add your "
                  "user to that group (sudo usermod -aG input $USER), then log out and back in.";
    } else {
        reason_ =
            "There is no /dev/uinput, through which Larkspire types: load the uinput kernel "
            "module (sudo modprobe uinput).";
    }
}

UinputKeyInjector::UinputKeyInjector(SendObserver beforeSend, int events)
    : beforeSend_(std::move(beforeSend)), device_(std::in_place, events) {}

bool UinputKeyInjector::send(const std::vector<std::pair<int, bool>>& transitions) {
    if (!device_ || transitions.empty()) {
        return false;
    }
    std::this_thread::sleep_until(readyAt_);
    std::vector<input_event> events;
    for (const auto& [code, pressed] : transitions) {
        if (beforeSend_) {
            beforeSend_(platform::xKeycodeOf(code), pressed);
        }
        events.push_back(inputEvent(EV_KEY, static_cast<unsigned short>(code), pressed ? 1 : 0));
        events.push_back(inputEvent(EV_SYN, SYN_REPORT, 0));
    }
    // uinput takes whole events only; a write it refuses loses the chord, as a lost X
    // connection would.
    return fileio::writeAll(device_->get(), events.data(), events.size() * sizeof(input_event)) ==
           0;
}

void UinputKeyInjector::release(const std::vector<int>& keycodes) {
    std::vector<std::pair<int, bool>> transitions;
    for (int keycode : keycodes) {
        const int code = platform::inputCodeOf(keycode);
        if (code >= KEY_ESC && code < BTN_MISC) {
            transitions.emplace_back(code, false);
        }
    }
    send(transitions);
}

bool UinputKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    std::vector<std::pair<int, bool>> transitions;
    for (auto key : keys) {
        transitions.emplace_back(chordInputCode(key), true);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        transitions.emplace_back(chordInputCode(*key), false);
    }
    return send(transitions);
}

void UinputKeyInjector::tapBlankKey() {
    send({{kBlankKey, true}, {kBlankKey, false}});
}

}  // namespace larkspire::linux_desktop

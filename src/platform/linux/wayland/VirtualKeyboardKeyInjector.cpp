#include "platform/linux/wayland/VirtualKeyboardKeyInjector.h"

#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/linux/common/ChordInputCodes.h"

#include "protocols/virtual-keyboard-unstable-v1-client.h"

namespace larkspire::linux_desktop {
namespace {

// Milliseconds on one clock for every event of the keyboard, as the protocol asks.
std::uint32_t now() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// A sealed-off copy of the keymap text for the compositor to map; -1 on failure.
int keymapFile(const char* text, std::size_t size) {
    const int fd = memfd_create("larkspire-keymap", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text + written, size - written);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        written += static_cast<std::size_t>(n);
    }
    return fd;
}

}  // namespace

void VirtualKeyboardKeyInjector::Destroy::operator()(zwp_virtual_keyboard_v1* keyboard) const {
    zwp_virtual_keyboard_v1_destroy(keyboard);
}

VirtualKeyboardKeyInjector::VirtualKeyboardKeyInjector(WaylandConnection& connection)
    : connection_(connection), context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (!context_ || !connection.virtualKeyboards() || !connection.seat()) {
        return;
    }
    // No names: xkbcommon takes the XKB_DEFAULT_* variables, else evdev rules and "us".
    keymap_.reset(xkb_keymap_new_from_names(context_.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap_) {
        return;
    }
    state_.reset(xkb_state_new(keymap_.get()));
    CHandle<char, std::free> text(
        xkb_keymap_get_as_string(keymap_.get(), XKB_KEYMAP_FORMAT_TEXT_V1));
    if (!state_ || !text) {
        return;
    }
    const std::size_t size = std::strlen(text.get()) + 1;
    const int fd = keymapFile(text.get(), size);
    if (fd < 0) {
        return;
    }
    keyboard_.reset(zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(
        connection.virtualKeyboards(), connection.seat()));
    // The request carries a duplicate of the descriptor.
    zwp_virtual_keyboard_v1_keymap(keyboard_.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<std::uint32_t>(size));
    close(fd);
    // A key sent before the compositor has taken the keymap is lost.
    connection.roundtrip();

    // A key with no symbol at any level: its tap types nothing.
    for (xkb_keycode_t k = xkb_keymap_max_keycode(keymap_.get());
         k > xkb_keymap_min_keycode(keymap_.get()) && blankKeycode_ == 0; --k) {
        if (xkb_keymap_key_get_name(keymap_.get(), k) &&
            xkb_keymap_num_levels_for_key(keymap_.get(), k, 0) <= 1) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap_.get(), k, 0, 0, &syms) == 0) {
                blankKeycode_ = k;
            }
        }
    }
}

VirtualKeyboardKeyInjector::~VirtualKeyboardKeyInjector() {
    keyboard_.reset();
    connection_.flush();
}

xkb_keycode_t VirtualKeyboardKeyInjector::keycodeOf(platform::ChordKey key) const {
    const ChordKeyCode code = chordKeyCode(key);
    if (code.bySymbol) {
        for (xkb_keycode_t k = xkb_keymap_min_keycode(keymap_.get());
             k <= xkb_keymap_max_keycode(keymap_.get()); ++k) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap_.get(), k, 0, 0, &syms);
            if (count == 1 && syms[0] == code.symbol) {
                return k;
            }
        }
    }
    return static_cast<xkb_keycode_t>(platform::xKeycodeOf(code.inputCode));
}

void VirtualKeyboardKeyInjector::send(xkb_keycode_t keycode, bool pressed) {
    zwp_virtual_keyboard_v1_key(
        keyboard_.get(), now(),
        static_cast<std::uint32_t>(platform::inputCodeOf(static_cast<int>(keycode))),
        pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    // The modifier state as a keyboard reports it, from the keymap's own rules.
    xkb_state_update_key(state_.get(), keycode, pressed ? XKB_KEY_DOWN : XKB_KEY_UP);
    zwp_virtual_keyboard_v1_modifiers(
        keyboard_.get(), xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(state_.get(), XKB_STATE_MODS_LOCKED),
        xkb_state_serialize_layout(state_.get(), XKB_STATE_LAYOUT_EFFECTIVE));
}

bool VirtualKeyboardKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    if (!keyboard_) {
        return false;
    }
    for (platform::ChordKey key : keys) {
        send(keycodeOf(key), true);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        send(keycodeOf(*key), false);
    }
    connection_.flush();
    return true;
}

void VirtualKeyboardKeyInjector::tapBlankKey() {
    if (!keyboard_ || blankKeycode_ == 0) {
        return;
    }
    send(blankKeycode_, true);
    send(blankKeycode_, false);
    connection_.flush();
}

}  // namespace larkspire::linux_desktop

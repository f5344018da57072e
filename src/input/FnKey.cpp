#include "input/FnKey.h"

#include <linux/input-event-codes.h>

#include <array>

namespace larkspire {
namespace {

struct KeyName {
    std::string_view inputName;
    int code;
    std::string_view displayName;
};

// Keys that make sense to hold for dictation: modifiers and keys that type nothing.
constexpr std::array kKeys{
    KeyName{"KEY_RIGHTALT", KEY_RIGHTALT, "Right Alt"},
    KeyName{"KEY_LEFTALT", KEY_LEFTALT, "Left Alt"},
    KeyName{"KEY_RIGHTCTRL", KEY_RIGHTCTRL, "Right Ctrl"},
    KeyName{"KEY_LEFTCTRL", KEY_LEFTCTRL, "Left Ctrl"},
    KeyName{"KEY_RIGHTMETA", KEY_RIGHTMETA, "Right Super"},
    KeyName{"KEY_LEFTMETA", KEY_LEFTMETA, "Left Super"},
    KeyName{"KEY_RIGHTSHIFT", KEY_RIGHTSHIFT, "Right Shift"},
    KeyName{"KEY_LEFTSHIFT", KEY_LEFTSHIFT, "Left Shift"},
    KeyName{"KEY_CAPSLOCK", KEY_CAPSLOCK, "Caps Lock"},
    KeyName{"KEY_COMPOSE", KEY_COMPOSE, "Menu"},
    KeyName{"KEY_MENU", KEY_MENU, "Menu"},
    KeyName{"KEY_SCROLLLOCK", KEY_SCROLLLOCK, "Scroll Lock"},
    KeyName{"KEY_PAUSE", KEY_PAUSE, "Pause"},
    KeyName{"KEY_INSERT", KEY_INSERT, "Insert"},
    KeyName{"KEY_SYSRQ", KEY_SYSRQ, "Print Screen"},
    KeyName{"KEY_FN", KEY_FN, "Fn"},
    KeyName{"KEY_F1", KEY_F1, "F1"},
    KeyName{"KEY_F2", KEY_F2, "F2"},
    KeyName{"KEY_F3", KEY_F3, "F3"},
    KeyName{"KEY_F4", KEY_F4, "F4"},
    KeyName{"KEY_F5", KEY_F5, "F5"},
    KeyName{"KEY_F6", KEY_F6, "F6"},
    KeyName{"KEY_F7", KEY_F7, "F7"},
    KeyName{"KEY_F8", KEY_F8, "F8"},
    KeyName{"KEY_F9", KEY_F9, "F9"},
    KeyName{"KEY_F10", KEY_F10, "F10"},
    KeyName{"KEY_F11", KEY_F11, "F11"},
    KeyName{"KEY_F12", KEY_F12, "F12"},
    KeyName{"KEY_F13", KEY_F13, "F13"},
    KeyName{"KEY_F14", KEY_F14, "F14"},
    KeyName{"KEY_F15", KEY_F15, "F15"},
    KeyName{"KEY_F16", KEY_F16, "F16"},
    KeyName{"KEY_F17", KEY_F17, "F17"},
    KeyName{"KEY_F18", KEY_F18, "F18"},
    KeyName{"KEY_F19", KEY_F19, "F19"},
    KeyName{"KEY_F20", KEY_F20, "F20"},
    KeyName{"KEY_F21", KEY_F21, "F21"},
    KeyName{"KEY_F22", KEY_F22, "F22"},
    KeyName{"KEY_F23", KEY_F23, "F23"},
    KeyName{"KEY_F24", KEY_F24, "F24"},
};

}  // namespace

std::optional<FnKey> fnKeyNamed(std::string_view inputKeyName) {
    for (const auto& k : kKeys) {
        if (k.inputName == inputKeyName) {
            return FnKey{k.code, std::string(k.displayName)};
        }
    }
    return std::nullopt;
}

FnKey chooseFnKey(const std::optional<std::string>& configured, bool rightAltIsAltGr,
                  platform::SystemLog& log) {
    const FnKey fallback = *fnKeyNamed(rightAltIsAltGr ? "KEY_RIGHTCTRL" : "KEY_RIGHTALT");
    if (!configured) {
        return fallback;
    }
    if (auto key = fnKeyNamed(*configured)) {
        return *key;
    }
    log.log("Unknown fn_key \"" + *configured + "\" in ~/.vantrel/config.json; using " +
            fallback.displayName);
    return fallback;
}

}  // namespace larkspire

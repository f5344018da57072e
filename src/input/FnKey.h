#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/SystemLog.h"

namespace larkspire {

// The physical key that plays the Fn role: a Linux input key code (X keycode = code + 8)
// and the name users read in messages ("Right Alt").
struct FnKey {
    int inputCode = 0;
    std::string displayName;

    bool operator==(const FnKey&) const = default;
};

// The key behind a Linux input key name such as "KEY_RIGHTALT"; absent for unknown names.
std::optional<FnKey> fnKeyNamed(std::string_view inputKeyName);

// The configured key, or the default: Right Alt, unless the layout makes Right Alt the
// AltGr key (typing would then trigger dictation), where Right Ctrl takes its place.
// A configured name that names no key is logged and the default applies.
FnKey chooseFnKey(const std::optional<std::string>& configured, bool rightAltIsAltGr,
                  platform::SystemLog& log);

}  // namespace larkspire

#include "insert/TerminalEmulators.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>

namespace larkspire {
namespace {

// WM_CLASS names (instance or class, lower-cased) of terminal emulators. The one list.
constexpr std::array<std::string_view, 37> kTerminals{
    "xterm",
    "uxterm",
    "gnome-terminal",
    "gnome-terminal-server",
    "org.gnome.terminal",
    "kgx",
    "org.gnome.console",
    "konsole",
    "org.kde.konsole",
    "yakuake",
    "xfce4-terminal",
    "lxterminal",
    "mate-terminal",
    "qterminal",
    "terminator",
    "tilix",
    "com.gexperts.tilix",
    "guake",
    "tilda",
    "sakura",
    "terminology",
    "alacritty",
    "kitty",
    "wezterm",
    "org.wezfurlong.wezterm",
    "foot",
    "footclient",
    "urxvt",
    "rxvt",
    "st",
    "st-256color",
    "eterm",
    "cool-retro-term",
    "deepin-terminal",
    "io.elementary.terminal",
    "com.mitchellh.ghostty",
    "blackbox",
};

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool listed(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    const std::string key = lower(name);
    return std::find(kTerminals.begin(), kTerminals.end(), key) != kTerminals.end();
}

}  // namespace

bool isTerminalEmulator(const platform::FrontWindow& window) {
    return listed(window.windowClass) || listed(window.windowInstance);
}

}  // namespace larkspire

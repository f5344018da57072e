#pragma once

#include <cstdint>
#include <string>

namespace larkspire::linux_desktop {

// What a Wayland session offers the agent, as found at start.
struct WaylandSessionFacts {
    std::string desktop;  // $XDG_CURRENT_DESKTOP: "GNOME", "KDE", "sway", "Hyprland"…
    // The compositor's own protocols (wlroots compositors; data control on Plasma too).
    bool virtualKeyboard = false;
    bool dataControl = false;
    bool screencopy = false;
    bool swayTree = false;  // sway's window tree, which places windows for screencopy
    // Interface versions of the desktop portal; 0 where absent.
    std::uint32_t globalShortcuts = 0;
    std::uint32_t remoteDesktop = 0;
    std::uint32_t clipboardPortal = 0;
    // The user's explicit choices in the configuration: "key_source" "evdev" or
    // "portal", "paste_through" "uinput" or "portal"; empty for the automatic choice.
    // evdev and uinput report for themselves why they cannot be used.
    std::string keySource;
    std::string pasteThrough;
};

// The services the agent uses in a Wayland session, and for a missing one, what the
// user can do about it in the session's own terms.
struct WaylandBackends {
    enum class Keys { compositorBindings, shortcutsPortal, evdev, none };
    enum class Paste { virtualKeyboard, remoteDesktop, uinput, none };
    enum class Copy { dataControl, clipboardPortal, focusedOnly };
    enum class Images { screencopy, none };
    Keys keys = Keys::none;
    Paste paste = Paste::none;
    Copy clipboard = Copy::focusedOnly;
    Images images = Images::none;
    std::string keysProblem;   // why no key can be heard; empty when one can
    std::string pasteProblem;  // why nothing can be pasted; empty when it can

    static WaylandBackends choose(const WaylandSessionFacts& facts);
    // The choice as one line of the log ("keys from the compositor's bindings…").
    std::string describe() const;
};

}  // namespace larkspire::linux_desktop

#include "platform/linux/wayland/WaylandBackends.h"

namespace larkspire::linux_desktop {
namespace {

constexpr const char* kEvdevAdvice =
    "add \"key_source\": \"evdev\" to ~/.vantrel/config.json and join the “input” group "
    "(sudo usermod -aG input $USER, then log in again)";

std::string keysProblemOf(const std::string& desktop) {
    if (desktop.find("GNOME") != std::string::npos) {
        return std::string(
                   "GNOME lets a program in the background have a keyboard shortcut only "
                   "from version 48 on (its desktop portal has no global shortcuts here). "
                   "Update to GNOME 48 or later, log in to a “GNOME on Xorg” session, or ") +
               kEvdevAdvice + ".";
    }
    if (desktop.find("KDE") != std::string::npos) {
        return std::string(
                   "This Plasma session’s desktop portal offers no global shortcuts: install "
                   "xdg-desktop-portal-kde (Plasma 5.27 or later) and log in again, or ") +
               kEvdevAdvice + ".";
    }
    return std::string(
               "This Wayland compositor lets no program hear keys: it offers neither a "
               "virtual keyboard (on wlroots compositors the key is bound to “larkspire "
               "--key”) nor the desktop portal’s global shortcuts. Log in to an X11 session, "
               "or ") +
           kEvdevAdvice + ".";
}

}  // namespace

WaylandBackends WaylandBackends::choose(const WaylandSessionFacts& facts) {
    WaylandBackends b;
    const bool hyprland = facts.desktop.find("Hyprland") != std::string::npos;
    if (facts.keySource == "evdev") {
        b.keys = Keys::evdev;
    } else if (facts.keySource == "portal" && facts.globalShortcuts == 0) {
        b.keysProblem =
            "The desktop portal offers no global shortcuts in this session, so "
            "the “key_source” chosen in ~/.vantrel/config.json cannot be used.";
    } else if (facts.keySource == "portal" ||
               (facts.globalShortcuts > 0 && (hyprland || !facts.virtualKeyboard))) {
        // Hyprland's portal reports press and release itself: no bindings to write.
        b.keys = Keys::shortcutsPortal;
    } else if (facts.virtualKeyboard) {
        b.keys = Keys::compositorBindings;
    } else {
        b.keysProblem = keysProblemOf(facts.desktop);
    }

    if (facts.pasteThrough == "uinput") {
        b.paste = Paste::uinput;
    } else if (facts.virtualKeyboard && facts.pasteThrough != "portal") {
        b.paste = Paste::virtualKeyboard;
    } else if (facts.remoteDesktop > 0) {
        b.paste = Paste::remoteDesktop;
    } else {
        b.pasteProblem =
            "This Wayland session offers no way to type the paste keys (no virtual "
            "keyboard, no remote-desktop portal): dictated text stays on the clipboard for "
            "you to paste. To paste automatically, add \"paste_through\": \"uinput\" to "
            "~/.vantrel/config.json and make /dev/uinput writable for your user.";
    }

    if (facts.dataControl) {
        b.clipboard = Copy::dataControl;
    } else if (facts.clipboardPortal > 0 && facts.remoteDesktop > 0) {
        b.clipboard = Copy::clipboardPortal;
    }

    // The Screenshot portal gives the whole screen, other applications' windows included,
    // and leaves it in a file: no window image is taken through it.
    if (facts.screencopy && facts.swayTree) {
        b.images = Images::screencopy;
    }
    return b;
}

std::string WaylandBackends::describe() const {
    constexpr const char* keys[] = {"keys from the compositor's bindings (larkspire --key)",
                                    "keys from the desktop portal's global shortcuts",
                                    "keys read from the input devices (evdev)", "no keys"};
    constexpr const char* paste[] = {"paste through a virtual keyboard",
                                     "paste through the desktop portal's remote desktop",
                                     "paste through uinput", "no paste keys"};
    constexpr const char* copy[] = {"clipboard through data control",
                                    "clipboard through the desktop portal",
                                    "clipboard only while focused"};
    constexpr const char* images[] = {"window images through screencopy", "no window images"};
    return std::string(keys[static_cast<int>(this->keys)]) + ", " +
           paste[static_cast<int>(this->paste)] + ", " + copy[static_cast<int>(clipboard)] + ", " +
           images[static_cast<int>(this->images)];
}

}  // namespace larkspire::linux_desktop

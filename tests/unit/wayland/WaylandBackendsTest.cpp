#include "platform/linux/wayland/WaylandBackends.h"

#include <gtest/gtest.h>

namespace larkspire::linux_desktop {
namespace {

using B = WaylandBackends;

WaylandSessionFacts sway() {
    WaylandSessionFacts f;
    f.desktop = "sway";
    f.virtualKeyboard = f.dataControl = f.screencopy = f.swayTree = true;
    return f;
}
WaylandSessionFacts gnome(std::uint32_t shortcuts) {
    WaylandSessionFacts f;
    f.desktop = "ubuntu:GNOME";
    f.globalShortcuts = shortcuts;
    f.remoteDesktop = 2;
    f.clipboardPortal = 1;
    return f;
}
WaylandSessionFacts plasma() {
    WaylandSessionFacts f = gnome(1);
    f.desktop = "KDE";
    f.dataControl = true;
    f.clipboardPortal = 0;
    return f;
}
WaylandSessionFacts with(WaylandSessionFacts f, void (*change)(WaylandSessionFacts&)) {
    change(f);
    return f;
}

TEST(WaylandBackends, EachServiceComesFromWhatTheSessionOffers) {
    struct Row {
        const char* session;
        WaylandSessionFacts facts;
        B::Keys keys;
        B::Paste paste;
        B::Copy clipboard;
        B::Images images;
        const char* keysProblem;  // a phrase of it; "" when there is none
    };
    const Row rows[] = {
        {"sway", sway(), B::Keys::compositorBindings, B::Paste::virtualKeyboard,
         B::Copy::dataControl, B::Images::screencopy, ""},
        {"sway, the user asks for the portal's shortcuts and keyboard",
         with(with(sway(), [](auto& f) { f.globalShortcuts = f.remoteDesktop = 1; }),
              [](auto& f) { f.keySource = "portal", f.pasteThrough = "portal"; }),
         B::Keys::shortcutsPortal, B::Paste::remoteDesktop, B::Copy::dataControl,
         B::Images::screencopy, ""},
        {"Hyprland with its shortcut portal",
         with(sway(),
              [](auto& f) { f.desktop = "Hyprland", f.swayTree = false, f.globalShortcuts = 1; }),
         B::Keys::shortcutsPortal, B::Paste::virtualKeyboard, B::Copy::dataControl, B::Images::none,
         ""},
        {"GNOME 48", gnome(1), B::Keys::shortcutsPortal, B::Paste::remoteDesktop,
         B::Copy::clipboardPortal, B::Images::none, ""},
        {"GNOME 46", gnome(0), B::Keys::none, B::Paste::remoteDesktop, B::Copy::clipboardPortal,
         B::Images::none, "Update to GNOME 48 or later"},
        {"Plasma", plasma(), B::Keys::shortcutsPortal, B::Paste::remoteDesktop,
         B::Copy::dataControl, B::Images::none, ""},
        {"Plasma without its portal", with(plasma(), [](auto& f) { f.globalShortcuts = 0; }),
         B::Keys::none, B::Paste::remoteDesktop, B::Copy::dataControl, B::Images::none,
         "install xdg-desktop-portal-kde"},
        {"GNOME 46, the user chose evdev and uinput",
         with(gnome(0), [](auto& f) { f.keySource = "evdev", f.pasteThrough = "uinput"; }),
         B::Keys::evdev, B::Paste::uinput, B::Copy::clipboardPortal, B::Images::none, ""},
        {"portal chosen where there is none", with(sway(), [](auto& f) { f.keySource = "portal"; }),
         B::Keys::none, B::Paste::virtualKeyboard, B::Copy::dataControl, B::Images::screencopy,
         "cannot be used"},
        {"a bare compositor", with(WaylandSessionFacts{}, [](auto& f) { f.desktop = "weston"; }),
         B::Keys::none, B::Paste::none, B::Copy::focusedOnly, B::Images::none,
         "offers neither a virtual keyboard"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.session);
        const B chosen = B::choose(row.facts);
        EXPECT_EQ(chosen.keys, row.keys);
        EXPECT_EQ(chosen.paste, row.paste);
        EXPECT_EQ(chosen.clipboard, row.clipboard);
        EXPECT_EQ(chosen.images, row.images);
        EXPECT_EQ(chosen.keysProblem.empty(), std::string(row.keysProblem).empty());
        EXPECT_NE(chosen.keysProblem.find(row.keysProblem), std::string::npos)
            << chosen.keysProblem;
        EXPECT_EQ(chosen.pasteProblem.empty(), chosen.paste != B::Paste::none);
    }
}

}  // namespace
}  // namespace larkspire::linux_desktop

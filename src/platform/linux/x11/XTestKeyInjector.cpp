#include "platform/linux/x11/XTestKeyInjector.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>

#include "platform/linux/common/ChordInputCodes.h"

namespace larkspire::linux_desktop {
namespace {

// Keys whose hold changes what a chord means to the target.
constexpr std::array kModifierSyms{
    XK_Shift_L, XK_Shift_R, XK_Control_L,        XK_Control_R,        XK_Alt_L,
    XK_Alt_R,   XK_Meta_L,  XK_Meta_R,           XK_Super_L,          XK_Super_R,
    XK_Hyper_L, XK_Hyper_R, XK_ISO_Level3_Shift, XK_ISO_Level5_Shift, XK_Mode_switch,
};

}  // namespace

XTestKeyInjector::XTestKeyInjector(SendObserver beforeSend)
    : beforeSend_(std::move(beforeSend)), display_(openDisplay()) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (display_ && !XTestQueryExtension(display_.get(), &event, &error, &major, &minor)) {
        display_.reset();
    }
}

std::vector<int> XTestKeyInjector::heldModifiers() {
    std::vector<int> held;
    if (!display_) {
        return held;
    }
    char keys[32] = {};
    XQueryKeymap(display_.get(), keys);
    for (int code = 8; code < 256; ++code) {
        if (!(keys[code / 8] & (1 << (code % 8)))) {
            continue;
        }
        const KeySym sym = XkbKeycodeToKeysym(display_.get(), static_cast<KeyCode>(code), 0, 0);
        if (std::find(kModifierSyms.begin(), kModifierSyms.end(), sym) != kModifierSyms.end()) {
            held.push_back(code);
        }
    }
    return held;
}

void XTestKeyInjector::fake(int keycode, bool pressed) {
    if (beforeSend_) {
        beforeSend_(keycode, pressed);
    }
    XTestFakeKeyEvent(display_.get(), static_cast<unsigned>(keycode), pressed ? True : False,
                      CurrentTime);
}

void XTestKeyInjector::release(const std::vector<int>& keycodes) {
    if (!display_) {
        return;
    }
    for (int code : keycodes) {
        fake(code, false);
    }
    XSync(display_.get(), False);
}

int XTestKeyInjector::keycodeOf(platform::ChordKey key) {
    // The layout's key for the symbol; the US key where the layout lacks it.
    const ChordKeyCode chord = chordKeyCode(key);
    const KeyCode code = XKeysymToKeycode(display_.get(), chord.symbol);
    return code != 0 ? code : platform::xKeycodeOf(chord.inputCode);
}

bool XTestKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    if (!display_) {
        return false;
    }
    std::vector<int> codes;
    for (auto key : keys) {
        codes.push_back(keycodeOf(key));
    }
    for (int code : codes) {
        fake(code, true);
    }
    for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
        fake(*it, false);
    }
    XSync(display_.get(), False);
    return true;
}

int XTestKeyInjector::blankKeycode() {
    if (blankKeycode_ >= 0) {
        return blankKeycode_;
    }
    blankKeycode_ = 0;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display_.get(), &minCode, &maxCode);
    int perCode = 0;
    const int count = maxCode - minCode + 1;
    XPtr<KeySym> syms(
        XGetKeyboardMapping(display_.get(), static_cast<KeyCode>(minCode), count, &perCode));
    if (!syms) {
        return blankKeycode_;
    }
    // From the top: the high codes of the evdev layout are the ones left unmapped.
    for (int code = maxCode; code >= minCode; --code) {
        const KeySym* row = syms.get() + (code - minCode) * perCode;
        if (std::all_of(row, row + perCode, [](KeySym s) { return s == NoSymbol; })) {
            blankKeycode_ = code;
            break;
        }
    }
    return blankKeycode_;
}

void XTestKeyInjector::tapBlankKey() {
    if (!display_) {
        return;
    }
    const int code = blankKeycode();
    if (code == 0) {
        return;
    }
    fake(code, true);
    fake(code, false);
    XSync(display_.get(), False);
}

}  // namespace larkspire::linux_desktop

#pragma once

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <cstdint>

#include "platform/KeyInjector.h"
#include "platform/KeyListener.h"

namespace larkspire::linux_desktop {

// The keys of paste chords, for every back end: its Linux input code, the position of
// that key on a US layout; and its symbol (X and xkbcommon number symbols alike), for back
// ends that find the key where the user's layout has it. Modifiers and Insert go by
// position everywhere; letters and "+" by symbol where the back end can.
struct ChordKeyCode {
    int inputCode;
    std::uint32_t symbol;
    bool bySymbol;
};

inline ChordKeyCode chordKeyCode(platform::ChordKey key) {
    switch (key) {
        case platform::ChordKey::control:
            return {KEY_LEFTCTRL, XKB_KEY_Control_L, false};
        case platform::ChordKey::shift:
            return {KEY_LEFTSHIFT, XKB_KEY_Shift_L, false};
        case platform::ChordKey::insert:
            return {KEY_INSERT, XKB_KEY_Insert, false};
        case platform::ChordKey::v:
            return {KEY_V, XKB_KEY_v, true};
        case platform::ChordKey::y:
            return {KEY_Y, XKB_KEY_y, true};
        case platform::ChordKey::z:
            return {KEY_Z, XKB_KEY_z, true};
        case platform::ChordKey::r:
            return {KEY_R, XKB_KEY_r, true};
        case platform::ChordKey::o:
            return {KEY_O, XKB_KEY_o, true};
        case platform::ChordKey::plus:
            return {KEY_EQUAL, XKB_KEY_plus, true};
    }
    return {KEY_RESERVED, XKB_KEY_NoSymbol, false};
}

// The key as a Linux input code, for back ends that send keys by position (uinput, the
// desktop portal's keyboard): on a layout whose V is elsewhere (Dvorak) the chord is that
// of the key where V is on QWERTY.
inline int chordInputCode(platform::ChordKey key) {
    return chordKeyCode(key).inputCode;
}

}  // namespace larkspire::linux_desktop

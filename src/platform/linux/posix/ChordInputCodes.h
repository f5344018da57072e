#pragma once

#include <linux/input-event-codes.h>

#include "platform/KeyInjector.h"

namespace larkspire::desktop {

// The key of a chord as a Linux input code, for back ends that send keys by position
// (uinput, the desktop portal's keyboard): the position of that key on a US layout, so on
// a layout whose V is elsewhere (Dvorak) the chord is that of the key where V is on QWERTY.
inline int chordInputCode(platform::ChordKey key) {
    switch (key) {
        case platform::ChordKey::control:
            return KEY_LEFTCTRL;
        case platform::ChordKey::shift:
            return KEY_LEFTSHIFT;
        case platform::ChordKey::insert:
            return KEY_INSERT;
        case platform::ChordKey::v:
            return KEY_V;
        case platform::ChordKey::y:
            return KEY_Y;
        case platform::ChordKey::z:
            return KEY_Z;
        case platform::ChordKey::r:
            return KEY_R;
        case platform::ChordKey::o:
            return KEY_O;
        case platform::ChordKey::plus:
            return KEY_EQUAL;
    }
    return KEY_RESERVED;
}

}  // namespace larkspire::desktop

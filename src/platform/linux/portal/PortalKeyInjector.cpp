#include "platform/linux/portal/PortalKeyInjector.h"

#include <linux/input-event-codes.h>

namespace larkspire::desktop {
namespace {

int inputCodeOf(platform::ChordKey key) {
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
    }
    return 0;
}

}  // namespace

void PortalKeyInjector::release(const std::vector<int>& keycodes) {
    // X keycodes: input code + 8.
    for (int keycode : keycodes) {
        session_.notifyKeycode(keycode - 8, false);
    }
}

void PortalKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    for (platform::ChordKey key : keys) {
        session_.notifyKeycode(inputCodeOf(key), true);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        session_.notifyKeycode(inputCodeOf(*key), false);
    }
}

}  // namespace larkspire::desktop

#include "platform/linux/portal/PortalKeyInjector.h"

#include "platform/linux/posix/ChordInputCodes.h"

namespace larkspire::desktop {

void PortalKeyInjector::release(const std::vector<int>& keycodes) {
    // X keycodes: input code + 8.
    for (int keycode : keycodes) {
        session_.notifyKeycode(keycode - 8, false);
    }
}

void PortalKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    for (platform::ChordKey key : keys) {
        session_.notifyKeycode(chordInputCode(key), true);
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        session_.notifyKeycode(chordInputCode(*key), false);
    }
}

}  // namespace larkspire::desktop

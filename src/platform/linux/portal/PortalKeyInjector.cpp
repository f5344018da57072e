#include "platform/linux/portal/PortalKeyInjector.h"

#include "platform/linux/common/ChordInputCodes.h"

namespace larkspire::linux_desktop {

void PortalKeyInjector::release(const std::vector<int>& keycodes) {
    for (int keycode : keycodes) {
        session_.notifyKeycode(platform::inputCodeOf(keycode), false);
    }
}

bool PortalKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    for (platform::ChordKey key : keys) {
        if (!session_.notifyKeycode(chordInputCode(key), true)) {
            return false;  // the session is gone: nothing of the chord went out
        }
    }
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        session_.notifyKeycode(chordInputCode(*key), false);
    }
    return true;
}

}  // namespace larkspire::linux_desktop

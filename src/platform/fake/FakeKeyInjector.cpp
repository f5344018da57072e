#include "platform/fake/FakeKeyInjector.h"

namespace larkspire::fake {

std::vector<int> FakeKeyInjector::heldModifiers() {
    return {held_.begin(), held_.end()};
}

void FakeKeyInjector::release(const std::vector<int>& keycodes) {
    for (int k : keycodes) {
        held_.erase(k);
        log_.add("release " + std::to_string(k));
    }
}

bool FakeKeyInjector::sendChord(const std::vector<platform::ChordKey>& keys) {
    if (gone) {
        return false;
    }
    std::string text = "chord ";
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) {
            text += "+";
        }
        switch (keys[i]) {
            case platform::ChordKey::control:
                text += "ctrl";
                break;
            case platform::ChordKey::shift:
                text += "shift";
                break;
            case platform::ChordKey::insert:
                text += "insert";
                break;
            case platform::ChordKey::v:
                text += "v";
                break;
            case platform::ChordKey::y:
                text += "y";
                break;
            case platform::ChordKey::z:
                text += "z";
                break;
            case platform::ChordKey::r:
                text += "r";
                break;
            case platform::ChordKey::o:
                text += "o";
                break;
            case platform::ChordKey::plus:
                text += "plus";
                break;
        }
    }
    log_.add(text);
    return true;
}

}  // namespace larkspire::fake

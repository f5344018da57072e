#pragma once

#include <set>
#include <string>
#include <vector>

#include "platform/KeyInjector.h"
#include "platform/fake/ActionLog.h"

namespace larkspire::fake {

// A keyboard the test holds keys on; it records the chords, releases and blank taps it
// is asked for ("chord ctrl+shift+v", "release 108", "blank tap").
class FakeKeyInjector : public platform::KeyInjector {
  public:
    explicit FakeKeyInjector(ActionLog& log) : log_(log) {}

    std::vector<int> heldModifiers() override;
    void release(const std::vector<int>& keycodes) override;
    bool sendChord(const std::vector<platform::ChordKey>& keys) override;
    void tapBlankKey() override { log_.add("blank tap"); }

    // The user's hands.
    void hold(int keycode) { held_.insert(keycode); }
    void letGo(int keycode) { held_.erase(keycode); }
    // The desktop closed the keyboard: chords send nothing.
    bool gone = false;

  private:
    ActionLog& log_;
    std::set<int> held_;
};

}  // namespace larkspire::fake

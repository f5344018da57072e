#pragma once

#include "input/InjectionJournal.h"
#include "platform/KeyInjector.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire::desktop {

// Synthetic keys through XTest on a display connection of its own. Every event is written
// to the journal before it is sent, so the key monitor knows it for the agent's own.
// Main thread.
class XTestKeyInjector : public platform::KeyInjector {
  public:
    explicit XTestKeyInjector(InjectionJournal& journal);

    bool available() const { return display_ != nullptr; }

    std::vector<int> heldModifiers() override;
    void release(const std::vector<int>& keycodes) override;
    void sendChord(const std::vector<platform::ChordKey>& keys) override;

  private:
    void fake(int keycode, bool pressed);
    int keycodeOf(platform::ChordKey key);

    InjectionJournal& journal_;
    DisplayPtr display_;
};

}  // namespace larkspire::desktop

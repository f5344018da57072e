#pragma once

#include <functional>

#include "platform/KeyInjector.h"
#include "platform/linux/x11/XHandles.h"

namespace larkspire::linux_desktop {

// Synthetic keys through XTest on a display connection of its own. `beforeSend` hears of
// every event just before it is sent (the agent records it, so that its key monitor
// knows the event for its own). Main thread.
class XTestKeyInjector : public platform::KeyInjector {
  public:
    using SendObserver = std::function<void(int keycode, bool pressed)>;
    explicit XTestKeyInjector(SendObserver beforeSend);

    bool available() const { return display_ != nullptr; }

    std::vector<int> heldModifiers() override;
    void release(const std::vector<int>& keycodes) override;
    bool sendChord(const std::vector<platform::ChordKey>& keys) override;
    void tapBlankKey() override;

  private:
    void fake(int keycode, bool pressed);
    int keycodeOf(platform::ChordKey key);
    // A key code the layout maps to no symbol at all; 0 when there is none. Looked up once.
    int blankKeycode();

    SendObserver beforeSend_;
    DisplayPtr display_;
    int blankKeycode_ = -1;
};

}  // namespace larkspire::linux_desktop

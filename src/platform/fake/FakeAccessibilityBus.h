#pragma once

#include "platform/AccessibilityBus.h"

namespace larkspire::fake {

// A bus whose state the test sets.
class FakeAccessibilityBus : public platform::AccessibilityBus {
  public:
    bool isEnabled() override { return enabled; }
    bool enabled = true;
};

}  // namespace larkspire::fake

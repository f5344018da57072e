#pragma once

#include "platform/AccessibilityBus.h"

namespace larkspire::desktop {

// Reads org.a11y.Status.IsEnabled of the accessibility bus launcher on the session bus.
class AtspiAccessibilityBus : public platform::AccessibilityBus {
  public:
    bool isEnabled() override;
};

}  // namespace larkspire::desktop

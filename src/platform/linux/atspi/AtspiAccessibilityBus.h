#pragma once

#include "platform/AccessibilityBus.h"

namespace larkspire::linux_desktop {

// Reads org.a11y.Status.IsEnabled of the accessibility bus launcher on the session bus.
class AtspiAccessibilityBus : public platform::AccessibilityBus {
  public:
    bool isEnabled() override;
};

}  // namespace larkspire::linux_desktop

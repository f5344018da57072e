#pragma once

namespace larkspire::platform {

// The desktop's accessibility bus: what "the accessibility permission" means here. Main
// thread; bounded to about a second when the bus does not answer.
class AccessibilityBus {
  public:
    virtual ~AccessibilityBus() = default;
    // True when the bus is reachable and switched on; asks the user nothing.
    virtual bool isEnabled() = 0;
};

}  // namespace larkspire::platform

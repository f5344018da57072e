#pragma once

#include <chrono>

#include "platform/Clock.h"

namespace larkspire::linux_desktop {

// The wall clock.
class SystemClock : public platform::Clock {
  public:
    platform::TimePoint now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace larkspire::linux_desktop

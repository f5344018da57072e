#pragma once

#include "platform/Clock.h"
#include "platform/Scheduler.h"

namespace larkspire::fake {

// A clock that moves only when a test says so. Starts at 2026-01-01T00:00:00Z.
class VirtualClock : public platform::Clock {
  public:
    VirtualClock();
    platform::TimePoint now() const override { return now_; }
    void set(platform::TimePoint t) { now_ = t; }
    void advanceBy(platform::Duration d);

  private:
    platform::TimePoint now_;
};

}  // namespace larkspire::fake

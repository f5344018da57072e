#include "platform/fake/VirtualClock.h"

#include <date/date.h>

namespace larkspire::fake {

VirtualClock::VirtualClock() : now_(date::sys_days{date::year{2026} / 1 / 1}) {}

void VirtualClock::advanceBy(platform::Duration d) {
    now_ += std::chrono::duration_cast<platform::TimePoint::duration>(d);
}

}  // namespace larkspire::fake

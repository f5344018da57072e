#pragma once

#include <chrono>

namespace larkspire::platform {

using TimePoint = std::chrono::system_clock::time_point;
using Seconds = std::chrono::duration<double>;

// Wall-clock time as the logic sees it; tests substitute a virtual clock.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

// The "distant past": earlier than any point a running agent sees.
inline constexpr TimePoint distantPast() {
    return TimePoint{};
}

inline double secondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration_cast<Seconds>(to - from).count();
}

}  // namespace larkspire::platform

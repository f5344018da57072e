#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace larkspire::server {

// Wall clock with an adjustable offset, so tests can move time forward (code and token
// expiry) without sleeping.
class Clock {
  public:
    explicit Clock(double offsetSeconds = 0.0) : offsetMillis_(toMillis(offsetSeconds)) {}

    // Seconds since 1970-01-01 UTC, fractions included.
    double now() const {
        auto real = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
        return static_cast<double>(real + offsetMillis_.load()) / 1000.0;
    }

    // Moves the clock on by a number of seconds, not negative. Refuses (false) a move that
    // would leave the dates the service can write (before the year 10000).
    bool advance(double seconds);
    // Whether a clock this far from the wall clock keeps within those dates.
    static bool offsetFits(double offsetSeconds);
    double offset() const { return static_cast<double>(offsetMillis_.load()) / 1000.0; }

    // RFC 3339 text in UTC with milliseconds, e.g. 2025-03-04T05:06:07.123Z.
    static std::string iso8601(double secondsSinceEpoch);

  private:
    static long long toMillis(double seconds) { return static_cast<long long>(seconds * 1000.0); }
    std::atomic<long long> offsetMillis_;
};

}  // namespace larkspire::server

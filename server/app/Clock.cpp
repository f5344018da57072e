#include "server/app/Clock.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace larkspire::server {

namespace {

// 10000-01-01T00:00:00Z: four-digit years end here, and every offset in milliseconds below it
// fits a 64-bit count.
constexpr double kEndOfDates = 253402300800.0;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

bool Clock::offsetFits(double offsetSeconds) {
    double at = wallSeconds() + offsetSeconds;
    return std::isfinite(offsetSeconds) && at >= 0 && at < kEndOfDates;
}

bool Clock::advance(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) {
        return false;
    }
    long long current = offsetMillis_.load();
    long long next = 0;
    do {
        double offset = static_cast<double>(current) / 1000.0 + seconds;
        if (!offsetFits(offset)) {
            return false;
        }
        next = toMillis(offset);
    } while (!offsetMillis_.compare_exchange_weak(current, next));
    return true;
}

std::string Clock::iso8601(double secondsSinceEpoch) {
    auto whole = static_cast<std::time_t>(std::floor(secondsSinceEpoch));
    int millis =
        static_cast<int>(std::lround((secondsSinceEpoch - static_cast<double>(whole)) * 1000.0));
    if (millis >= 1000) {
        whole += 1;
        millis -= 1000;
    }
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return buffer;
}

}  // namespace larkspire::server

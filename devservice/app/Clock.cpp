#include "devservice/app/Clock.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace larkspire::devservice {

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

}  // namespace larkspire::devservice

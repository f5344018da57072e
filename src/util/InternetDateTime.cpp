#include "util/InternetDateTime.h"

#include <date/date.h>

namespace larkspire {
namespace {

// Reads `count` decimal digits at `pos`.
std::optional<int> digits(std::string_view s, size_t pos, size_t count) {
    if (pos + count > s.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

}  // namespace

std::optional<platform::TimePoint> parseInternetDateTime(std::string_view s) {
    // yyyy-MM-ddTHH:mm:ss[.fraction](Z|+HH:mm|-HH:mm)
    const auto year = digits(s, 0, 4), month = digits(s, 5, 2), day = digits(s, 8, 2);
    const auto hour = digits(s, 11, 2), minute = digits(s, 14, 2), second = digits(s, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || s[4] != '-' || s[7] != '-' ||
        s[10] != 'T' || s[13] != ':' || s[16] != ':') {
        return std::nullopt;
    }
    const date::year_month_day ymd{date::year{*year}, date::month{static_cast<unsigned>(*month)},
                                   date::day{static_cast<unsigned>(*day)}};
    if (!ymd.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    size_t pos = 19;
    if (pos < s.size() && s[pos] == '.') {
        const size_t first = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            ++pos;
        }
        if (pos == first) {
            return std::nullopt;
        }
        // The fraction cannot change the minute, which is all a name shows.
    }
    std::chrono::minutes offset{0};
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        const auto oh = digits(s, pos + 1, 2), om = digits(s, pos + 4, 2);
        if (!oh || !om || s[pos + 3] != ':' || *oh > 23 || *om > 59) {
            return std::nullopt;
        }
        offset = std::chrono::hours(*oh) + std::chrono::minutes(*om);
        if (s[pos] == '-') {
            offset = -offset;
        }
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) {
        return std::nullopt;
    }
    const auto local = date::sys_days(ymd) + std::chrono::hours(*hour) +
                       std::chrono::minutes(*minute) + std::chrono::seconds(*second);
    // The clock counts nanoseconds in 64 bits, the years 1677 to 2262: a date outside
    // (the service sent "4050-03-04T05:06:07Z") is none of its time points.
    constexpr auto kRange =
        std::chrono::floor<std::chrono::seconds>(platform::TimePoint::duration::max());
    const std::chrono::seconds sinceEpoch = (local - offset).time_since_epoch();
    if (sinceEpoch >= kRange || sinceEpoch <= -kRange) {
        return std::nullopt;
    }
    return std::chrono::time_point_cast<platform::TimePoint::duration>(local - offset);
}

}  // namespace larkspire

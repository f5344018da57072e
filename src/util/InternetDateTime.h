#pragma once

#include <optional>
#include <string_view>

#include "platform/Clock.h"

namespace larkspire {

// An RFC 3339 internet date-time ("2026-03-01T09:05:00Z", "…00.123+02:00"), with or
// without fractional seconds; absent for anything else.
std::optional<platform::TimePoint> parseInternetDateTime(std::string_view text);

}  // namespace larkspire

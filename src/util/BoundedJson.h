#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string_view>

namespace larkspire {

// JSON from outside (service answers, configuration, stored state), parsed only when its
// nesting and its number of values are bounded: a 30 MB answer of nested brackets took
// the agent to 2.3 GB when parsed as it came. Anything over the bounds, or not JSON, is
// a discarded value (`is_discarded()`), as nlohmann's non-throwing parse returns.
inline constexpr std::size_t kMaximumJsonDepth = 64;
inline constexpr std::size_t kMaximumJsonValues = 2'000'000;

nlohmann::json parseBoundedJson(std::string_view text);
// Whether the text stays within the bounds (it may still not be JSON).
bool withinJsonBounds(std::string_view text);

}  // namespace larkspire

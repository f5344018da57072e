#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

// Small helpers shared by the endpoint groups of the service client.
namespace larkspire::wire {

// The body as a JSON object; anything else (not JSON, an array, a string) is {}.
nlohmann::json objectOrEmpty(std::string_view body);
// The string under `key`, when the object holds one there.
std::optional<std::string> stringAt(const nlohmann::json& object, const char* key);
// The answer's "error" string, else `fallback`.
std::string errorMessage(const nlohmann::json& object, std::string fallback);
// Compact JSON text; throws APIClient::SerializationError on text that is not UTF-8.
std::string serialized(const nlohmann::json& value);

// Seconds since 1970 and back, bounded so that absurd service values cannot overflow.
double secondsSince1970(platform::TimePoint t);
platform::TimePoint timePointFrom(double secondsSince1970);

}  // namespace larkspire::wire

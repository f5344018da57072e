#include "service/Wire.h"

#include <algorithm>
#include <cmath>

#include "service/APIClient.h"
#include "util/BoundedJson.h"
#include "util/Text.h"

namespace larkspire::wire {

using nlohmann::json;

json objectOrEmpty(std::string_view body) {
    json parsed = parseBoundedJson(body);
    if (!parsed.is_object()) {
        return json::object();
    }
    return parsed;
}

std::optional<std::string> stringAt(const json& object, const char* key) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

std::string errorMessage(const json& object, std::string fallback) {
    if (auto error = stringAt(object, "error")) {
        return text::forDisplay(*error);
    }
    return fallback;
}

std::string serialized(const json& value) {
    try {
        return value.dump();
    } catch (const json::type_error& e) {
        throw APIClient::SerializationError(
            std::string("The request couldn’t be written as JSON: ") + e.what());
    }
}

double secondsSince1970(platform::TimePoint t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

platform::TimePoint timePointFrom(double seconds) {
    // A system_clock tick is a nanosecond here: ±9.2e9 s is the whole range.
    constexpr double kLimit = 9.0e9;
    if (std::isnan(seconds)) {
        return platform::distantPast();
    }
    const double bounded = std::clamp(seconds, -kLimit, kLimit);
    return platform::TimePoint(std::chrono::duration_cast<platform::TimePoint::duration>(
        std::chrono::duration<double>(bounded)));
}

}  // namespace larkspire::wire

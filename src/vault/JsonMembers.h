#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace larkspire {

// The string member `key` of a JSON object; absent when the value is not an object, the
// member is missing or it is not a string.
inline std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

}  // namespace larkspire

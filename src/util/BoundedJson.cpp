#include "util/BoundedJson.h"

namespace larkspire {

// One pass over the bytes, outside strings: the deepest nesting, and the containers and
// separators, which bound the number of values.
bool withinJsonBounds(std::string_view text) {
    std::size_t depth = 0, values = 0;
    bool inString = false, escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        switch (c) {
            case '"':
                inString = true;
                break;
            case '[':
            case '{':
                if (++depth > kMaximumJsonDepth || ++values > kMaximumJsonValues) {
                    return false;
                }
                break;
            case ']':
            case '}':
                depth = depth > 0 ? depth - 1 : 0;
                break;
            case ',':
                if (++values > kMaximumJsonValues) {
                    return false;
                }
                break;
            default:
                break;
        }
    }
    return true;
}

nlohmann::json parseBoundedJson(std::string_view text) {
    if (!withinJsonBounds(text)) {
        return nlohmann::json(nlohmann::json::value_t::discarded);
    }
    return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
}

}  // namespace larkspire

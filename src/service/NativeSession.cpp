#include "service/NativeSession.h"

#include <nlohmann/json.hpp>

#include "util/BoundedJson.h"

namespace larkspire {

using nlohmann::json;

std::optional<std::string> NativeSession::encoded() const {
    json object = {
        {"accessToken", accessToken}, {"refreshToken", refreshToken}, {"expiresAt", expiresAt}};
    try {
        return object.dump();
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

std::optional<NativeSession> NativeSession::decodeStored(std::string_view text) {
    const json root = parseBoundedJson(text);
    if (!root.is_object()) {
        return std::nullopt;
    }
    auto access = root.find("accessToken");
    auto refresh = root.find("refreshToken");
    auto expires = root.find("expiresAt");
    if (access == root.end() || !access->is_string() || refresh == root.end() ||
        !refresh->is_string() || expires == root.end() || !expires->is_number()) {
        return std::nullopt;
    }
    return NativeSession{access->get<std::string>(), refresh->get<std::string>(),
                         expires->get<double>()};
}

}  // namespace larkspire

#include "vault/VaultState.h"
#include "util/BoundedJson.h"

namespace larkspire {

using nlohmann::json;

std::optional<VaultState> VaultState::decode(std::string_view text) {
    const json root = parseBoundedJson(text);
    if (!root.is_object()) {
        return std::nullopt;
    }
    VaultState state;
    const auto last = root.find("lastCreatedAt");
    const auto ids = root.find("syncedIds");
    if (last == root.end() || !last->is_string() || ids == root.end() || !ids->is_array()) {
        return std::nullopt;
    }
    state.lastCreatedAt = last->get<std::string>();
    for (const json& id : *ids) {
        if (!id.is_string()) {
            return std::nullopt;
        }
        state.syncedIds.insert(id.get<std::string>());
    }
    // A null "files" counts as absent, as a missing key does.
    if (const auto files = root.find("files"); files != root.end() && !files->is_null()) {
        if (!files->is_object()) {
            return std::nullopt;
        }
        std::map<std::string, std::string> mapping;
        for (const auto& [id, name] : files->items()) {
            if (!name.is_string()) {
                return std::nullopt;
            }
            mapping.emplace(id, name.get<std::string>());
        }
        state.files = std::move(mapping);
    }
    return state;
}

json VaultState::encode() const {
    json out = {{"lastCreatedAt", lastCreatedAt}, {"syncedIds", syncedIds}};
    if (files) {
        out["files"] = *files;
    }
    return out;
}

}  // namespace larkspire

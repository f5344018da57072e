#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace larkspire {

// What the vault synchroniser remembers between passes, in its JSON state file.
struct VaultState {
    // The greatest "created_at" written so far, compared as plain strings.
    std::string lastCreatedAt;
    // Every note id ever written.
    std::set<std::string> syncedIds;
    // The file owned by each note id; absent until a mapping has been made.
    std::optional<std::map<std::string, std::string>> files;

    // The empty state that stands in for an unreadable state file.
    static VaultState empty() { return VaultState{"", {}, std::map<std::string, std::string>{}}; }
    // Absent when the text is not a state (missing "lastCreatedAt" or "syncedIds",
    // wrong types, not JSON).
    static std::optional<VaultState> decode(std::string_view json);
    nlohmann::json encode() const;
    bool operator==(const VaultState&) const = default;
};

}  // namespace larkspire

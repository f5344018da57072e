#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace larkspire {

// A signed-in session as the agent keeps it.
struct NativeSession {
    std::string accessToken;
    std::string refreshToken;
    // Expiry of `accessToken` in seconds since 1970-01-01 UTC; fractions allowed.
    double expiresAt = 0;

    // The stored form: a compact JSON object with exactly "accessToken", "refreshToken"
    // and "expiresAt". Absent when the tokens are not valid UTF-8.
    std::optional<std::string> encoded() const;
    // Strict reading of the stored form: all three keys with the right types, or nothing.
    static std::optional<NativeSession> decodeStored(std::string_view json);

    bool operator==(const NativeSession&) const = default;
};

}  // namespace larkspire

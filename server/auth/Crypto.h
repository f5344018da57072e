#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace larkspire::server::crypto {

// A fresh 256-bit random token in URL-safe Base64 without padding (43 characters).
std::string randomToken();

// A uniformly drawn six-digit code, leading zeros kept.
std::string sixDigitCode();

// Lower-case RFC 4122 version-4 UUID text.
std::string uuid();

// SHA-256 of the bytes, as lower-case hex. Tokens and codes are stored only as hashes.
std::string sha256Hex(std::string_view bytes);

// Salted PBKDF2-HMAC-SHA256, stored as "pbkdf2-sha256$ITERATIONS$SALT$HASH".
std::string hashPassword(std::string_view password);
bool verifyPassword(std::string_view password, std::string_view stored);

// Constant-time comparison of two equal-length texts.
bool equalConstantTime(std::string_view a, std::string_view b);

// Standard Base64 (RFC 4648 alphabet with padding); decoding rejects anything else.
bool decodeBase64(std::string_view text, std::string& out);

}  // namespace larkspire::server::crypto

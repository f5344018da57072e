#include "server/auth/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <uuid/uuid.h>

#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace larkspire::server::crypto {
namespace {

constexpr int kPasswordIterations = 120000;

void randomBytes(unsigned char* out, int count) {
    if (RAND_bytes(out, count) != 1) {
        throw std::runtime_error("the system random generator failed");
    }
}

std::string hex(const unsigned char* bytes, size_t count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0x0f]);
    }
    return out;
}

std::string base64Url(const unsigned char* bytes, size_t count) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    uint32_t buffer = 0;
    int bits = 0;
    for (size_t i = 0; i < count; ++i) {
        buffer = (buffer << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(alphabet[(buffer >> bits) & 0x3f]);
        }
    }
    if (bits > 0) {
        out.push_back(alphabet[(buffer << (6 - bits)) & 0x3f]);
    }
    return out;
}

std::string pbkdf2(std::string_view password, std::string_view salt, int iterations) {
    std::array<unsigned char, 32> derived{};
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), iterations, EVP_sha256(),
                          static_cast<int>(derived.size()), derived.data()) != 1) {
        throw std::runtime_error("password hashing failed");
    }
    return hex(derived.data(), derived.size());
}

}  // namespace

std::string randomToken() {
    std::array<unsigned char, 32> bytes{};
    randomBytes(bytes.data(), static_cast<int>(bytes.size()));
    return base64Url(bytes.data(), bytes.size());
}

std::string sixDigitCode() {
    // Rejection sampling keeps every code equally likely.
    constexpr uint32_t range = 1000000;
    constexpr uint32_t limit = UINT32_MAX - (UINT32_MAX % range);
    uint32_t value = 0;
    do {
        randomBytes(reinterpret_cast<unsigned char*>(&value), sizeof value);
    } while (value >= limit);
    char text[8];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(value % range));
    return text;
}

std::string uuid() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

std::string sha256Hex(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) !=
        1) {
        throw std::runtime_error("SHA-256 failed");
    }
    return hex(digest.data(), length);
}

std::string hashPassword(std::string_view password) {
    std::array<unsigned char, 16> saltBytes{};
    randomBytes(saltBytes.data(), static_cast<int>(saltBytes.size()));
    std::string salt = hex(saltBytes.data(), saltBytes.size());
    return "pbkdf2-sha256$" + std::to_string(kPasswordIterations) + "$" + salt + "$" +
           pbkdf2(password, salt, kPasswordIterations);
}

bool verifyPassword(std::string_view password, std::string_view stored) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        size_t end = stored.find('$', start);
        parts.push_back(stored.substr(start, end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (parts.size() != 4 || parts[0] != "pbkdf2-sha256") {
        return false;
    }
    int iterations = 0;
    try {
        iterations = std::stoi(std::string(parts[1]));
    } catch (const std::exception&) {
        return false;
    }
    if (iterations <= 0) {
        return false;
    }
    return equalConstantTime(pbkdf2(password, parts[2], iterations), parts[3]);
}

bool equalConstantTime(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool decodeBase64(std::string_view text, std::string& out) {
    if (text.size() % 4 != 0) {
        return false;
    }
    out.assign(text.size() / 4 * 3, '\0');
    int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(text.data()),
                                  static_cast<int>(text.size()));
    if (written < 0) {
        return false;
    }
    // EVP_DecodeBlock counts padding as zero bytes; drop them.
    size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = (text.size() >= 2 && text[text.size() - 2] == '=') ? 2 : 1;
    }
    out.resize(static_cast<size_t>(written) - padding);
    return true;
}

}  // namespace larkspire::server::crypto

#include "context/Redaction.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <array>
#include <memory>
#include <vector>

namespace larkspire::redaction {
namespace {

// In the order they apply.
constexpr std::array<const char*, 5> kPatterns{
    R"(\b(?:sk|pk|rk)[-_][A-Za-z0-9_-]{16,}\b)",
    R"(\bAKIA[A-Z0-9]{16}\b)",
    R"(\beyJ[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\.[A-Za-z0-9_-]{8,}\b)",
    R"((?i)\bBearer\s+[A-Za-z0-9._~+/=-]{16,})",
    R"((?i)\b(api[_-]?key|access[_-]?token|auth[_-]?token|password|secret)\b\s*[:=]\s*[^\s,;]{6,})",
};

using Compiled = std::vector<std::unique_ptr<icu::RegexPattern>>;

// Compiled once; a compiled pattern is immutable and shared by every thread (each call
// makes its own matchers).
const Compiled& patterns() {
    static const Compiled compiled = [] {
        Compiled out;
        for (const char* source : kPatterns) {
            UErrorCode status = U_ZERO_ERROR;
            UParseError where{};
            std::unique_ptr<icu::RegexPattern> p(
                icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(source), 0, where, status));
            if (U_SUCCESS(status) && p) {
                out.push_back(std::move(p));
            }
        }
        return out;
    }();
    return compiled;
}

}  // namespace

std::string redact(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    const icu::UnicodeString replacement = icu::UnicodeString::fromUTF8(
        icu::StringPiece(kReplacement.data(), static_cast<int32_t>(kReplacement.size())));
    for (const auto& pattern : patterns()) {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(u, status));
        if (U_FAILURE(status) || !matcher) {
            continue;
        }
        icu::UnicodeString replaced = matcher->replaceAll(replacement, status);
        matcher.reset();  // it reads `u`, which changes next
        if (U_SUCCESS(status)) {
            u = std::move(replaced);
        }
    }
    std::string out;
    u.toUTF8String(out);
    return out;
}

}  // namespace larkspire::redaction

#pragma once

#include <string>
#include <string_view>

namespace larkspire::redaction {

// What every redacted secret becomes.
inline constexpr std::string_view kReplacement = "[REDACTED]";

// Replaces API keys, access tokens, JSON web tokens, bearer tokens and key-value secrets
// ("password: ...") with "[REDACTED]": five ICU regular expressions, each applied to the
// result of the one before, every match over the whole text. The empty text stays
// unchanged; a pattern that fails to compile is skipped. Safe from any thread.
std::string redact(std::string_view text);

}  // namespace larkspire::redaction

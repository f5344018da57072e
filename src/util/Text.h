#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace larkspire::text {

// Unicode-correct text helpers over UTF-8 (ICU). Invalid UTF-8 is replaced by U+FFFD.

// Strips leading and trailing white space and line breaks (the Unicode White_Space set).
std::string trimmed(std::string_view s);
// Locale-independent lower-casing.
std::string lowercased(std::string_view s);
// Canonical composition (NFC), so that equal texts compare equal byte for byte.
std::string nfc(std::string_view s);
// The number of user-perceived characters (extended grapheme clusters).
size_t characterCount(std::string_view s);
// The first `n` user-perceived characters.
std::string prefixCharacters(std::string_view s, size_t n);
// A text from outside (a service's error message), made safe for one log line or one
// line on screen: control characters, line and paragraph separators and bidirectional
// overrides become spaces, the ends are trimmed, and more than `maxCharacters`
// user-perceived characters end in "…". An error text with line breaks once forged
// 100,000 log lines.
std::string forDisplay(std::string_view s, size_t maxCharacters = 300);

}  // namespace larkspire::text

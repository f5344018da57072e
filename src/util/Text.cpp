#include "util/Text.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <memory>

namespace larkspire::text {
namespace {

icu::UnicodeString fromUtf8(std::string_view s) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
}

std::string toUtf8(const icu::UnicodeString& u) {
    std::string out;
    u.toUTF8String(out);
    return out;
}

std::unique_ptr<icu::BreakIterator> characterBreaks(const icu::UnicodeString& u) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !it) {
        return nullptr;
    }
    it->setText(u);
    return it;
}

bool isAscii(std::string_view s) {
    for (unsigned char c : s) {
        if (c >= 0x80) {
            return false;
        }
    }
    return true;
}

// Where the first `n` characters of ASCII text end: every byte is a character of its own
// except CR LF, which is one. Breaking text this way needs no break iterator, which
// costs microseconds per call (many window texts are short and plain).
size_t asciiPrefixEnd(std::string_view s, size_t n) {
    size_t i = 0;
    for (size_t taken = 0; taken < n && i < s.size(); ++taken) {
        i += (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? 2 : 1;
    }
    return i;
}

}  // namespace

std::string trimmed(std::string_view s) {
    const icu::UnicodeString u = fromUtf8(s);
    int32_t start = 0;
    int32_t end = u.length();
    while (start < end) {
        const UChar32 c = u.char32At(start);
        if (!u_isUWhiteSpace(c)) {
            break;
        }
        start += U16_LENGTH(c);
    }
    while (end > start) {
        const int32_t last = u.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(u.char32At(last))) {
            break;
        }
        end = last;
    }
    return toUtf8(icu::UnicodeString(u, start, end - start));
}

std::string lowercased(std::string_view s) {
    icu::UnicodeString u = fromUtf8(s);
    u.toLower(icu::Locale::getRoot());
    return toUtf8(u);
}

std::string nfc(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* n = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status) || n == nullptr) {
        return std::string(s);
    }
    icu::UnicodeString out = n->normalize(fromUtf8(s), status);
    return U_FAILURE(status) ? std::string(s) : toUtf8(out);
}

size_t characterCount(std::string_view s) {
    if (isAscii(s)) {
        size_t pairs = 0;
        for (size_t i = 0; i + 1 < s.size(); ++i) {
            pairs += s[i] == '\r' && s[i + 1] == '\n';
        }
        return s.size() - pairs;
    }
    const icu::UnicodeString u = fromUtf8(s);
    auto it = characterBreaks(u);
    if (!it) {
        return static_cast<size_t>(u.countChar32());
    }
    size_t count = 0;
    for (int32_t p = it->next(); p != icu::BreakIterator::DONE; p = it->next()) {
        ++count;
    }
    return count;
}

std::string prefixCharacters(std::string_view s, size_t n) {
    if (isAscii(s)) {
        return std::string(s.substr(0, asciiPrefixEnd(s, n)));
    }
    const icu::UnicodeString u = fromUtf8(s);
    auto it = characterBreaks(u);
    if (!it) {
        return toUtf8(icu::UnicodeString(u, 0, u.moveIndex32(0, static_cast<int32_t>(n))));
    }
    int32_t end = 0;
    for (size_t i = 0; i < n; ++i) {
        const int32_t p = it->next();
        if (p == icu::BreakIterator::DONE) {
            return toUtf8(u);
        }
        end = p;
    }
    return toUtf8(icu::UnicodeString(u, 0, end));
}

std::string forDisplay(std::string_view s, size_t maxCharacters) {
    icu::UnicodeString u = fromUtf8(s);
    for (int32_t i = 0; i < u.length();) {
        const UChar32 c = u.char32At(i);
        const int32_t width = U16_LENGTH(c);
        const int8_t type = u_charType(c);
        const bool bidiControl = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
        if (type == U_CONTROL_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR ||
            bidiControl) {
            u.replace(i, width, UChar(' '));
            i += 1;
        } else {
            i += width;
        }
    }
    const std::string line = trimmed(toUtf8(u));
    if (characterCount(line) <= maxCharacters) {
        return line;
    }
    return prefixCharacters(line, maxCharacters) + "…";
}

}  // namespace larkspire::text

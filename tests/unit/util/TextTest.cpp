#include <gtest/gtest.h>

#include <random>
#include <string>

#include "util/Text.h"

namespace larkspire {
namespace {

// Plain ASCII is counted without a break iterator; a non-ASCII letter appended sends the
// same text through ICU, which must agree (CR LF is one character, other controls one each).
TEST(Text, AsciiIsCountedAndCutAsIcuBreaksIt) {
    std::mt19937 random(3);
    const std::string alphabet = "ab \r\n\r\t\x01.";
    for (int round = 0; round < 500; ++round) {
        std::string s;
        const int length = std::uniform_int_distribution<int>(0, 40)(random);
        for (int i = 0; i < length; ++i) {
            s += alphabet[std::uniform_int_distribution<size_t>(0, alphabet.size() - 1)(random)];
        }
        const std::string icu = s + "é";
        const size_t count = text::characterCount(s);
        ASSERT_EQ(text::characterCount(icu), count + 1) << round;
        for (size_t n = 0; n <= count; ++n) {
            ASSERT_EQ(text::prefixCharacters(s, n), text::prefixCharacters(icu, n)) << round;
        }
    }
}

}  // namespace
}  // namespace larkspire

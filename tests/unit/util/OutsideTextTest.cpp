#include <gtest/gtest.h>

#include <string>

#include "util/BoundedJson.h"
#include "util/Text.h"

namespace larkspire {
namespace {

using std::string;

TEST(OutsideText, ShownAndLoggedOnOneSafeLine) {
    const struct {
        string in, out;
    } cases[] = {
        {"Quota reached", "Quota reached"},
        {"line\nforged: log line\r\n", "line forged: log line"},
        {string("nul\0bell\x07\x1b[31m", 14), "nul bell  [31m"},
        {"para\u2029graph\u2028line \u202Egnp.exe", "para graph line  gnp.exe"},
        {"\u0085next", "next"},
        {string(400, 'e'), string(300, 'e') + "…"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::forDisplay(c.in), c.out) << c.in;
    }
}

TEST(BoundedJson, DeepOrHugeAnswersAreRefusedBeforeParsing) {
    const auto nested = [](size_t depth) { return string(depth, '[') + string(depth, ']'); };
    EXPECT_FALSE(parseBoundedJson(nested(kMaximumJsonDepth)).is_discarded());
    EXPECT_TRUE(parseBoundedJson(nested(kMaximumJsonDepth + 1)).is_discarded());
    EXPECT_TRUE(parseBoundedJson(string(30'000'000, '[')).is_discarded());
    // Brackets inside strings, escaped quotes included, are text.
    EXPECT_FALSE(parseBoundedJson(R"({"a":"\")" + string(100, '[') + R"("})").is_discarded());

    string wide = "[";
    for (size_t i = 0; i < kMaximumJsonValues + 1; ++i) {
        wide += "0,";
    }
    wide += "0]";
    EXPECT_TRUE(parseBoundedJson(wide).is_discarded());
    EXPECT_TRUE(parseBoundedJson("{not json").is_discarded());
}

}  // namespace
}  // namespace larkspire

#include <gtest/gtest.h>

#include "input/FnKey.h"
#include "platform/fake/FakeSystemLog.h"

namespace larkspire {
namespace {

TEST(FnKeyChoice, DefaultIsRightAltUnlessTheLayoutTypesAltGrWithIt) {
    fake::FakeSystemLog log;
    EXPECT_EQ(chooseFnKey(std::nullopt, false, log), (FnKey{100, "Right Alt"}));
    EXPECT_EQ(chooseFnKey(std::nullopt, true, log), (FnKey{97, "Right Ctrl"}));
    EXPECT_TRUE(log.lines.empty());
}

TEST(FnKeyChoice, ConfiguredNameWinsEvenOverTheAltGrRule) {
    fake::FakeSystemLog log;
    EXPECT_EQ(chooseFnKey(std::string("KEY_RIGHTALT"), true, log), (FnKey{100, "Right Alt"}));
    EXPECT_EQ(chooseFnKey(std::string("KEY_RIGHTMETA"), false, log), (FnKey{126, "Right Super"}));
    EXPECT_EQ(chooseFnKey(std::string("KEY_F13"), false, log), (FnKey{183, "F13"}));
    EXPECT_TRUE(log.lines.empty());
}

TEST(FnKeyChoice, UnknownNamesAreLoggedAndTheDefaultApplies) {
    fake::FakeSystemLog log;
    // Names are Linux input key names, exactly: no lower case, no X keysym names.
    for (const char* name : {"key_rightalt", "Alt_R", "", "KEY_A"}) {
        EXPECT_EQ(chooseFnKey(std::string(name), false, log).inputCode, 100) << name;
    }
    ASSERT_EQ(log.lines.size(), 4u);
    EXPECT_EQ(log.lines[1], "Unknown fn_key \"Alt_R\" in ~/.vantrel/config.json; using Right Alt");
}

}  // namespace
}  // namespace larkspire

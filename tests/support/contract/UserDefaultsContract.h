#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/UserDefaults.h"

namespace larkspire::contract {

// What every UserDefaults does, fake and real alike. Instantiate with a type whose
// `open()` returns the store, a second call another instance over the same values.
template <class Store>
class UserDefaultsContract : public ::testing::Test {
  protected:
    Store store;
};
TYPED_TEST_SUITE_P(UserDefaultsContract);

TYPED_TEST_P(UserDefaultsContract, AbsentKeysReadAsNothing) {
    auto d = this->store.open();
    EXPECT_FALSE(d->contains("absent"));
    EXPECT_FALSE(d->boolValue("absent"));
    EXPECT_EQ(d->integerValue("absent"), std::nullopt);
    EXPECT_EQ(d->stringValue("absent"), std::nullopt);
}

// Values are text underneath, as in the real store's file: each reads back as written,
// and a read of another type converts the text, the same in every instance.
TYPED_TEST_P(UserDefaultsContract, ValuesReadBackAsTheirText) {
    using platform::UserDefaults;
    struct Case {
        std::string key;
        std::function<void(UserDefaults&)> write;
        bool asBool;
        std::optional<long long> asInteger;
        std::string asString;
    };
    const auto text = [](std::string key, std::string value) {
        return [=](UserDefaults& d) { d.setString(key, value); };
    };
    const std::vector<Case> cases = {
        {"true", [](UserDefaults& d) { d.setBool("true", true); }, true, std::nullopt, "true"},
        {"false", [](UserDefaults& d) { d.setBool("false", false); }, false, std::nullopt, "false"},
        {"zero", [](UserDefaults& d) { d.setInteger("zero", 0); }, false, 0, "0"},
        {"negative", [](UserDefaults& d) { d.setInteger("negative", -5); }, true, -5, "-5"},
        {"large", [](UserDefaults& d) { d.setInteger("large", 1LL << 40); }, true, 1LL << 40,
         "1099511627776"},
        {"empty", text("empty", ""), false, std::nullopt, ""},
        {"Vantrel.Origin", text("Vantrel.Origin", "{300.5, 200}; a=b é"), true, std::nullopt,
         "{300.5, 200}; a=b é"},
        {"spaced number", text("spaced number", " 12 "), true, 12, " 12 "},
        {"FALSE", text("FALSE", "FALSE"), false, std::nullopt, "FALSE"},
    };
    auto d = this->store.open();
    for (const Case& c : cases) {
        c.write(*d);
    }
    auto again = this->store.open();
    for (UserDefaults* instance : {d.get(), again.get()}) {
        for (const Case& c : cases) {
            EXPECT_TRUE(instance->contains(c.key)) << c.key;
            EXPECT_EQ(instance->boolValue(c.key), c.asBool) << c.key;
            EXPECT_EQ(instance->integerValue(c.key), c.asInteger) << c.key;
            EXPECT_EQ(instance->stringValue(c.key), c.asString) << c.key;
        }
    }
}

TYPED_TEST_P(UserDefaultsContract, ALaterWriteReplacesAndRemoveForgets) {
    auto d = this->store.open();
    d->setString("k", "text");
    d->setInteger("k", 7);
    EXPECT_EQ(d->integerValue("k"), 7);
    d->setBool("k", true);
    EXPECT_TRUE(d->boolValue("k"));
    d->remove("k");
    d->remove("never written");
    EXPECT_FALSE(d->contains("k"));
    EXPECT_EQ(this->store.open()->stringValue("k"), std::nullopt);
}

REGISTER_TYPED_TEST_SUITE_P(UserDefaultsContract, AbsentKeysReadAsNothing,
                            ValuesReadBackAsTheirText, ALaterWriteReplacesAndRemoveForgets);

}  // namespace larkspire::contract

#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/Keychain.h"

namespace larkspire::contract {

// What every Keychain does, fake and real alike. Instantiate with a type whose
// `make()` returns a fresh keychain.
template <class Maker>
class KeychainContract : public ::testing::Test {
  protected:
    KeychainContract() { clear(); }
    ~KeychainContract() override { clear(); }
    void clear() {
        for (const auto& id : {first, second, other}) {
            keychain->deleteItem(id);
        }
    }

    std::unique_ptr<platform::Keychain> keychain = Maker::make();
    // Items no other program uses.
    const platform::KeychainItemId first{"com.larkspire.contract", "first"};
    const platform::KeychainItemId second{"com.larkspire.contract", "second"};
    const platform::KeychainItemId other{"com.larkspire.contract.other", "first"};
};
TYPED_TEST_SUITE_P(KeychainContract);

TYPED_TEST_P(KeychainContract, EachOperationReportsItsStatus) {
    using platform::KeychainStatus;
    auto& k = *this->keychain;
    EXPECT_EQ(k.updateItem(this->first, "x"), KeychainStatus::itemNotFound);
    EXPECT_EQ(k.copyItem(this->first).status, KeychainStatus::itemNotFound);
    EXPECT_EQ(k.copyItem(this->first).data, std::nullopt);
    EXPECT_EQ(k.deleteItem(this->first), KeychainStatus::itemNotFound);
    EXPECT_EQ(k.addItem(this->first, "x"), KeychainStatus::success);
    EXPECT_EQ(k.addItem(this->first, "y"), KeychainStatus::duplicateItem);
    EXPECT_EQ(k.copyItem(this->first).data, "x") << "a refused add changes nothing";
    EXPECT_EQ(k.updateItem(this->first, "z"), KeychainStatus::success);
    const auto copied = k.copyItem(this->first);
    EXPECT_EQ(copied.status, KeychainStatus::success);
    EXPECT_EQ(copied.data, "z");
    EXPECT_EQ(k.deleteItem(this->first), KeychainStatus::success);
    EXPECT_EQ(k.copyItem(this->first).status, KeychainStatus::itemNotFound);
}

TYPED_TEST_P(KeychainContract, ItemsAreKeptApartByServiceAndAccount) {
    auto& k = *this->keychain;
    ASSERT_EQ(k.addItem(this->first, "1"), platform::KeychainStatus::success);
    ASSERT_EQ(k.addItem(this->second, "2"), platform::KeychainStatus::success);
    ASSERT_EQ(k.addItem(this->other, "3"), platform::KeychainStatus::success);
    k.updateItem(this->second, "2b");
    k.deleteItem(this->first);
    EXPECT_EQ(k.copyItem(this->first).data, std::nullopt);
    EXPECT_EQ(k.copyItem(this->second).data, "2b");
    EXPECT_EQ(k.copyItem(this->other).data, "3");
}

TYPED_TEST_P(KeychainContract, TextIsKeptAsWritten) {
    auto& k = *this->keychain;
    const std::string texts[] = {
        R"({"accessToken":"a.b-c_d","refreshToken":"r","expiresAt":1767225600.5})",
        "é ✓ \"quoted\"\nsecond line\t", std::string(4096, 'k')};
    ASSERT_EQ(k.addItem(this->first, "start"), platform::KeychainStatus::success);
    for (const std::string& text : texts) {
        EXPECT_EQ(k.updateItem(this->first, text), platform::KeychainStatus::success);
        EXPECT_EQ(k.copyItem(this->first).data, text);
    }
    ASSERT_EQ(k.addItem(this->second, texts[1]), platform::KeychainStatus::success);
    EXPECT_EQ(k.copyItem(this->second).data, texts[1]);
}

REGISTER_TYPED_TEST_SUITE_P(KeychainContract, EachOperationReportsItsStatus,
                            ItemsAreKeptApartByServiceAndAccount, TextIsKeptAsWritten);

}  // namespace larkspire::contract

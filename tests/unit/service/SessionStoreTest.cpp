#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/fake/FakeKeychain.h"
#include "service/SessionStore.h"

namespace larkspire {
namespace {

using fake::FakeKeychain;
using std::string;
using std::vector;

const NativeSession kSession{"access-1", "refresh-1", 1767225600.5};

TEST(SessionStoreTest, FirstSaveUpdatesThenAddsSecondUpdatesInPlace) {
    FakeKeychain keychain;
    SessionStore::save(keychain, kSession);
    EXPECT_EQ(keychain.calls(), (vector<string>{"update", "add"}));
    EXPECT_EQ(keychain.itemCount(), 1u);

    keychain.clearCalls();
    const NativeSession second{"access-2", "refresh-2", 1767229200};
    SessionStore::save(keychain, second);
    EXPECT_EQ(keychain.calls(), (vector<string>{"update"}));
    EXPECT_EQ(keychain.itemCount(), 1u);
    EXPECT_EQ(SessionStore::load(keychain), second);
}

TEST(SessionStoreTest, StoredFormHasExactlyTheThreeKeys) {
    FakeKeychain keychain;
    SessionStore::save(keychain, kSession);
    const auto stored = nlohmann::json::parse(*keychain.data(SessionStore::itemId()));
    EXPECT_EQ(stored, (nlohmann::json{{"accessToken", "access-1"},
                                      {"refreshToken", "refresh-1"},
                                      {"expiresAt", 1767225600.5}}));
    EXPECT_EQ(keychain.data(SessionStore::itemId())->find(' '), string::npos) << "compact JSON";
}

TEST(SessionStoreTest, LoadAfterClearIsNoneAndClearOfAbsentItemDoesNothing) {
    FakeKeychain keychain;
    SessionStore::save(keychain, kSession);
    ASSERT_EQ(SessionStore::load(keychain), kSession);
    SessionStore::clear(keychain);
    EXPECT_EQ(SessionStore::load(keychain), std::nullopt);
    EXPECT_EQ(keychain.itemCount(), 0u);
    SessionStore::clear(keychain);
    EXPECT_EQ(keychain.itemCount(), 0u);
}

TEST(SessionStoreTest, StrictDecodingLeavesUndecodableItemInPlace) {
    const vector<string> unreadable = {
        R"({"accessToken":"a","refreshToken":"r","expiresAt":"1767225600"})",
        R"({"accessToken":"a","refreshToken":"r"})",
        R"({"accessToken":"a","expiresAt":1})",
        R"({"accessToken":1,"refreshToken":"r","expiresAt":1})",
        R"(["a","r",1])",
        "not json",
        "",
    };
    for (const string& text : unreadable) {
        FakeKeychain keychain;
        keychain.put(SessionStore::itemId(), text);
        EXPECT_EQ(SessionStore::load(keychain), std::nullopt) << text;
        EXPECT_EQ(keychain.data(SessionStore::itemId()), text) << "left in place: " << text;
    }
    FakeKeychain keychain;
    keychain.put(SessionStore::itemId(),
                 R"({"expiresAt":12,"refreshToken":"r","accessToken":"a"})");
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"a", "r", 12}));
}

TEST(SessionStoreTest, UnavailableKeychainIsSilentAndReadsAsSignedOut) {
    FakeKeychain keychain;
    SessionStore::save(keychain, kSession);
    keychain.setUnavailable(true);
    keychain.clearCalls();
    SessionStore::save(keychain, NativeSession{"x", "y", 1});
    // A failure other than "not found" must not turn into an add of a second item.
    EXPECT_EQ(keychain.calls(), (vector<string>{"update"}));
    EXPECT_EQ(SessionStore::load(keychain), std::nullopt);
    SessionStore::clear(keychain);
    keychain.setUnavailable(false);
    EXPECT_EQ(SessionStore::load(keychain), kSession) << "the previous item survives";
}

TEST(SessionStoreTest, SessionWithInvalidUtf8IsNotWritten) {
    FakeKeychain keychain;
    SessionStore::save(keychain, NativeSession{"\xff\xfe", "r", 1});
    EXPECT_TRUE(keychain.calls().empty());
    EXPECT_EQ(keychain.itemCount(), 0u);
}

}  // namespace
}  // namespace larkspire

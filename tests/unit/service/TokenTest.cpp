#include <thread>

#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;
using AuthKind = APIClient::APIError::Kind;

constexpr const char* kRefresh = "/api/native-auth/refresh";
constexpr const char* kPassword = "/supabase/auth/v1/token";

AuthKind kindOf(APIClient& api) {
    try {
        api.ensureToken();
    } catch (const APIClient::APIError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "ensureToken did not raise";
    return AuthKind::notConfigured;
}

using EnsureTokenTest = ServiceTest;

TEST_F(EnsureTokenTest, TokenIsReusedUntil61SecondsLeftAndRenewedAt60) {
    transport->on(kRefresh, 200, sessionJson("A2", "R2", nowSeconds() + 7200));
    storeSession(3600, "A1", "R1");
    auto api = makeClient(configFor());
    EXPECT_EQ(api->cachedAccessToken(), "A1") << "loaded at construction";

    clock.advanceBy(std::chrono::seconds(3600 - 61));
    EXPECT_EQ(api->ensureToken(), "A1");
    EXPECT_TRUE(transport->sent().empty()) << "61 s before expiry: no traffic";

    clock.advanceBy(std::chrono::seconds(1));
    EXPECT_EQ(api->ensureToken(), "A2");
    EXPECT_EQ(transport->paths(), vector<string>{kRefresh}) << "60 s before expiry: renewed";
    EXPECT_EQ(sentTo(kRefresh).body, R"({"refreshToken":"R1"})") << "compact";
}

// An answer without expiry lasts an hour: see DecodeSessionIsLenientAboutExpiryOnly.
TEST_F(EnsureTokenTest, RefreshedSessionIsInstalledAndStored) {
    const double expiresAt = nowSeconds() + 7200.25;
    transport->on(kRefresh, 200, sessionJson("A2", "R2", expiresAt));
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    EXPECT_EQ(api->ensureToken(), "A2");
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"A2", "R2", expiresAt}));
    EXPECT_EQ(keychain.itemCount(), 1u);
    // Cached from now on.
    EXPECT_EQ(api->ensureToken(), "A2");
    EXPECT_EQ(transport->sent().size(), 1u);
}

TEST_F(EnsureTokenTest, RejectedRefreshDeletesStoredSessionAndFailsWithoutPassword) {
    transport->on(kRefresh, 401, R"({"error":"expired"})");
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    EXPECT_EQ(kindOf(*api), AuthKind::authFailed);
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_EQ(apiErrorText([&] { api->ensureToken(); }), "Sign-in failed");
    // The in-memory refresh token survives, so the refresh is tried again.
    EXPECT_EQ(transport->count(kRefresh), 2);
}

TEST_F(EnsureTokenTest, UnreadableRefreshAnswersAlsoDeleteTheStoredSession) {
    const vector<std::pair<int, string>> answers = {{200, "<html>"},
                                                    {200, R"({"accessToken":"A2"})"},
                                                    {201, sessionJson("A2", "R2", 1e10)},
                                                    {204, ""}};
    for (const auto& [status, body] : answers) {
        transport->on(kRefresh, status, body);
        storeSession(10, "A1", "R1");
        auto api = makeClient(configFor());
        EXPECT_EQ(kindOf(*api), AuthKind::authFailed) << status << " " << body;
        EXPECT_EQ(keychain.itemCount(), 0u) << status << " " << body;
    }
}

TEST_F(EnsureTokenTest, NetworkFailureDuringRefreshKeepsTheStoredSession) {
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());  // nothing answers: the connection is refused
    EXPECT_EQ(kindOf(*api), AuthKind::authFailed);
    EXPECT_EQ(SessionStore::load(keychain)->refreshToken, "R1");
}

TEST_F(EnsureTokenTest, PasswordSignInFollowsAFailedRefresh) {
    transport->on(kRefresh, 500, "down");
    transport->on(kPassword, 200,
                  R"({"access_token":"P1","expires_in":120,"refresh_token":"PR1"})");
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor(/*withPassword=*/true));
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(transport->paths(), (vector<string>{kRefresh, kPassword}));

    const HttpRequest r = sentTo(kPassword);
    EXPECT_EQ(headerOf(r, "apikey"), "anon-key-1");
    EXPECT_EQ(json::parse(r.body), (json{{"email", "ada@example.com"}, {"password", "pa$$word"}}));
    // With a refresh token the session is installed and stored.
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"P1", "PR1", nowSeconds() + 120}));
}

TEST_F(EnsureTokenTest, PasswordSignInWithoutRefreshTokenStoresNothingAndLastsAnHour) {
    transport->on(kPassword, 200, R"({"access_token":"P1"})");
    auto api = makeClient(configFor(/*withPassword=*/true));
    keychain.clearCalls();
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_TRUE(keychain.calls().empty()) << "nothing written";

    clock.advanceBy(std::chrono::seconds(3600 - 61));
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(transport->sent().size(), 1u);
    clock.advanceBy(std::chrono::seconds(1));
    transport->on(kPassword, 200, R"({"access_token":"P2","expires_in":"9"})");
    EXPECT_EQ(api->ensureToken(), "P2");
    EXPECT_EQ(transport->paths(), (vector<string>{kPassword, kPassword}))
        << "no refresh token ever: straight to password";
}

TEST_F(EnsureTokenTest, PasswordSignInKeepsTheEarlierRefreshToken) {
    transport->on(kRefresh, 500, "");
    transport->on(kPassword, 200, R"({"access_token":"P1","expires_in":100})");
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor(/*withPassword=*/true));
    EXPECT_EQ(api->ensureToken(), "P1");
    clock.advanceBy(std::chrono::seconds(41));
    transport->on(kRefresh, 200, sessionJson("A3", "R3", nowSeconds() + 999));
    EXPECT_EQ(api->ensureToken(), "A3");
    const auto refreshes = transport->sentTo(kRefresh);
    ASSERT_EQ(refreshes.size(), 2u);
    EXPECT_EQ(json::parse(refreshes[1].body)["refreshToken"], "R1");
}

TEST_F(EnsureTokenTest, PasswordSignInFailures) {
    const vector<std::pair<int, string>> answers = {
        {400, R"({"access_token":"P1"})"},
        {201, R"({"access_token":"P1"})"},
        {200, R"({"token":"P1"})"},
        {200, R"({"access_token":42})"},
        {200, "not json"},
    };
    for (const auto& [status, body] : answers) {
        transport->on(kPassword, status, body);
        auto api = makeClient(configFor(/*withPassword=*/true));
        EXPECT_EQ(kindOf(*api), AuthKind::authFailed) << status << " " << body;
    }
}

TEST_F(EnsureTokenTest, IncompletePasswordSettingsFailWithoutTraffic) {
    for (int missing = 0; missing < 4; ++missing) {
        Config config = configFor(/*withPassword=*/true);
        std::optional<string>* fields[] = {&config.supabase_url, &config.anon_key, &config.email,
                                           &config.password};
        fields[missing]->reset();
        auto api = makeClient(config);
        EXPECT_EQ(kindOf(*api), AuthKind::authFailed) << missing;
    }
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(EnsureTokenTest, UnusableAddressesFailWithAClearText) {
    Config config = configFor(/*withPassword=*/true);
    config.supabase_url = "supabase.example.com";
    auto api = makeClient(config);
    const string text = apiErrorText([&] { api->ensureToken(); });
    EXPECT_EQ(text,
              "The sign-in address “supabase.example.com” in the configuration (supabase_url) is "
              "not a usable URL");
    EXPECT_EQ(kindOf(*api), AuthKind::requestFailed);

    for (const string bad : {"127.0.0.1:3000", "not a url", "ftp://example.com", ""}) {
        storeSession(3600, "A1", "R1");
        Config c = configFor();
        c.api_url = bad;
        auto client = makeClient(c);
        EXPECT_EQ(
            apiErrorText([&] { client->fetchProjects(); }),
            "The service address “" + bad + "” in the configuration (api_url) is not a usable URL");
    }
    EXPECT_TRUE(transport->sent().empty());
}

TEST_F(EnsureTokenTest, ConcurrentCallersSpendTheRefreshTokenOnce) {
    transport->on(kRefresh, 200, sessionJson("A2", "R2", nowSeconds() + 7200));
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    vector<string> tokens(4);
    vector<std::thread> threads;
    for (size_t i = 0; i < tokens.size(); ++i) {
        threads.emplace_back([&, i] { tokens[i] = api->ensureToken(); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(tokens, vector<string>(4, "A2"));
    EXPECT_EQ(transport->count(kRefresh), 1);
}

TEST_F(EnsureTokenTest, DecodeSessionIsLenientAboutExpiryOnly) {
    auto api = makeClient(configFor());
    EXPECT_EQ(api->decodeSession(R"({"accessToken":"a","refreshToken":"r","expiresAt":12.5})"),
              (NativeSession{"a", "r", 12.5}));
    EXPECT_EQ(api->decodeSession(R"({"accessToken":"a","refreshToken":"r","expiresAt":"12"})"),
              (NativeSession{"a", "r", nowSeconds() + 3600}));
    EXPECT_EQ(api->decodeSession(R"({"accessToken":"a","refreshToken":"r"})"),
              (NativeSession{"a", "r", nowSeconds() + 3600}));
    EXPECT_EQ(api->decodeSession(R"({"accessToken":"a","expiresAt":1})"), std::nullopt);
    EXPECT_EQ(api->decodeSession(R"({"accessToken":"a","refreshToken":null})"), std::nullopt);
    EXPECT_EQ(api->decodeSession(R"([1])"), std::nullopt);
    EXPECT_EQ(api->decodeSession(""), std::nullopt);
}

TEST_F(EnsureTokenTest, InstallAdoptsAndStoresTheSession) {
    auto api = makeClient(configFor());
    api->install(NativeSession{"I1", "IR1", nowSeconds() + 61});
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"I1", "IR1", nowSeconds() + 61}));
    EXPECT_EQ(api->ensureToken(), "I1");
    EXPECT_TRUE(transport->sent().empty());
}

}  // namespace
}  // namespace larkspire::testing

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;
using AuthKind = APIClient::APIError::Kind;

// A loopback URL on which nothing listens: connections are refused.
string refusedUrl() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
}

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

TEST_F(EnsureTokenTest, ConstructionLoadsTheStoredSessionWithoutTraffic) {
    storeSession(600, "A", "R");
    auto api = makeClient(configFor());
    EXPECT_EQ(api->cachedAccessToken(), "A");
    EXPECT_EQ(api->ensureToken(), "A");
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(EnsureTokenTest, TokenIsReusedUntil61SecondsLeftAndRenewedAt60) {
    server.on("/api/native-auth/refresh", {200, sessionJson("A2", "R2", nowSeconds() + 7200)});
    storeSession(3600, "A1", "R1");
    auto api = makeClient(configFor());

    clock.advanceBy(std::chrono::seconds(3600 - 61));
    EXPECT_EQ(api->ensureToken(), "A1");
    EXPECT_TRUE(server.requests().empty()) << "61 s before expiry: no traffic";

    clock.advanceBy(std::chrono::seconds(1));
    EXPECT_EQ(api->ensureToken(), "A2");
    ASSERT_EQ(server.paths(), vector<string>{"/api/native-auth/refresh"})
        << "60 s before expiry: renewed";
}

TEST_F(EnsureTokenTest, RefreshRequestIsExact) {
    server.on("/api/native-auth/refresh", {200, sessionJson("A2", "R2", nowSeconds() + 7200)});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    ASSERT_EQ(api->ensureToken(), "A2");

    const auto requests = server.requestsTo("/api/native-auth/refresh");
    ASSERT_EQ(requests.size(), 1u);
    const RecordedRequest& r = requests[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/api/native-auth/refresh");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.headerCount("Authorization"), 0u);
    EXPECT_EQ(r.headerCount("User-Agent"), 0u);
    EXPECT_EQ(json::parse(r.body), (json{{"refreshToken", "R1"}}));
    EXPECT_EQ(r.body, R"({"refreshToken":"R1"})") << "compact";
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/native-auth/refresh"), 60);
}

TEST_F(EnsureTokenTest, RefreshedSessionIsInstalledAndStored) {
    const double expiresAt = nowSeconds() + 7200.25;
    server.on("/api/native-auth/refresh", {200, sessionJson("A2", "R2", expiresAt)});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    EXPECT_EQ(api->ensureToken(), "A2");
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"A2", "R2", expiresAt}));
    EXPECT_EQ(keychain.itemCount(), 1u);
    // Cached from now on.
    EXPECT_EQ(api->ensureToken(), "A2");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(EnsureTokenTest, RefreshAnswerWithoutExpiryLastsOneHourFromArrival) {
    server.on("/api/native-auth/refresh", {200, R"({"accessToken":"A2","refreshToken":"R2"})"});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    ASSERT_EQ(api->ensureToken(), "A2");
    EXPECT_DOUBLE_EQ(SessionStore::load(keychain)->expiresAt, nowSeconds() + 3600);
}

TEST_F(EnsureTokenTest, RejectedRefreshDeletesStoredSessionAndFailsWithoutPassword) {
    server.on("/api/native-auth/refresh", {401, R"({"error":"expired"})"});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor());
    EXPECT_EQ(kindOf(*api), AuthKind::authFailed);
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_EQ(apiErrorText([&] { api->ensureToken(); }), "Sign-in failed");
    // The in-memory refresh token survives, so the refresh is tried again.
    EXPECT_EQ(server.requestsTo("/api/native-auth/refresh").size(), 2u);
}

TEST_F(EnsureTokenTest, UnreadableRefreshAnswersAlsoDeleteTheStoredSession) {
    for (const CannedResponse& answer :
         {CannedResponse{200, "<html>"}, CannedResponse{200, R"({"accessToken":"A2"})"},
          CannedResponse{201, sessionJson("A2", "R2", 1e10)}, CannedResponse{204, ""}}) {
        server.on("/api/native-auth/refresh", answer);
        storeSession(10, "A1", "R1");
        auto api = makeClient(configFor());
        EXPECT_EQ(kindOf(*api), AuthKind::authFailed) << answer.status << " " << answer.body;
        EXPECT_EQ(keychain.itemCount(), 0u) << answer.status << " " << answer.body;
    }
}

TEST_F(EnsureTokenTest, NetworkFailureDuringRefreshKeepsTheStoredSession) {
    storeSession(10, "A1", "R1");
    Config config = configFor();
    config.api_url = refusedUrl();
    auto api = makeClient(config);
    EXPECT_EQ(kindOf(*api), AuthKind::authFailed);
    EXPECT_EQ(SessionStore::load(keychain)->refreshToken, "R1");
}

TEST_F(EnsureTokenTest, PasswordSignInFollowsAFailedRefresh) {
    server.on("/api/native-auth/refresh", {500, "down"});
    server.on("/supabase/auth/v1/token",
              {200, R"({"access_token":"P1","expires_in":120,"refresh_token":"PR1"})"});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor(/*withPassword=*/true));
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(server.paths(),
              (vector<string>{"/api/native-auth/refresh", "/supabase/auth/v1/token"}));

    const RecordedRequest r = server.requestsTo("/supabase/auth/v1/token").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/supabase/auth/v1/token?grant_type=password");
    EXPECT_EQ(r.header("apikey"), "anon-key-1");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.headerCount("Authorization"), 0u);
    EXPECT_EQ(json::parse(r.body), (json{{"email", "ada@example.com"}, {"password", "pa$$word"}}));
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/supabase/auth/v1/token"), 60);
    // With a refresh token the session is installed and stored.
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"P1", "PR1", nowSeconds() + 120}));
}

TEST_F(EnsureTokenTest, PasswordSignInWithoutRefreshTokenStoresNothingAndLastsAnHour) {
    server.on("/supabase/auth/v1/token", {200, R"({"access_token":"P1"})"});
    server.on("/api/native-auth/refresh", {500, ""});
    auto api = makeClient(configFor(/*withPassword=*/true));
    keychain.clearCalls();
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_TRUE(keychain.calls().empty()) << "nothing written";

    clock.advanceBy(std::chrono::seconds(3600 - 61));
    EXPECT_EQ(api->ensureToken(), "P1");
    EXPECT_EQ(server.requests().size(), 1u);
    clock.advanceBy(std::chrono::seconds(1));
    server.on("/supabase/auth/v1/token", {200, R"({"access_token":"P2","expires_in":"9"})"});
    EXPECT_EQ(api->ensureToken(), "P2");
    EXPECT_EQ(server.requests().size(), 2u) << "no refresh token ever: straight to password";
}

TEST_F(EnsureTokenTest, PasswordSignInKeepsTheEarlierRefreshToken) {
    server.on("/api/native-auth/refresh", {500, ""});
    server.on("/supabase/auth/v1/token", {200, R"({"access_token":"P1","expires_in":100})"});
    storeSession(10, "A1", "R1");
    auto api = makeClient(configFor(/*withPassword=*/true));
    EXPECT_EQ(api->ensureToken(), "P1");
    clock.advanceBy(std::chrono::seconds(41));
    server.clearRequests();
    server.on("/api/native-auth/refresh", {200, sessionJson("A3", "R3", nowSeconds() + 999)});
    EXPECT_EQ(api->ensureToken(), "A3");
    const auto refreshes = server.requestsTo("/api/native-auth/refresh");
    ASSERT_EQ(refreshes.size(), 1u);
    EXPECT_EQ(json::parse(refreshes[0].body)["refreshToken"], "R1");
}

TEST_F(EnsureTokenTest, PasswordSignInFailures) {
    const vector<CannedResponse> answers = {
        {400, R"({"access_token":"P1"})"},
        {201, R"({"access_token":"P1"})"},
        {200, R"({"token":"P1"})"},
        {200, R"({"access_token":42})"},
        {200, "not json"},
    };
    for (const CannedResponse& answer : answers) {
        server.on("/supabase/auth/v1/token", answer);
        auto api = makeClient(configFor(/*withPassword=*/true));
        EXPECT_EQ(kindOf(*api), AuthKind::authFailed) << answer.status << " " << answer.body;
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
    EXPECT_TRUE(server.requests().empty());
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
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(EnsureTokenTest, ConcurrentCallersSpendTheRefreshTokenOnce) {
    server.on("/api/native-auth/refresh", {200, sessionJson("A2", "R2", nowSeconds() + 7200)});
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
    EXPECT_EQ(server.requestsTo("/api/native-auth/refresh").size(), 1u);
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
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace larkspire::testing

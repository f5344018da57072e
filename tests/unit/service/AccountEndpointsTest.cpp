#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;
using Cases = vector<std::tuple<int, string, string>>;  // status, body, error text

using AccountTest = ServiceTest;

TEST_F(AccountTest, SignInCodeIsRequestedForTheAddressAsTyped) {
    transport->on("/api/native-auth/request", 200, "ignored");
    makeClient(configFor())->requestSignInCode(" ada@example.com ");
    EXPECT_EQ(json::parse(sentTo("/api/native-auth/request").body),
              (json{{"email", " ada@example.com "}}));
}

TEST_F(AccountTest, VerifySignInCodeInstallsAndStoresTheSession) {
    transport->on("/api/native-auth/verify", 200, sessionJson("V1", "VR1", nowSeconds() + 900));
    auto api = makeClient(configFor());
    api->verifySignInCode("ada@example.com", "123456 ");
    EXPECT_EQ(json::parse(sentTo("/api/native-auth/verify").body),
              (json{{"email", "ada@example.com"}, {"code", "123456 "}}));
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"V1", "VR1", nowSeconds() + 900}));
    EXPECT_EQ(api->ensureToken(), "V1");
    EXPECT_EQ(transport->sent().size(), 1u);
}

TEST_F(AccountTest, VerifySignInCodeFailuresStoreNothing) {
    const Cases cases = {
        {200, R"({"accessToken":"V1"})", "Invalid or expired code"},
        {200, R"({"accessToken":"V1","error":"Session incomplete"})", "Session incomplete"},
        {400, R"({"error":"Code expired"})", "Code expired"},
        {201, sessionJson("V1", "VR1", 1), "Invalid or expired code"},
        {500, "<html>", "Invalid or expired code"},
    };
    auto api = makeClient(configFor());
    for (const auto& [status, body, text] : cases) {
        transport->once("/api/native-auth/verify", status, body);
        EXPECT_EQ(apiErrorText([&] { api->verifySignInCode("a@b.c", "1"); }), text) << body;
    }
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_EQ(api->cachedAccessToken(), std::nullopt);
}

TEST_F(AccountTest, ActivationEventBodyWithTheGivenVersionOrTheAgentsOwn) {
    transport->on("/api/activation", 200, "");
    storeSession(3600, "T1", "R1");
    makeClient(configFor(), {.appVersion = "0.1.0"})->recordActivationEvent("signed_in", "i-1");
    makeClient(configFor())->recordActivationEvent("shortcut_ready", "i-1");
    const auto sent = transport->sentTo("/api/activation");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(json::parse(sent[0].body), (json{{"event", "signed_in"},
                                               {"installationId", "i-1"},
                                               {"platform", "macos"},
                                               {"appVersion", "0.1.0"}}));
    EXPECT_EQ(json::parse(sent[1].body)["appVersion"], LARKSPIRE_VERSION);
}

TEST_F(AccountTest, NativeStatusBody) {
    transport->once("/api/native-status", 200, "");
    auto api = signedInClient();
    api->updateNativeStatus("install-1", true, false, true, false);
    EXPECT_EQ(json::parse(sentTo("/api/native-status").body),
              (json{{"installationId", "install-1"},
                    {"platform", "macos"},
                    {"appVersion", LARKSPIRE_VERSION},
                    {"microphone", true},
                    {"accessibility", false},
                    {"inputMonitoring", true},
                    {"screenRecording", false}}));
}

TEST_F(AccountTest, FetchProjectsKeepsOrderAndSkipsIncompleteEntries) {
    transport->once(
        "/api/projects", 200,
        R"({"projects":[{"id":"p2","name":"Beta"},{"id":"p9"},{"id":"p1","name":"Alpha"}]})");
    transport->once("/api/projects", 200, R"({"projects":[]})");
    auto api = signedInClient();
    EXPECT_EQ(api->fetchProjects(), (vector<ProjectChoice>{{"p2", "Beta"}, {"p1", "Alpha"}}));
    EXPECT_TRUE(api->fetchProjects().empty());
}

}  // namespace
}  // namespace larkspire::testing

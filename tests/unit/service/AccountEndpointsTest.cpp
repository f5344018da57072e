#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

using AccountTest = ServiceTest;

TEST_F(AccountTest, RequestSignInCodeSendsTheAddressAsTypedWithoutAuthorization) {
    server.on("/api/native-auth/request", {200, "ignored"});
    auto api = makeClient(configFor());
    api->requestSignInCode(" ada@example.com ");
    const RecordedRequest r = server.requestsTo("/api/native-auth/request").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.headerCount("Authorization"), 0u);
    EXPECT_EQ(json::parse(r.body), (json{{"email", " ada@example.com "}}));
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/native-auth/request"), 60);
}

TEST_F(AccountTest, RequestSignInCodeFailures) {
    const vector<std::pair<CannedResponse, string>> cases = {
        {{429, "<html>slow down</html>"}, "Couldn’t send sign-in code"},
        {{400, R"({"error":"Enter a valid email"})"}, "Enter a valid email"},
        {{201, "{}"}, "Couldn’t send sign-in code"},
        {{204, ""}, "Couldn’t send sign-in code"},
    };
    auto api = makeClient(configFor());
    for (const auto& [answer, text] : cases) {
        server.once("/api/native-auth/request", answer);
        EXPECT_EQ(apiErrorText([&] { api->requestSignInCode("a@b.c"); }), text) << answer.status;
    }
}

TEST_F(AccountTest, VerifySignInCodeInstallsAndStoresTheSession) {
    server.on("/api/native-auth/verify", {200, sessionJson("V1", "VR1", nowSeconds() + 900)});
    auto api = makeClient(configFor());
    api->verifySignInCode("ada@example.com", "123456 ");
    const RecordedRequest r = server.requestsTo("/api/native-auth/verify").at(0);
    EXPECT_EQ(json::parse(r.body), (json{{"email", "ada@example.com"}, {"code", "123456 "}}));
    EXPECT_EQ(r.headerCount("Authorization"), 0u);
    EXPECT_EQ(SessionStore::load(keychain), (NativeSession{"V1", "VR1", nowSeconds() + 900}));
    EXPECT_EQ(api->ensureToken(), "V1");
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(AccountTest, VerifySignInCodeFailuresStoreNothing) {
    const vector<std::pair<CannedResponse, string>> cases = {
        {{200, R"({"accessToken":"V1"})"}, "Invalid or expired code"},
        {{200, R"({"accessToken":"V1","error":"Session incomplete"})"}, "Session incomplete"},
        {{400, R"({"error":"Code expired"})"}, "Code expired"},
        {{201, sessionJson("V1", "VR1", 1)}, "Invalid or expired code"},
        {{500, "<html>"}, "Invalid or expired code"},
    };
    auto api = makeClient(configFor());
    for (const auto& [answer, text] : cases) {
        server.once("/api/native-auth/verify", answer);
        EXPECT_EQ(apiErrorText([&] { api->verifySignInCode("a@b.c", "1"); }), text) << answer.body;
    }
    EXPECT_EQ(keychain.itemCount(), 0u);
    EXPECT_EQ(api->cachedAccessToken(), std::nullopt);
}

TEST_F(AccountTest, ActivationEventBodyHeadersAndTimeout) {
    server.on("/api/activation", {200, ""});
    storeSession(3600, "T1", "R1");
    APIClient::Options options;
    options.appVersion = "0.1.0";
    APIClient api(configFor(), clock, keychain, transport, options);
    api.recordActivationEvent("signed_in", "install-1");
    const RecordedRequest r = server.requestsTo("/api/activation").at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.header("Authorization"), "Bearer T1");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(json::parse(r.body), (json{{"event", "signed_in"},
                                         {"installationId", "install-1"},
                                         {"platform", "macos"},
                                         {"appVersion", "0.1.0"}}));
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/activation"), 10);
}

TEST_F(AccountTest, WithoutAGivenVersionTheAgentsOwnIsSent) {
    server.on("/api/activation", {200, ""});
    auto api = signedInClient();
    api->recordActivationEvent("shortcut_ready", "i");
    EXPECT_EQ(json::parse(server.requestsTo("/api/activation").at(0).body)["appVersion"],
              LARKSPIRE_VERSION);
}

TEST_F(AccountTest, NativeStatusBodyAndFailures) {
    server.on("/api/native-status", {200, ""});
    auto api = signedInClient();
    api->updateNativeStatus("install-1", true, false, true, false);
    const RecordedRequest r = server.requestsTo("/api/native-status").at(0);
    EXPECT_EQ(r.header("Authorization"), "Bearer T1");
    EXPECT_EQ(json::parse(r.body), (json{{"installationId", "install-1"},
                                         {"platform", "macos"},
                                         {"appVersion", LARKSPIRE_VERSION},
                                         {"microphone", true},
                                         {"accessibility", false},
                                         {"inputMonitoring", true},
                                         {"screenRecording", false}}));
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/native-status"), 10);

    server.once("/api/native-status", {503, "Service Unavailable"});
    EXPECT_EQ(apiErrorText([&] { api->updateNativeStatus("i", true, true, true, true); }),
              "Native status HTTP 503");
    server.once("/api/native-status", {201, "{}"});
    EXPECT_EQ(apiErrorText([&] { api->updateNativeStatus("i", true, true, true, true); }),
              "Native status HTTP 201");
    server.once("/api/native-status", {400, R"({"error":"Unknown installation"})"});
    EXPECT_EQ(apiErrorText([&] { api->updateNativeStatus("i", true, true, true, true); }),
              "Unknown installation");
}

TEST_F(AccountTest, ActivationAndStatus401KeepTheToken) {
    server.on("/api/activation", {401, R"({"error":"Unauthorized"})"});
    server.on("/api/native-status", {401, "{}"});
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText([&] { api->recordActivationEvent("signed_in", "i"); }), "Unauthorized");
    EXPECT_EQ(apiErrorText([&] { api->updateNativeStatus("i", 1, 1, 1, 1); }),
              "Native status HTTP 401");
    server.once("/api/activation", {500, "x"});
    EXPECT_EQ(apiErrorText([&] { api->recordActivationEvent("signed_in", "i"); }),
              "Activation event failed");
    EXPECT_EQ(api->cachedAccessToken(), "T1");
    EXPECT_TRUE(server.requestsTo("/api/native-auth/refresh").empty());
}

TEST_F(AccountTest, FetchProjectsKeepsOrderAndSkipsIncompleteEntries) {
    server.on(
        "/api/projects",
        {200,
         R"({"projects":[{"id":"p2","name":"Beta"},{"id":"p9"},{"id":"p1","name":"Alpha"}]})"});
    auto api = signedInClient();
    EXPECT_EQ(api->fetchProjects(), (vector<ProjectChoice>{{"p2", "Beta"}, {"p1", "Alpha"}}));
    const RecordedRequest r = server.requestsTo("/api/projects").at(0);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.header("Authorization"), "Bearer T1");
    EXPECT_EQ(r.headerCount("Content-Type"), 0u);
    EXPECT_TRUE(r.body.empty());
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/projects"), 60);

    server.once("/api/projects", {200, R"({"projects":[]})"});
    EXPECT_TRUE(api->fetchProjects().empty());
}

TEST_F(AccountTest, FetchProjectsFailures) {
    const vector<std::pair<CannedResponse, string>> cases = {
        {{200, R"({"projects":[{"id":"a","name":"A"},"b"]})"}, "Projects request HTTP 200"},
        {{200, R"({"projects":{}})"}, "Projects request HTTP 200"},
        {{200, "[]"}, "Projects request HTTP 200"},
        {{201, R"({"projects":[]})"}, "Projects request HTTP 201"},
        {{500, R"({"error":"Projects offline"})"}, "Projects offline"},
    };
    auto api = signedInClient();
    for (const auto& [answer, text] : cases) {
        server.once("/api/projects", answer);
        EXPECT_EQ(apiErrorText([&] { api->fetchProjects(); }), text) << answer.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1");
}

TEST_F(AccountTest, FetchProjects401DropsTheTokenSoTheNextCallRefreshesFirst) {
    server.once("/api/projects", {401, "{}"});
    server.on("/api/native-auth/refresh", {200, sessionJson("T2", "R2", nowSeconds() + 3600)});
    server.on("/api/projects", {200, R"({"projects":[]})"});
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText([&] { api->fetchProjects(); }), "Projects request HTTP 401");
    EXPECT_EQ(api->cachedAccessToken(), std::nullopt);
    api->fetchProjects();
    EXPECT_EQ(server.paths(),
              (vector<string>{"/api/projects", "/api/native-auth/refresh", "/api/projects"}));
    EXPECT_EQ(server.requestsTo("/api/projects").at(1).header("Authorization"), "Bearer T2");
}

TEST_F(AccountTest, AuthorisedOperationsSendNothingWithoutASession) {
    auto api = makeClient(configFor());
    EXPECT_EQ(apiErrorText([&] { api->recordActivationEvent("signed_in", "i"); }),
              "Sign-in failed");
    EXPECT_EQ(apiErrorText([&] { api->updateNativeStatus("i", 1, 1, 1, 1); }), "Sign-in failed");
    EXPECT_EQ(apiErrorText([&] { api->fetchProjects(); }), "Sign-in failed");
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace larkspire::testing

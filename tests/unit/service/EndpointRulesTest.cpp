// Rules every endpoint shares, one table each: the shape of the request and what a 401
// answer does to the cached token.
#include <functional>

#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using std::string;
using std::vector;
using Call = std::function<void(APIClient&)>;

const Bytes kWav = WAV::wrap(Bytes(64, 1));
const DraftContext kContext{"Mail", "Re: lunch", "AXTextArea", "", "", ""};

using EndpointRules = ServiceTest;

TEST_F(EndpointRules, RequestShapeOfEveryEndpoint) {
    struct Case {
        string path;
        string answer;
        Call call;
        string method;
        string query;
        bool authorised;
        string contentType;  // a prefix; empty: no Content-Type and no body
        double timeoutSeconds;
    };
    const vector<Case> cases = {
        {"/api/native-auth/request", "{}", [](APIClient& a) { a.requestSignInCode("a@b.c"); },
         "POST", "", false, "application/json", 60},
        {"/api/native-auth/verify", sessionJson("V", "R", 1e10),
         [](APIClient& a) { a.verifySignInCode("a@b.c", "1"); }, "POST", "", false,
         "application/json", 60},
        {"/supabase/auth/v1/token", R"({"access_token":"P1"})",
         [](APIClient& a) { a.ensureToken(); }, "POST", "?grant_type=password", false,
         "application/json", 60},
        {"/api/transcribe", R"({"text":"t"})",
         [](APIClient& a) { a.transcribeSingle(kWav, 1, false); }, "POST", "", true,
         "multipart/form-data; boundary=dictation-", 120},
        {"/api/transcribe/finalize", R"({"row":{"text":"t"}})",
         [](APIClient& a) { a.finalizeLongRecording("r", "c", 1); }, "POST", "", true,
         "application/json", 60},
        {"/api/activation", "", [](APIClient& a) { a.recordActivationEvent("signed_in", "i"); },
         "POST", "", true, "application/json", 10},
        {"/api/native-status", "", [](APIClient& a) { a.updateNativeStatus("i", 1, 1, 1, 1); },
         "POST", "", true, "application/json", 10},
        {"/api/projects", R"({"projects":[]})", [](APIClient& a) { a.fetchProjects(); }, "GET", "",
         true, "", 60},
        {"/api/contextual", R"({"draft":"d"})",
         [](APIClient& a) { a.contextualDraft("i", kContext, std::nullopt, std::nullopt); }, "POST",
         "", true, "application/json", 60},
        {"/api/speech", "audio", [](APIClient& a) { a.speech("x"); }, "POST", "", true,
         "application/json", 60},
        {"/api/notes", R"({"notes":[]})", [](APIClient& a) { a.fetchNotes("", true); }, "GET",
         "?full=1", true, "", 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        transport = std::make_shared<ScriptedTransport>();
        transport->on(c.path, 200, c.answer);
        // Signed in where the endpoint needs it; signing in itself needs the password.
        SessionStore::clear(keychain);
        auto api = c.authorised ? signedInClient() : makeClient(configFor(true));
        c.call(*api);
        const HttpRequest r = sentTo(c.path);
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.url, kServiceUrl + c.path + c.query);
        EXPECT_EQ(headerOf(r, "Authorization"),
                  c.authorised ? std::optional<string>("Bearer T1") : std::nullopt);
        if (c.contentType.empty()) {
            EXPECT_EQ(headerCount(r, "Content-Type"), 0u);
            EXPECT_TRUE(r.body.empty());
        } else {
            EXPECT_TRUE(headerOf(r, "Content-Type").value_or("").starts_with(c.contentType))
                << headerOf(r, "Content-Type").value_or("<none>");
        }
        EXPECT_EQ(std::chrono::duration<double>(r.timeout).count(), c.timeoutSeconds);
        EXPECT_EQ(transport->sent().size(), 1u) << "one request, nothing else";
    }
}

TEST_F(EndpointRules, A401DropsTheTokenExceptWhereTheAnswerIsStillUsable) {
    struct Case {
        string path;
        string body;
        Call call;
        string error;  // empty: the call succeeds
        bool keepsToken;
    };
    const vector<Case> cases = {
        {"/api/transcribe", R"({"row":{"text":"late"}})",
         [](APIClient& a) { a.transcribeSingle(kWav, 1, false); }, "", true},
        {"/api/transcribe", R"({"error":"JWT expired"})",
         [](APIClient& a) { a.transcribeSingle(kWav, 1, false); }, "JWT expired", false},
        {"/api/transcribe/finalize", R"({"error":"JWT expired"})",
         [](APIClient& a) { a.finalizeLongRecording("r", "c", 1); }, "JWT expired", true},
        {"/api/activation", R"({"error":"Unauthorized"})",
         [](APIClient& a) { a.recordActivationEvent("signed_in", "i"); }, "Unauthorized", true},
        {"/api/native-status", "{}", [](APIClient& a) { a.updateNativeStatus("i", 1, 1, 1, 1); },
         "Native status HTTP 401", true},
        {"/api/projects", "{}", [](APIClient& a) { a.fetchProjects(); },
         "Projects request HTTP 401", false},
        {"/api/contextual", R"({"draft":"ignored on 401"})",
         [](APIClient& a) { a.contextualDraft("i", kContext, std::nullopt, std::nullopt); },
         "Context request HTTP 401", false},
        {"/api/speech", "<html>", [](APIClient& a) { a.speech("x"); }, "Speech request HTTP 401",
         false},
        {"/api/notes", R"({"error":"JWT expired"})", [](APIClient& a) { a.fetchNotes("", true); },
         "notes fetch HTTP 401", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.body);
        transport->once(c.path, 401, c.body);
        auto api = signedInClient();
        const string error = apiErrorText([&] { c.call(*api); });
        EXPECT_EQ(error, c.error.empty() ? "<no APIError>" : c.error);
        EXPECT_EQ(api->cachedAccessToken().has_value(), c.keepsToken);
    }
}

TEST_F(EndpointRules, AfterADroppedTokenTheNextCallRefreshesFirst) {
    transport->once("/api/projects", 401, "{}");
    transport->on("/api/native-auth/refresh", 200, sessionJson("T2", "R2", nowSeconds() + 3600));
    transport->on("/api/projects", 200, R"({"projects":[]})");
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText([&] { api->fetchProjects(); }), "Projects request HTTP 401");
    api->fetchProjects();
    EXPECT_EQ(transport->paths(),
              (vector<string>{"/api/projects", "/api/native-auth/refresh", "/api/projects"}));
    EXPECT_EQ(headerOf(transport->sent().back(), "Authorization"), "Bearer T2");
}

TEST_F(EndpointRules, AuthorisedOperationsSendNothingWithoutASession) {
    auto api = makeClient(configFor());
    const vector<Call> calls = {
        [](APIClient& a) { a.transcribeWithReceipt(kWav, 1, false); },
        [](APIClient& a) { a.recordActivationEvent("signed_in", "i"); },
        [](APIClient& a) { a.updateNativeStatus("i", 1, 1, 1, 1); },
        [](APIClient& a) { a.fetchProjects(); },
        [](APIClient& a) { a.fetchNotes("", true); },
    };
    for (const Call& call : calls) {
        EXPECT_EQ(apiErrorText([&] { call(*api); }), "Sign-in failed");
    }
    EXPECT_TRUE(transport->sent().empty());
}

}  // namespace
}  // namespace larkspire::testing

// Rules every endpoint shares, one table each: the shape of the request and what a 401
// answer does to the cached token.
#include <functional>
#include <map>

#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using std::string;
using std::vector;
using Call = std::function<void(APIClient&)>;

const Bytes kWav = WAV::wrap(Bytes(64, 1));
const DraftContext kContext{"Mail", "Re: lunch", "AXTextArea", "", "", ""};

// One call of each endpoint, by the path it sends to.
const std::map<string, Call>& calls() {
    static const std::map<string, Call> all = {
        {"/api/native-auth/request", [](APIClient& a) { a.requestSignInCode("a@b.c"); }},
        {"/api/native-auth/verify", [](APIClient& a) { a.verifySignInCode("a@b.c", "1"); }},
        {"/supabase/auth/v1/token", [](APIClient& a) { a.ensureToken(); }},
        {"/api/transcribe", [](APIClient& a) { a.transcribeSingle(kWav, 1, false); }},
        {"/api/transcribe/finalize", [](APIClient& a) { a.finalizeLongRecording("r", "c", 1); }},
        {"/api/activation", [](APIClient& a) { a.recordActivationEvent("signed_in", "i"); }},
        {"/api/native-status", [](APIClient& a) { a.updateNativeStatus("i", 1, 1, 1, 1); }},
        {"/api/projects", [](APIClient& a) { a.fetchProjects(); }},
        {"/api/contextual",
         [](APIClient& a) { a.contextualDraft("i", kContext, std::nullopt, std::nullopt); }},
        {"/api/speech", [](APIClient& a) { a.speech("x"); }},
        {"/api/notes", [](APIClient& a) { a.fetchNotes("", true); }},
    };
    return all;
}

using EndpointRules = ServiceTest;

TEST_F(EndpointRules, RequestShapeOfEveryEndpoint) {
    struct Case {
        string path, answer, method, query;
        bool authorised;
        string contentType;  // a prefix; empty: no Content-Type and no body
        double timeoutSeconds;
    };
    const string json = "application/json";
    const vector<Case> cases = {
        {"/api/native-auth/request", "{}", "POST", "", false, json, 60},
        {"/api/native-auth/verify", sessionJson("V", "R", 1e10), "POST", "", false, json, 60},
        {"/supabase/auth/v1/token", R"({"access_token":"P1"})", "POST", "?grant_type=password",
         false, json, 60},
        {"/api/transcribe", R"({"text":"t"})", "POST", "", true,
         "multipart/form-data; boundary=dictation-", 120},
        {"/api/transcribe/finalize", R"({"row":{"text":"t"}})", "POST", "", true, json, 60},
        {"/api/activation", "", "POST", "", true, json, 10},
        {"/api/native-status", "", "POST", "", true, json, 10},
        {"/api/projects", R"({"projects":[]})", "GET", "", true, "", 60},
        {"/api/contextual", R"({"draft":"d"})", "POST", "", true, json, 60},
        {"/api/speech", "audio", "POST", "", true, json, 60},
        {"/api/notes", R"({"notes":[]})", "GET", "?full=1", true, "", 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        transport = std::make_shared<ScriptedTransport>();
        transport->on(c.path, 200, c.answer);
        // Signed in where the endpoint needs it; signing in itself needs the password.
        SessionStore::clear(keychain);
        auto api = c.authorised ? signedInClient() : makeClient(configFor(true));
        calls().at(c.path)(*api);
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

// Which answers fail, and with which text: the service's "error" string where the endpoint
// reads one, its own text otherwise. None of them drops the token.
TEST_F(EndpointRules, FailureTextsOfEveryEndpoint) {
    struct Case {
        string path;
        int status;
        string body, text;
    };
    const string sendCode = "Couldn’t send sign-in code",
                 save = "Couldn’t save the completed recording";
    const vector<Case> cases = {
        {"/api/native-auth/request", 429, "<html>slow down</html>", sendCode},
        {"/api/native-auth/request", 400, R"({"error":"Enter a valid email"})",
         "Enter a valid email"},
        {"/api/native-auth/request", 201, "{}", sendCode},
        {"/api/native-auth/request", 204, "", sendCode},
        {"/api/activation", 500, "x", "Activation event failed"},
        {"/api/native-status", 503, "Service Unavailable", "Native status HTTP 503"},
        {"/api/native-status", 201, "{}", "Native status HTTP 201"},
        {"/api/native-status", 400, R"({"error":"Unknown installation"})", "Unknown installation"},
        {"/api/projects", 200, R"({"projects":[{"id":"a","name":"A"},"b"]})",
         "Projects request HTTP 200"},
        {"/api/projects", 200, R"({"projects":{}})", "Projects request HTTP 200"},
        {"/api/projects", 200, "[]", "Projects request HTTP 200"},
        {"/api/projects", 201, R"({"projects":[]})", "Projects request HTTP 201"},
        {"/api/projects", 500, R"({"error":"Projects offline"})", "Projects offline"},
        {"/api/contextual", 200, "not json", "Context request HTTP 200"},
        {"/api/contextual", 200, R"(["draft"])", "Context request HTTP 200"},
        {"/api/contextual", 200, R"({"draft":5})", "Context request HTTP 200"},
        {"/api/contextual", 200, "{}", "Context request HTTP 200"},
        {"/api/contextual", 502, "<html>", "Context request HTTP 502"},
        {"/api/contextual", 429, R"({"error":"Slow down"})", "Slow down"},
        {"/api/contextual", 429, R"({"error":429})", "Context request HTTP 429"},
        {"/api/contextual", 201, R"({"draft":"d"})", "Context request HTTP 201"},
        {"/api/speech", 500, R"({"error":"Voice offline"})", "Voice offline"},
        {"/api/speech", 204, "", "Speech request HTTP 204"},
        // The notes never read the "error" member.
        {"/api/notes", 500, R"({"error":"Database down"})", "notes fetch HTTP 500"},
        {"/api/notes", 200, R"({"notes":{}})", "notes fetch HTTP 200"},
        {"/api/notes", 200, R"({"notes":[{"id":"a"},3]})", "notes fetch HTTP 200"},
        {"/api/notes", 200, R"({"error":"x"})", "notes fetch HTTP 200"},
        {"/api/notes", 200, "<html>", "notes fetch HTTP 200"},
        {"/api/transcribe", 500, "<html>oops</html>", "HTTP 500"},
        {"/api/transcribe", 200, "[]", "HTTP 200"},
        {"/api/transcribe", 200, R"({"row":"text"})", "HTTP 200"},
        {"/api/transcribe", 422, R"({"error":"Audio too short"})", "Audio too short"},
        {"/api/transcribe", 422, R"({"error":{"message":"x"}})", "HTTP 422"},
        {"/api/transcribe", 503, R"({"error":5})", "HTTP 503"},
        {"/api/transcribe/finalize", 200, R"({"text":"top only"})", save},
        {"/api/transcribe/finalize", 201, R"({"row":{"text":"t"}})", save},
        {"/api/transcribe/finalize", 500, R"({"error":"Database unavailable"})",
         "Database unavailable"},
        {"/api/transcribe/finalize", 500, R"({"error":false})", save},
    };
    auto api = signedInClient();
    for (const Case& c : cases) {
        transport->once(c.path, c.status, c.body);
        EXPECT_EQ(apiErrorText([&] { calls().at(c.path)(*api); }), c.text)
            << c.path << " " << c.status << " " << c.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1");
}

TEST_F(EndpointRules, A401DropsTheTokenExceptWhereTheAnswerIsStillUsable) {
    struct Case {
        string path, body;
        string error;  // empty: the call succeeds
        bool keepsToken;
    };
    const vector<Case> cases = {
        {"/api/transcribe", R"({"row":{"text":"late"}})", "", true},
        {"/api/transcribe", R"({"error":"JWT expired"})", "JWT expired", false},
        {"/api/transcribe/finalize", R"({"error":"JWT expired"})", "JWT expired", true},
        {"/api/activation", R"({"error":"Unauthorized"})", "Unauthorized", true},
        {"/api/native-status", "{}", "Native status HTTP 401", true},
        {"/api/projects", "{}", "Projects request HTTP 401", false},
        {"/api/contextual", R"({"draft":"ignored on 401"})", "Context request HTTP 401", false},
        {"/api/speech", "<html>", "Speech request HTTP 401", false},
        {"/api/notes", R"({"error":"JWT expired"})", "notes fetch HTTP 401", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " " + c.body);
        transport->once(c.path, 401, c.body);
        auto api = signedInClient();
        const string error = apiErrorText([&] { calls().at(c.path)(*api); });
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
    const Call transcribe = [](APIClient& a) { a.transcribeWithReceipt(kWav, 1, false); };
    for (const Call& call :
         {transcribe, calls().at("/api/activation"), calls().at("/api/native-status"),
          calls().at("/api/projects"), calls().at("/api/notes")}) {
        EXPECT_EQ(apiErrorText([&] { call(*api); }), "Sign-in failed");
    }
    EXPECT_TRUE(transport->sent().empty());
}

}  // namespace
}  // namespace larkspire::testing

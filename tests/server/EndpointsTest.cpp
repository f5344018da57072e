// The remaining endpoints over HTTP: speech, contextual drafts, activation, permission status,
// projects, note editing, the web pages, and every endpoint's refusal of a bad request.
#include <gtest/gtest.h>

#include "ServiceProcess.h"
#include "server/speech/Wav.h"

namespace larkspire::server::testing {
namespace {

class Endpoints : public ::testing::Test {
  protected:
    Json draft(const Json& body) {
        auto r = service.postJson("/api/contextual", body, token);
        EXPECT_EQ(r->status, 200) << r->body;
        return Json::parse(r->body);
    }
    static Json context(const std::string& instruction, const Json& fields = Json::object()) {
        Json c{{"instruction", instruction},
               {"application", ""},
               {"windowTitle", ""},
               {"role", "AXTextArea"},
               {"selectedText", ""},
               {"surroundingText", ""},
               {"windowText", ""}};
        c.update(fields);
        return c;
    }
    Json finalize(const std::string& raw) {
        auto r = service.postJson(
            "/api/transcribe/finalize",
            {{"rawText", raw}, {"cleanedText", raw}, {"durationSecs", 1}, {"source", "mac"}},
            token);
        return Json::parse(r->body)["row"];
    }
    Json notes(const std::string& query = "?full=1") {
        return Json::parse(service.get("/api/notes" + query, token)->body)["notes"];
    }

    ServiceProcess service;
    std::string token = service.signIn("ends@example.com")["accessToken"];
};

TEST_F(Endpoints, BadRequestsAreRefusedWithTheirText) {
    struct Case {
        std::string path, body;
        int status;
        std::string error;
    };
    const std::string report = R"("installationId":"a1b2","platform":"macos","appVersion":"dev")";
    const std::vector<Case> cases{
        {"/api/native-auth/request", "{}", 400, "Enter a valid e-mail address"},
        {"/api/native-auth/request", R"({"email":"not an address"})", 400,
         "Enter a valid e-mail address"},
        {"/api/native-auth/verify", R"({"email":"a@example.com"})", 400,
         "E-mail and code are required"},
        {"/api/native-auth/verify", R"({"email":"nobody@example.com","code":"123456"})", 400,
         "Invalid or expired code"},
        {"/api/native-auth/refresh", R"({"refreshToken":"nonsense"})", 401,
         "Invalid refresh token"},
        {"/api/native-auth/refresh", "{}", 400, "Missing refresh token"},
        {"/api/speech", R"({"text":"  "})", 400, "Missing text"},
        {"/api/speech", Json{{"text", std::string(10001, 'a')}}.dump(), 413,
         "Text is too long to read aloud"},
        {"/api/contextual", R"({"application":"x"})", 400, "Missing instruction"},
        {"/api/contextual", context("write x", {{"windowText", 5}}).dump(), 400,
         "windowText must be a string"},
        {"/api/contextual", context("write x", {{"windowImage", "not base64!"}}).dump(), 400,
         "windowImage must be Base64 text"},
        {"/api/activation", R"({"event":"signed_in","installationId":"3f2b","appVersion":"dev"})",
         400, "Missing activation fields"},
        {"/api/native-status",
         "{" + report + R"(,"microphone":"yes","accessibility":false,"inputMonitoring":true,)" +
             R"("screenRecording":false})",
         400, "Invalid native status report"},
        {"/api/projects", R"({"name":""})", 400, "A project needs a name of 1 to 100 characters"},
        {"/api/transcribe/finalize", R"({"cleanedText":"x"})", 400, "Missing rawText"},
        {"/api/transcribe/finalize", R"({"rawText":" ","cleanedText":"","durationSecs":1})", 400,
         "Nothing to save: the transcript is empty"},
        {"/api/transcribe/finalize", R"({"rawText":"a","cleanedText":"A.","durationSecs":"9"})",
         400, "durationSecs must be a whole number of seconds"},
    };
    for (const Case& c : cases) {
        // Sign-in requests carry no token, as the agent sends them.
        const bool signIn = c.path.starts_with("/api/native-auth/");
        EXPECT_TRUE(failsWith(service.postJson(c.path, Json::parse(c.body), signIn ? "" : token),
                              c.status, c.error))
            << c.path << " " << c.body;
    }
    EXPECT_TRUE(failsWith(service.get("/api/nothing-here", token), 404, "Not found"));
    const std::string form = "application/x-www-form-urlencoded";
    EXPECT_EQ(service.client().Post("/api/native-auth/request", "email=a@b.c", form)->status, 400);
    EXPECT_TRUE(notes().empty());
}

TEST_F(Endpoints, SpeechReturnsAPlayableWavOfTheText) {
    auto shortText = service.postJson("/api/speech", {{"text", "Hello"}}, token);
    auto longText = service.postJson(
        "/api/speech", {{"text", "Hello there, this is a much longer sentence to read aloud."}},
        token);
    ASSERT_EQ(shortText->status, 200);
    ASSERT_EQ(longText->status, 200);
    EXPECT_EQ(shortText->get_header_value("Content-Type"), "audio/wav");
    wav::Pcm a, b;
    std::string why;
    ASSERT_TRUE(wav::parse(shortText->body, a, why)) << why;
    ASSERT_TRUE(wav::parse(longText->body, b, why)) << why;
    EXPECT_EQ(a.channels, 1);
    EXPECT_EQ(a.sampleRate, 22050);
    EXPECT_GT(a.samples.size(), 22050u / 4);
    EXPECT_GT(b.samples.size(), 3 * a.samples.size());
    EXPECT_GT(std::count_if(a.samples.begin(), a.samples.end(),
                            [](int16_t s) { return std::abs(s) > 1000; }),
              100);
}

TEST_F(Endpoints, ContextualDraftsFollowTheIntentTheContextAndTheApplication) {
    struct Case {
        Json context;
        Json expected;  // the members of the answer to compare
    };
    const std::vector<Case> cases{
        {context("write a note saying the server is back online"),
         {{"intent", "write"}, {"draft", "The server is back online."}}},
        {context("reply saying I will be there at five",
                 {{"application", "Thunderbird"},
                  {"surroundingText",
                   "From: Maria Lopez <maria@example.com>\nCan you come tomorrow?"}}),
         {{"intent", "reply"},
          {"surface", "email"},
          {"draft", "Hi Maria,\n\nI will be there at five.\n\nBest regards"},
          {"insertLabel", "Insert reply"},
          {"explanation", "I drafted a reply to Maria."}}},
        {context("fix the punctuation",
                 {{"selectedText", "i think   we should ship it on monday"}}),
         {{"intent", "rewrite"},
          {"draft", "I think we should ship it on monday."},
          {"insertLabel", "Replace selection"}}},
        {context("make this more formal", {{"selectedText", "hi team, I can't make it. thanks"}}),
         {{"draft", "Hello team, I cannot make it. Thank you."}}},
        {context("summarize this", {{"windowText", "One. Two. Three. Four. Five. Six."}}),
         {{"intent", "summarize"}, {"draft", "One. Two."}}},
        {context("what is on this screen",
                 {{"application", "Firefox"},
                  {"windowTitle", "News"},
                  {"windowText", "Rain expected all week. Bring an umbrella."}}),
         {{"intent", "ask"},
          {"draft", ""},
          {"explanation", "Firefox (News) shows 7 words. It begins: Rain expected all week."}}},
        {context("answer that sounds good", {{"application", "Slack"},
                                             {"windowTitle", " Weekend plans "},
                                             {"windowImage", "aGVsbG8="}}),
         {{"surface", "chat"},
          {"draft", "Sounds good."},
          {"explanation", "I drafted a reply about “Weekend plans”."}}},
    };
    Json last;
    for (const Case& c : cases) {
        last = draft(c.context);
        for (const auto& [key, value] : c.expected.items()) {
            EXPECT_EQ(last[key], value) << c.context["instruction"] << ": " << key;
        }
        // Every presentation key, of its type, in every answer.
        for (const char* key : {"explanation", "surface", "insertLabel"}) {
            EXPECT_TRUE(last[key].is_string()) << key;
        }
        for (const char* key : {"usedWindowImage", "usedWritingStyle", "voiceEnabled"}) {
            EXPECT_TRUE(last[key].is_boolean()) << key;
        }
        EXPECT_TRUE(last["voiceSpeed"].is_number());
        EXPECT_FALSE(last.contains("projectName"));
    }
    // The last request and its answer stay for inspection, from loopback.
    auto inspected = service.get("/__admin/contextual");
    ASSERT_EQ(inspected->status, 200);
    EXPECT_EQ(Json::parse(inspected->body),
              (Json{{"request", cases.back().context}, {"answer", last}}));
}

TEST_F(Endpoints, ContextualNamesTheActiveProject) {
    auto created = service.postJson("/api/projects", {{"name", "Garden"}}, token);
    ASSERT_EQ(created->status, 200);
    auto body = context("write remember the seeds", {{"windowImage", "aGVsbG8="}});
    body["activeProjectId"] = Json::parse(created->body)["project"]["id"];
    EXPECT_EQ(draft(body)["projectName"], "Garden");
}

TEST_F(Endpoints, ActivationAndNativeStatusAreStoredPerAccountAndInstallation) {
    EXPECT_EQ(service
                  .postJson("/api/activation",
                            {{"event", "signed_in"},
                             {"installationId", "3f2b"},
                             {"platform", "macos"},
                             {"appVersion", "dev"}},
                            token)
                  ->status,
              200);
    const Json me = Json::parse(service.get("/api/me", token)->body);
    EXPECT_EQ(me["activation"], Json::array({"signed_in"}));
    EXPECT_EQ(me["user"]["email"], "ends@example.com");  // the pages' "Signed in as …"

    Json report{{"installationId", "a1b2"}, {"platform", "macos"},    {"appVersion", "dev"},
                {"microphone", true},       {"accessibility", false}, {"inputMonitoring", true},
                {"screenRecording", false}};
    EXPECT_EQ(service.postJson("/api/native-status", report, token)->status, 200);
    report["accessibility"] = true;
    EXPECT_EQ(service.postJson("/api/native-status", report, token)->status, 200);
    auto statuses = Json::parse(service.get("/api/native-status", token)->body)["statuses"];
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0]["accessibility"], true);
    EXPECT_EQ(statuses[0]["microphone"], true);
    EXPECT_EQ(statuses[0]["screenRecording"], false);
}

TEST_F(Endpoints, ProjectsBelongToTheirAccount) {
    EXPECT_EQ(Json::parse(service.get("/api/projects", token)->body)["projects"], Json::array());
    service.postJson("/api/projects", {{"name", "Work"}}, token);
    service.postJson("/api/projects", {{"name", "Home"}}, token);
    auto list = Json::parse(service.get("/api/projects", token)->body)["projects"];
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["name"], "Work");
    EXPECT_EQ(list[1]["name"], "Home");
    EXPECT_TRUE(list[0]["id"].is_string());
    const std::string other = service.signIn("other@example.com")["accessToken"];
    EXPECT_EQ(Json::parse(service.get("/api/projects", other)->body)["projects"], Json::array());
}

TEST_F(Endpoints, NotesCanBeRenamedTaggedRelatedAndArchived) {
    auto a = finalize("buy seeds");
    auto b = finalize("plant tomatoes");
    const std::string aId = a["id"], bId = b["id"];
    auto patched = service.send(
        "PATCH", "/api/notes/" + aId,
        {{"title", "Seeds"}, {"tags", {"garden", "shop"}}, {"project", "Garden"}}, token);
    ASSERT_EQ(patched->status, 200) << patched->body;
    auto related = service.postJson("/api/notes/" + aId + "/related", {{"id", bId}}, token);
    ASSERT_EQ(related->status, 200) << related->body;

    auto all = notes();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["title"], "Seeds");
    EXPECT_EQ(all[0]["tags"], Json::array({"garden", "shop"}));
    EXPECT_EQ(all[0]["project"], "Garden");
    ASSERT_EQ(all[0]["related"].size(), 1u);
    EXPECT_EQ(all[0]["related"][0]["id"], bId);
    EXPECT_EQ(all[0]["related"][0]["created_at"], b["created_at"]);
    ASSERT_EQ(all[1]["related"].size(), 1u);  // relations go both ways
    EXPECT_EQ(all[1]["related"][0]["title"], "Seeds");

    ASSERT_EQ(service.send("PATCH", "/api/notes/" + bId, {{"archived", true}}, token)->status, 200);
    all = notes();
    EXPECT_TRUE(all[1]["archived_at"].is_string());
    EXPECT_TRUE(all[0]["archived_at"].is_null());

    auto unlinked = service.send("DELETE", "/api/notes/" + aId + "/related/" + bId, nullptr, token);
    EXPECT_EQ(unlinked->status, 200);
    EXPECT_TRUE(Json::parse(unlinked->body)["note"]["related"].empty());

    const std::string stranger = service.signIn("stranger@example.com")["accessToken"];
    EXPECT_TRUE(failsWith(service.send("PATCH", "/api/notes/" + aId, {{"title", "mine"}}, stranger),
                          404, "Note not found"));
    EXPECT_TRUE(failsWith(service.send("PATCH", "/api/notes/" + aId, {{"tags", "x"}}, token), 400,
                          "tags must be an array of strings"));
}

TEST_F(Endpoints, NotesWithoutFullLeaveOutRelationsAndSinceFilters) {
    auto first = finalize("one");
    service.advanceClock(1);
    finalize("two");
    auto plain = notes("");
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_FALSE(plain[0].contains("related"));
    auto since = notes("?since=" + first["created_at"].get<std::string>());
    ASSERT_EQ(since.size(), 1u);
    EXPECT_EQ(since[0]["text"], "two");
}

TEST_F(Endpoints, WebPagesUseTheHandedOverSessionAndLinkThePrivacyPanes) {
    for (const char* page : {"/app", "/settings"}) {
        auto r = service.get(page);
        ASSERT_EQ(r->status, 200) << page;
        EXPECT_EQ(r->get_header_value("Content-Type"), "text/html; charset=utf-8");
        EXPECT_NE(r->body.find("'larkspire.native-session'"), std::string::npos) << page;
        EXPECT_NE(r->body.find("/api/native-auth/request"), std::string::npos) << page;
    }
    const auto settings = service.get("/settings")->body;
    for (const char* pane : {"'microphone'", "'accessibility'", "'input-monitoring'",
                             "'screen-recording'", "'larkspire://permissions/'"}) {
        EXPECT_NE(settings.find(pane), std::string::npos) << pane;
    }
    auto root = service.get("/");
    EXPECT_EQ(root->status, 302);
    EXPECT_EQ(root->get_header_value("Location"), "/app");
}

TEST_F(Endpoints, InjectedDelaysHoldTheAnswer) {
    service.injectFault({{"path", "/api/projects"}, {"delayMs", 300}, {"count", 1}});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(service.get("/api/projects", token)->status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
}

TEST(CommandLineFaults, FailAndMalformedRulesApplyFromTheStart) {
    ServiceProcess service{{"--fail", "/api/speech=503x1", "--malformed", "/api/projects=200x1"}};
    const std::string token = service.signIn("cli@example.com")["accessToken"];
    EXPECT_TRUE(failsWith(service.postJson("/api/speech", {{"text", "Hi"}}, token), 503,
                          "Injected failure"));
    EXPECT_EQ(service.postJson("/api/speech", {{"text", "Hi"}}, token)->status, 200);
    auto malformed = service.get("/api/projects", token);
    EXPECT_EQ(malformed->status, 200);
    EXPECT_TRUE(Json::parse(malformed->body, nullptr, false).is_discarded());
    EXPECT_TRUE(Json::parse(service.get("/api/projects", token)->body)["projects"].is_array());
}

}  // namespace
}  // namespace larkspire::server::testing

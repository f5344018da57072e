// The remaining endpoints over HTTP: speech, contextual drafts, activation, permission status,
// projects, note editing and the web pages.
#include <gtest/gtest.h>

#include "ServiceProcess.h"
#include "devservice/speech/Wav.h"

namespace larkspire::devservice::testing {
namespace {

class Endpoints : public ::testing::Test {
  protected:
    ServiceProcess service;
    std::string token = service.signIn("ends@example.com")["accessToken"];

    Json draft(const Json& body) {
        auto r = service.postJson("/api/contextual", body, token);
        EXPECT_EQ(r->status, 200) << r->body;
        return Json::parse(r->body);
    }
    static Json context(const std::string& instruction) {
        return {{"instruction", instruction},
                {"application", ""},
                {"windowTitle", ""},
                {"role", "AXTextArea"},
                {"selectedText", ""},
                {"surroundingText", ""},
                {"windowText", ""}};
    }
    Json finalize(const std::string& raw) {
        auto r = service.postJson(
            "/api/transcribe/finalize",
            {{"rawText", raw}, {"cleanedText", raw}, {"durationSecs", 1}, {"source", "mac"}},
            token);
        return Json::parse(r->body)["row"];
    }
};

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
    auto loud = std::count_if(a.samples.begin(), a.samples.end(),
                              [](int16_t s) { return std::abs(s) > 1000; });
    EXPECT_GT(loud, 100);

    auto missing = service.postJson("/api/speech", {{"text", "  "}}, token);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing text");
    auto tooLong = service.postJson("/api/speech", {{"text", std::string(10001, 'a')}}, token);
    EXPECT_EQ(tooLong->status, 413);
    EXPECT_EQ(errorOf(tooLong), "Text is too long to read aloud");
}

TEST_F(Endpoints, ContextualAnswersEveryPresentationKey) {
    auto d = draft(context("write a note saying the server is back online"));
    EXPECT_EQ(d["intent"], "write");
    EXPECT_EQ(d["draft"], "The server is back online.");
    for (const char* key : {"explanation", "surface", "insertLabel"}) {
        EXPECT_TRUE(d[key].is_string()) << key;
    }
    for (const char* key : {"usedWindowImage", "usedWritingStyle", "voiceEnabled"}) {
        EXPECT_TRUE(d[key].is_boolean()) << key;
    }
    EXPECT_TRUE(d["voiceSpeed"].is_number());
    EXPECT_FALSE(d.contains("projectName"));
}

TEST_F(Endpoints, ContextualRepliesInTheSurfaceOfTheApplication) {
    auto mail = context("reply saying I will be there at five");
    mail["application"] = "Thunderbird";
    mail["surroundingText"] = "From: Maria Lopez <maria@example.com>\nCan you come tomorrow?";
    auto d = draft(mail);
    EXPECT_EQ(d["intent"], "reply");
    EXPECT_EQ(d["surface"], "email");
    EXPECT_EQ(d["draft"], "Hi Maria,\n\nI will be there at five.\n\nBest regards");
    EXPECT_EQ(d["insertLabel"], "Insert reply");
    EXPECT_EQ(d["explanation"], "I drafted a reply to Maria.");

    auto chat = context("answer that sounds good");
    chat["application"] = "Slack";
    chat["windowTitle"] = " Weekend plans ";
    chat["windowImage"] = "aGVsbG8=";
    auto c = draft(chat);
    EXPECT_EQ(c["surface"], "chat");
    EXPECT_EQ(c["draft"], "Sounds good.");
    EXPECT_EQ(c["explanation"], "I drafted a reply about “Weekend plans”.");

    // The last request and its answer stay for inspection, from loopback.
    auto last = service.get("/__admin/contextual");
    ASSERT_EQ(last->status, 200);
    EXPECT_EQ(Json::parse(last->body), (Json{{"request", chat}, {"answer", c}}));
}

TEST_F(Endpoints, ContextualRewritesSummarisesAndAnswersFromTheContext) {
    auto fix = context("fix the punctuation");
    fix["selectedText"] = "i think   we should ship it on monday";
    auto f = draft(fix);
    EXPECT_EQ(f["intent"], "rewrite");
    EXPECT_EQ(f["draft"], "I think we should ship it on monday.");
    EXPECT_EQ(f["insertLabel"], "Replace selection");

    auto formal = context("make this more formal");
    formal["selectedText"] = "hi team, I can't make it. thanks";
    EXPECT_EQ(draft(formal)["draft"], "Hello team, I cannot make it. Thank you.");

    auto sum = context("summarize this");
    sum["windowText"] = "One. Two. Three. Four. Five. Six.";
    auto s = draft(sum);
    EXPECT_EQ(s["intent"], "summarize");
    EXPECT_EQ(s["draft"], "One. Two.");

    auto ask = context("what is on this screen");
    ask["application"] = "Firefox";
    ask["windowTitle"] = "News";
    ask["windowText"] = "Rain expected all week. Bring an umbrella.";
    auto a = draft(ask);
    EXPECT_EQ(a["intent"], "ask");
    EXPECT_EQ(a["draft"], "");
    EXPECT_EQ(a["explanation"], "Firefox (News) shows 7 words. It begins: Rain expected all week.");
}

TEST_F(Endpoints, ContextualNamesTheActiveProjectAndChecksItsInput) {
    auto created = service.postJson("/api/projects", {{"name", "Garden"}}, token);
    ASSERT_EQ(created->status, 200);
    auto body = context("write remember the seeds");
    body["activeProjectId"] = Json::parse(created->body)["project"]["id"];
    body["windowImage"] = "aGVsbG8=";
    EXPECT_EQ(draft(body)["projectName"], "Garden");

    auto missing = service.postJson("/api/contextual", {{"application", "x"}}, token);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing instruction");
    auto wrongType = context("write x");
    wrongType["windowText"] = 5;
    auto wt = service.postJson("/api/contextual", wrongType, token);
    EXPECT_EQ(wt->status, 400);
    EXPECT_EQ(errorOf(wt), "windowText must be a string");
    auto badImage = context("write x");
    badImage["windowImage"] = "not base64!";
    auto bi = service.postJson("/api/contextual", badImage, token);
    EXPECT_EQ(bi->status, 400);
    EXPECT_EQ(errorOf(bi), "windowImage must be Base64 text");
}

TEST_F(Endpoints, ActivationEventsAreStoredAndShownToTheAccount) {
    Json event{{"event", "signed_in"},
               {"installationId", "3f2b"},
               {"platform", "macos"},
               {"appVersion", "dev"}};
    EXPECT_EQ(service.postJson("/api/activation", event, token)->status, 200);
    auto me = Json::parse(service.get("/api/me", token)->body);
    EXPECT_EQ(me["activation"], Json::array({"signed_in"}));

    event.erase("platform");
    auto missing = service.postJson("/api/activation", event, token);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing activation fields");
}

TEST_F(Endpoints, NativeStatusKeepsTheLatestReportPerInstallation) {
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

    report["microphone"] = "yes";
    auto bad = service.postJson("/api/native-status", report, token);
    EXPECT_EQ(bad->status, 400);
    EXPECT_EQ(errorOf(bad), "Invalid native status report");
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

    std::string other = service.signIn("other@example.com")["accessToken"];
    EXPECT_EQ(Json::parse(service.get("/api/projects", other)->body)["projects"], Json::array());
    auto unnamed = service.postJson("/api/projects", {{"name", ""}}, token);
    EXPECT_EQ(unnamed->status, 400);
    EXPECT_EQ(errorOf(unnamed), "A project needs a name of 1 to 100 characters");
}

TEST_F(Endpoints, NotesCanBeRenamedTaggedRelatedAndArchived) {
    auto a = finalize("buy seeds");
    auto b = finalize("plant tomatoes");
    std::string aId = a["id"], bId = b["id"];
    httplib::Headers auth{{"Authorization", "Bearer " + token}};
    auto patched = service.client().Patch(
        ("/api/notes/" + aId).c_str(), auth,
        Json{{"title", "Seeds"}, {"tags", {"garden", "shop"}}, {"project", "Garden"}}.dump(),
        "application/json");
    ASSERT_EQ(patched->status, 200) << patched->body;
    auto related = service.postJson("/api/notes/" + aId + "/related", {{"id", bId}}, token);
    ASSERT_EQ(related->status, 200) << related->body;

    auto notes = Json::parse(service.get("/api/notes?full=1", token)->body)["notes"];
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0]["title"], "Seeds");
    EXPECT_EQ(notes[0]["tags"], Json::array({"garden", "shop"}));
    EXPECT_EQ(notes[0]["project"], "Garden");
    ASSERT_EQ(notes[0]["related"].size(), 1u);
    EXPECT_EQ(notes[0]["related"][0]["id"], bId);
    EXPECT_EQ(notes[0]["related"][0]["created_at"], b["created_at"]);
    ASSERT_EQ(notes[1]["related"].size(), 1u);  // relations go both ways
    EXPECT_EQ(notes[1]["related"][0]["title"], "Seeds");

    auto archived = service.client().Patch(("/api/notes/" + bId).c_str(), auth,
                                           R"({"archived":true})", "application/json");
    ASSERT_EQ(archived->status, 200);
    notes = Json::parse(service.get("/api/notes?full=1", token)->body)["notes"];
    EXPECT_TRUE(notes[1]["archived_at"].is_string());
    EXPECT_TRUE(notes[0]["archived_at"].is_null());

    auto unlinked =
        service.client().Delete(("/api/notes/" + aId + "/related/" + bId).c_str(), auth);
    EXPECT_EQ(unlinked->status, 200);
    EXPECT_TRUE(Json::parse(unlinked->body)["note"]["related"].empty());

    std::string other = service.signIn("stranger@example.com")["accessToken"];
    httplib::Headers strangerAuth{{"Authorization", "Bearer " + other}};
    auto foreign = service.client().Patch(("/api/notes/" + aId).c_str(), strangerAuth,
                                          R"({"title":"mine"})", "application/json");
    EXPECT_EQ(foreign->status, 404);
    EXPECT_EQ(errorOf(foreign), "Note not found");
    auto badTags = service.client().Patch(("/api/notes/" + aId).c_str(), auth, R"({"tags":"x"})",
                                          "application/json");
    EXPECT_EQ(badTags->status, 400);
    EXPECT_EQ(errorOf(badTags), "tags must be an array of strings");
}

TEST_F(Endpoints, NotesWithoutFullLeaveOutRelationsAndSinceFilters) {
    auto first = finalize("one");
    service.advanceClock(1);
    finalize("two");
    auto plain = Json::parse(service.get("/api/notes", token)->body)["notes"];
    ASSERT_EQ(plain.size(), 2u);
    EXPECT_FALSE(plain[0].contains("related"));
    auto since = Json::parse(
        service.get("/api/notes?since=" + first["created_at"].get<std::string>(), token)
            ->body)["notes"];
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
    auto settings = service.get("/settings")->body;
    for (const char* pane :
         {"microphone", "accessibility", "input-monitoring", "screen-recording"}) {
        EXPECT_NE(settings.find(std::string("'") + pane + "'"), std::string::npos) << pane;
    }
    EXPECT_NE(settings.find("'larkspire://permissions/'"), std::string::npos);
    auto root = service.get("/");
    EXPECT_EQ(root->status, 302);
    EXPECT_EQ(root->get_header_value("Location"), "/app");
}

TEST_F(Endpoints, UnknownPathsAnswerJson404) {
    auto r = service.get("/api/nothing-here", token);
    EXPECT_EQ(r->status, 404);
    EXPECT_EQ(errorOf(r), "Not found");
}

TEST_F(Endpoints, InjectedDelaysHoldTheAnswer) {
    service.injectFault({{"path", "/api/projects"}, {"delayMs", 300}, {"count", 1}});
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(service.get("/api/projects", token)->status, 200);
    auto held = std::chrono::steady_clock::now() - start;
    EXPECT_GE(held, std::chrono::milliseconds(300));
}

}  // namespace
}  // namespace larkspire::devservice::testing

namespace larkspire::devservice::testing {
namespace {

TEST(CommandLineFaults, FailAndMalformedRulesApplyFromTheStart) {
    ServiceProcess service{{"--fail", "/api/speech=503x1", "--malformed", "/api/projects=200x1"}};
    std::string token = service.signIn("cli@example.com")["accessToken"];
    auto failed = service.postJson("/api/speech", {{"text", "Hi"}}, token);
    EXPECT_EQ(failed->status, 503);
    EXPECT_EQ(Json::parse(failed->body)["error"], "Injected failure");
    EXPECT_EQ(service.postJson("/api/speech", {{"text", "Hi"}}, token)->status, 200);

    auto malformed = service.get("/api/projects", token);
    EXPECT_EQ(malformed->status, 200);
    EXPECT_TRUE(Json::parse(malformed->body, nullptr, false).is_discarded());
    EXPECT_TRUE(Json::parse(service.get("/api/projects", token)->body)["projects"].is_array());
}

}  // namespace
}  // namespace larkspire::devservice::testing

#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

const DraftContext kContext{"Mail", "Re: lunch", "AXTextArea", "", "Dear Bo,", "Inbox\nLunch"};

using ContextualTest = ServiceTest;

TEST_F(ContextualTest, ImageIsStandardBase64AndProjectIdOnlyWhenGiven) {
    transport->on("/api/contextual", 200, R"({"draft":"d"})");
    auto api = signedInClient();
    const vector<std::pair<Bytes, string>> images = {
        {{0xFF, 0xD8, 0xFF}, "/9j/"},
        {{0xFB, 0xEF}, "++8="},
        {{'M'}, "TQ=="},
        {{}, ""},
    };
    for (const auto& [image, text] : images) {
        api->contextualDraft("i", kContext, image, string("proj-1"));
        const json body = json::parse(transport->sent().back().body);
        EXPECT_EQ(body["windowImage"], text);
        EXPECT_EQ(body["activeProjectId"], "proj-1");
        EXPECT_EQ(body.size(), 9u);
    }
}

TEST_F(ContextualTest, DraftOnlyAnswerYieldsEveryDefault) {
    transport->on("/api/contextual", 200, R"({"draft":""})");
    const ContextualResult r =
        signedInClient()->contextualDraft("i", kContext, std::nullopt, std::nullopt);
    EXPECT_EQ(r.intent, "ask");
    EXPECT_EQ(r.draft, "");
    EXPECT_EQ(r.explanation, "");
    EXPECT_EQ(r.surface, "generic");
    EXPECT_EQ(r.insertLabel, "Insert at cursor");
    EXPECT_FALSE(r.usedWindowImage);
    EXPECT_EQ(r.projectName, std::nullopt);
    EXPECT_FALSE(r.usedWritingStyle);
    EXPECT_TRUE(r.voiceEnabled);
    EXPECT_EQ(r.voiceSpeed, 1.0f);
}

TEST_F(ContextualTest, EveryFieldIsReadAndWrongTypesFallBack) {
    transport->once("/api/contextual", 200, R"({"draft":"D","intent":"reply","explanation":"E",
        "surface":"email","insertLabel":"Insert reply","usedWindowImage":true,
        "projectName":"Launch","usedWritingStyle":true,"voiceEnabled":false,"voiceSpeed":1.2})");
    auto api = signedInClient();
    const ContextualResult full = api->contextualDraft("i", kContext, std::nullopt, std::nullopt);
    const ContextualResult expected{"reply", "D",      "E",  "email", "Insert reply",
                                    true,    "Launch", true, false,   1.2f};
    EXPECT_EQ(full, expected);

    transport->once("/api/contextual", 200, R"({"draft":"D","intent":3,"explanation":null,
        "surface":["x"],"insertLabel":false,"usedWindowImage":"true","projectName":7,
        "usedWritingStyle":1,"voiceEnabled":0,"voiceSpeed":"1.5"})");
    ContextualResult defaults;
    defaults.draft = "D";
    EXPECT_EQ(api->contextualDraft("i", kContext, std::nullopt, std::nullopt), defaults);
}

TEST_F(ContextualTest, InvalidUtf8InstructionIsASerialisationErrorAndNothingIsSent) {
    auto api = signedInClient();
    EXPECT_THROW(api->contextualDraft("\xC3\x28", kContext, std::nullopt, std::nullopt),
                 APIClient::SerializationError);
    EXPECT_TRUE(transport->sent().empty());
}

using SpeechTest = ServiceTest;

TEST_F(SpeechTest, ReturnsTheBodyUnchanged) {
    const string audio("RIFF\0\0\0\0WAVEdata\x01\x02", 18);
    transport->once("/api/speech", 200, audio);
    transport->once("/api/speech", 200, "");
    auto api = signedInClient();
    EXPECT_EQ(api->speech("Read this"), Bytes(audio.begin(), audio.end()));
    EXPECT_TRUE(api->speech("x").empty());
    EXPECT_EQ(transport->sent().front().body, R"({"text":"Read this"})");
}

}  // namespace
}  // namespace larkspire::testing

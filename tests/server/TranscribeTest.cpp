// Transcription over HTTP with real recognition: eSpeak NG speech, uploaded as the agent
// uploads it, recognised by PocketSphinx restricted to the test grammar.
#include <gtest/gtest.h>

#include <future>

#include "ServiceProcess.h"

namespace larkspire::server::testing {
namespace {

class Transcription : public ::testing::Test {
  protected:
    ServiceProcess service{{"--grammar", LARKSPIRE_TEST_GRAMMAR}};
    std::string token = service.signIn("talk@example.com")["accessToken"];
    httplib::Headers auth{{"Authorization", "Bearer " + token}};

    httplib::Result upload(const std::string& wav, long seconds, bool ephemeral) {
        auto u = agentUpload(wav, seconds, ephemeral);
        return service.client().Post("/api/transcribe", auth, u.body, u.contentType.c_str());
    }
    Json notes() { return Json::parse(service.get("/api/notes?full=1", token)->body)["notes"]; }
};

TEST_F(Transcription, EverySynthesizedSentenceComesBackExactlyAndIsStored) {
    for (const auto& [sentence, cleaned] : grammarSentences()) {
        auto r = upload(synthesizedSentence(sentence), 3, false);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        auto row = Json::parse(r->body)["row"];
        EXPECT_EQ(row["text"], sentence);
        EXPECT_EQ(row["cleaned_text"], cleaned);
        EXPECT_TRUE(row["id"].is_string());
        EXPECT_EQ(row["source"], "mac");
        EXPECT_EQ(row["duration_secs"], 3);
    }
    auto stored = notes();
    ASSERT_EQ(stored.size(), grammarSentences().size());
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i]["text"], grammarSentences()[i].first);
        EXPECT_TRUE(stored[i]["created_at"].is_string());
        EXPECT_TRUE(stored[i]["archived_at"].is_null());
        EXPECT_TRUE(stored[i]["related"].is_array());
    }
}

TEST_F(Transcription, ConcurrentUploadsEachGetTheirOwnText) {
    // The server answers on a thread pool while the decoder takes one utterance at a time.
    std::vector<std::pair<std::string, std::string>> spoken;
    for (size_t i = 0; i < 4; ++i) {
        spoken.emplace_back(grammarSentences()[i].first,
                            synthesizedSentence(grammarSentences()[i].first));
    }
    std::vector<std::future<std::string>> answers;
    for (int round = 0; round < 2; ++round) {
        for (const auto& [sentence, wav] : spoken) {
            answers.push_back(std::async(std::launch::async, [this, wav = wav] {
                auto r = upload(wav, 2, true);
                return r && r->status == 200
                           ? Json::parse(r->body)["row"]["text"].get<std::string>()
                           : std::string("<failed>");
            }));
        }
    }
    for (size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].get(), spoken[i % spoken.size()].first);
    }
}

TEST_F(Transcription, AnEphemeralUploadAnswersTheTextAndStoresNothing) {
    auto r = upload(synthesizedSentence("book a table for four at seven"), 2, true);
    ASSERT_EQ(r->status, 200) << r->body;
    auto answer = Json::parse(r->body);
    EXPECT_EQ(answer["row"]["text"], "book a table for four at seven");
    EXPECT_EQ(answer["row"]["cleaned_text"], "Book a table for four at seven.");
    EXPECT_FALSE(answer["row"].contains("id"));
    EXPECT_TRUE(notes().empty());
}

TEST_F(Transcription, UploadFailuresCarryTheirErrorText) {
    const std::string wav = synthesizedSentence("water the plants on the balcony");
    // The recogniser takes 16 kHz only; any other rate is refused.
    std::string wrongRate = wav;
    wrongRate[24] = static_cast<char>(0x22);  // sample rate 16000 -> 15906
    auto u = agentUpload(wav, 1, false);
    std::string badDuration = u.body;
    badDuration.replace(badDuration.find("name=\"duration_secs\"\r\n\r\n1") + 24, 1, "x");
    const httplib::MultipartFormDataItems noAudio{{"duration_secs", "1", "", ""},
                                                  {"source", "mac", "", ""}};
    auto client = service.client();
    EXPECT_TRUE(failsWith(client.Post("/api/transcribe", auth, "{}", "application/json"), 400,
                          "Expected a multipart/form-data upload"));
    EXPECT_TRUE(
        failsWith(client.Post("/api/transcribe", auth, noAudio), 400, "Missing audio file"));
    EXPECT_TRUE(failsWith(upload("this is not audio", 1, false), 400, "Audio is not a WAV file"));
    EXPECT_TRUE(
        failsWith(upload(wrongRate, 1, false), 400, "Audio must be 16 kHz mono 16-bit PCM"));
    EXPECT_TRUE(failsWith(upload(wav.substr(0, 44), 0, false), 400, "Audio holds no samples"));
    EXPECT_TRUE(failsWith(client.Post("/api/transcribe", auth, badDuration, u.contentType.c_str()),
                          400, "Invalid duration_secs"));
    EXPECT_TRUE(notes().empty());
}

TEST_F(Transcription, SilenceAnswersAnEmptyTextAndStoresNothing) {
    // The last piece of a long recording is often silent; it must not fail the recording.
    std::string wav = synthesizedSentence("water the plants on the balcony");
    std::string silence = wav.substr(0, 44) + std::string(32000, '\0');
    silence[40] = 0x00;  // data size: one second
    silence[41] = 0x7d;
    silence[42] = 0x00;
    silence[43] = 0x00;
    auto quiet = upload(silence, 1, false);
    ASSERT_EQ(quiet->status, 200) << quiet->body;
    EXPECT_EQ(Json::parse(quiet->body), Json::parse(R"({"row":{"text":"","cleaned_text":""}})"));
    EXPECT_TRUE(notes().empty());
}

TEST_F(Transcription, AnInjectedFailureAnswersItsStatusThenTheServiceRecovers) {
    std::string wav = synthesizedSentence("remind me to buy milk and bread");
    service.injectFault({{"path", "/api/transcribe"}, {"status", 500}, {"count", 1}});
    EXPECT_TRUE(failsWith(upload(wav, 2, false), 500, "Injected failure"));
    EXPECT_TRUE(notes().empty());
    auto recovered = upload(wav, 2, false);
    EXPECT_EQ(recovered->status, 200);
    EXPECT_EQ(Json::parse(recovered->body)["row"]["text"], "remind me to buy milk and bread");

    service.injectFault(
        {{"path", "/api/transcribe"}, {"status", 503}, {"body", {{"error", "Busy"}}}});
    EXPECT_TRUE(failsWith(upload(wav, 2, false), 503, "Busy"));
    EXPECT_TRUE(failsWith(upload(wav, 2, false), 503, "Busy"));  // without a count it stays
    ASSERT_EQ(service.client().Delete("/__admin/fail")->status, 200);
    EXPECT_EQ(upload(wav, 2, false)->status, 200);

    service.injectFault({{"path", "/api/transcribe"}, {"malformed", true}, {"count", 1}});
    auto malformed = upload(wav, 2, false);
    EXPECT_EQ(malformed->status, 200);
    EXPECT_TRUE(Json::parse(malformed->body, nullptr, false).is_discarded());
}

TEST_F(Transcription, FinalizeStoresTheJoinedTextsOfALongRecording) {
    auto r = service.postJson("/api/transcribe/finalize",
                              {{"rawText", "first piece\n\nsecond piece"},
                               {"cleanedText", "First piece.\n\nSecond piece."},
                               {"durationSecs", 100},
                               {"source", "mac"}},
                              token);
    ASSERT_EQ(r->status, 200) << r->body;
    auto row = Json::parse(r->body)["row"];
    EXPECT_EQ(row["text"], "first piece\n\nsecond piece");
    EXPECT_EQ(row["cleaned_text"], "First piece.\n\nSecond piece.");
    EXPECT_EQ(row["duration_secs"], 100);
    EXPECT_TRUE(row["id"].is_string());
    auto stored = notes();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0]["id"], row["id"]);
    EXPECT_EQ(stored[0]["title"], "First piece");
}

}  // namespace
}  // namespace larkspire::server::testing

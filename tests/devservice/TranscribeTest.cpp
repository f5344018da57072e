// Transcription over HTTP with real recognition: eSpeak NG speech, uploaded as the agent
// uploads it, recognised by PocketSphinx restricted to the test grammar.
#include <gtest/gtest.h>

#include <future>
#include <map>

#include "ServiceProcess.h"

namespace larkspire::devservice::testing {
namespace {

// Every sentence of devservice/sentences.gram, with the text the service should paste.
const std::vector<std::pair<std::string, std::string>>& grammarSentences() {
    static const std::vector<std::pair<std::string, std::string>> sentences{
        {"please call the bank tomorrow morning", "Please call the bank tomorrow morning."},
        {"send the report to the team before lunch", "Send the report to the team before lunch."},
        {"remind me to buy milk and bread", "Remind me to buy milk and bread."},
        {"the meeting moved to thursday afternoon", "The meeting moved to thursday afternoon."},
        {"book a table for four at seven", "Book a table for four at seven."},
        {"what time does the train leave", "What time does the train leave?"},
        {"water the plants on the balcony", "Water the plants on the balcony."},
        {"schedule a call with the design team next week",
         "Schedule a call with the design team next week."},
    };
    return sentences;
}

class Transcription : public ::testing::Test {
  protected:
    ServiceProcess service{{"--grammar", LARKSPIRE_TEST_GRAMMAR}};
    std::string token = service.signIn("talk@example.com")["accessToken"];

    httplib::Result upload(const std::string& wav, long seconds, bool ephemeral,
                           const std::string& bearer) {
        auto u = agentUpload(wav, seconds, ephemeral);
        httplib::Headers headers{{"Authorization", "Bearer " + bearer}};
        return service.client().Post("/api/transcribe", headers, u.body, u.contentType.c_str());
    }
    httplib::Result upload(const std::string& wav, long seconds, bool ephemeral) {
        return upload(wav, seconds, ephemeral, token);
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
    httplib::Headers auth{{"Authorization", "Bearer " + token}};
    auto notMultipart = service.client().Post("/api/transcribe", auth, "{}", "application/json");
    EXPECT_EQ(notMultipart->status, 400);
    EXPECT_EQ(errorOf(notMultipart), "Expected a multipart/form-data upload");

    httplib::MultipartFormDataItems noAudio{{"duration_secs", "1", "", ""},
                                            {"source", "mac", "", ""}};
    auto missing = service.client().Post("/api/transcribe", auth, noAudio);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing audio file");

    auto notWav = upload("this is not audio", 1, false);
    EXPECT_EQ(notWav->status, 400);
    EXPECT_EQ(errorOf(notWav), "Audio is not a WAV file");

    // The recogniser takes 16 kHz only; any other rate is refused.
    std::string wav = synthesizedSentence("water the plants on the balcony");
    std::string wrongRateWav = wav;
    wrongRateWav[24] = static_cast<char>(0x22);  // sample rate 16000 -> 15906
    auto wrongRate = upload(wrongRateWav, 1, false);
    EXPECT_EQ(wrongRate->status, 400);
    EXPECT_EQ(errorOf(wrongRate), "Audio must be 16 kHz mono 16-bit PCM");

    auto headerOnly = upload(wav.substr(0, 44), 0, false);
    EXPECT_EQ(headerOnly->status, 400);
    EXPECT_EQ(errorOf(headerOnly), "Audio holds no samples");

    auto u = agentUpload(wav, 1, false);
    std::string badDuration = u.body;
    badDuration.replace(badDuration.find("name=\"duration_secs\"\r\n\r\n1") + 24, 1, "x");
    auto invalid =
        service.client().Post("/api/transcribe", auth, badDuration, u.contentType.c_str());
    EXPECT_EQ(invalid->status, 400);
    EXPECT_EQ(errorOf(invalid), "Invalid duration_secs");
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
    auto failed = upload(wav, 2, false);
    EXPECT_EQ(failed->status, 500);
    EXPECT_EQ(errorOf(failed), "Injected failure");
    EXPECT_TRUE(notes().empty());
    auto recovered = upload(wav, 2, false);
    EXPECT_EQ(recovered->status, 200);
    EXPECT_EQ(Json::parse(recovered->body)["row"]["text"], "remind me to buy milk and bread");

    service.injectFault(
        {{"path", "/api/transcribe"}, {"status", 503}, {"body", {{"error", "Busy"}}}});
    EXPECT_EQ(errorOf(upload(wav, 2, false)), "Busy");
    EXPECT_EQ(upload(wav, 2, false)->status, 503);  // without a count it stays
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

    auto missing = service.postJson("/api/transcribe/finalize", {{"cleanedText", "x"}}, token);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(errorOf(missing), "Missing rawText");
    auto empty =
        service.postJson("/api/transcribe/finalize",
                         {{"rawText", " "}, {"cleanedText", ""}, {"durationSecs", 1}}, token);
    EXPECT_EQ(empty->status, 400);
    EXPECT_EQ(errorOf(empty), "Nothing to save: the transcript is empty");
    auto badDuration =
        service.postJson("/api/transcribe/finalize",
                         {{"rawText", "a"}, {"cleanedText", "A."}, {"durationSecs", "9"}}, token);
    EXPECT_EQ(badDuration->status, 400);
    EXPECT_EQ(errorOf(badDuration), "durationSecs must be a whole number of seconds");
    EXPECT_EQ(notes().size(), 1u);
}

TEST_F(Transcription, AnExpiredTokenIsRefusedWith401) {
    std::string wav = synthesizedSentence("please call the bank tomorrow morning");
    service.advanceClock(3601);
    auto r = upload(wav, 2, false);
    EXPECT_EQ(r->status, 401);
    EXPECT_EQ(errorOf(r), "Invalid or expired access token");
}

}  // namespace
}  // namespace larkspire::devservice::testing

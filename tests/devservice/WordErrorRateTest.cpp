// Recognition without a grammar, measured: the general en-US model on eSpeak NG's voice.
// The word error rate is printed (and recorded in the test's XML output), not assumed.
#include <gtest/gtest.h>

#include <cstdio>

#include "ServiceProcess.h"

namespace larkspire::devservice::testing {
namespace {

TEST(WordErrorMeasure, CountsSubstitutionsDeletionsAndInsertions) {
    auto same = wordErrors("call the bank", "Call the bank.");
    EXPECT_EQ(same.total(), 0u);
    EXPECT_EQ(same.referenceWords, 3u);
    auto e = wordErrors("call the bank today", "call a bank today please");
    EXPECT_EQ(e.substitutions, 1u);
    EXPECT_EQ(e.insertions, 1u);
    EXPECT_EQ(e.deletions, 0u);
    auto gone = wordErrors("call the bank", "");
    EXPECT_EQ(gone.deletions, 3u);
}

TEST(GeneralModel, WordErrorRateOnSynthesizedSpeech) {
    const std::vector<std::string> sentences{
        "please call the bank tomorrow morning", "send the report to the team before lunch",
        "remind me to buy milk and bread",       "the meeting moved to thursday afternoon",
        "book a table for four at seven",        "what time does the train leave",
        "water the plants on the balcony",       "schedule a call with the design team next week",
    };
    ServiceProcess service;  // no --grammar: the general language model
    std::string token = service.signIn("wer@example.com")["accessToken"];
    WordErrors sum;
    for (const auto& sentence : sentences) {
        auto u = agentUpload(synthesizedSentence(sentence), 3, true);
        httplib::Headers auth{{"Authorization", "Bearer " + token}};
        auto r = service.client().Post("/api/transcribe", auth, u.body, u.contentType.c_str());
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        // Nothing recognised comes back as an empty text: every word deleted.
        std::string heard = Json::parse(r->body)["row"]["text"].get<std::string>();
        auto e = wordErrors(sentence, heard);
        std::printf("  said  \"%s\"\n  heard \"%s\"  (%zu errors / %zu words)\n", sentence.c_str(),
                    heard.c_str(), e.total(), e.referenceWords);
        sum.substitutions += e.substitutions;
        sum.deletions += e.deletions;
        sum.insertions += e.insertions;
        sum.referenceWords += e.referenceWords;
    }
    double wer = static_cast<double>(sum.total()) / static_cast<double>(sum.referenceWords);
    std::printf(
        "word error rate without grammar: %.1f%% (%zu substitutions, %zu deletions, "
        "%zu insertions over %zu words, %zu sentences)\n",
        100.0 * wer, sum.substitutions, sum.deletions, sum.insertions, sum.referenceWords,
        sentences.size());
    RecordProperty("word_error_rate_percent", std::to_string(100.0 * wer));
    EXPECT_EQ(sum.referenceWords, 55u);
}

}  // namespace
}  // namespace larkspire::devservice::testing

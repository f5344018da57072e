// Recognition without a grammar, measured: the general en-US model on eSpeak NG's voice.
// The word error rate is printed (and recorded in the test's XML output), not assumed.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <sstream>

#include "ServiceProcess.h"

namespace larkspire::server::testing {
namespace {

struct WordErrors {
    size_t substitutions = 0, deletions = 0, insertions = 0, referenceWords = 0;
    size_t total() const { return substitutions + deletions + insertions; }
};

std::vector<std::string> words(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string w; in >> w;) {
        std::string clean;
        for (char c : w) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '\'') {
                clean += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        if (!clean.empty()) {
            out.push_back(clean);
        }
    }
    return out;
}

// Levenshtein over lower-case words, keeping the kind of each edit for the report.
WordErrors wordErrors(const std::string& reference, const std::string& hypothesis) {
    const auto ref = words(reference), hyp = words(hypothesis);
    struct Cell {
        size_t cost = 0, sub = 0, del = 0, ins = 0;
    };
    std::vector<std::vector<Cell>> d(ref.size() + 1, std::vector<Cell>(hyp.size() + 1));
    for (size_t i = 1; i <= ref.size(); ++i) {
        d[i][0] = {i, 0, i, 0};
    }
    for (size_t j = 1; j <= hyp.size(); ++j) {
        d[0][j] = {j, 0, 0, j};
    }
    for (size_t i = 1; i <= ref.size(); ++i) {
        for (size_t j = 1; j <= hyp.size(); ++j) {
            Cell best = d[i - 1][j - 1], del = d[i - 1][j], ins = d[i][j - 1];
            if (ref[i - 1] != hyp[j - 1]) {
                best.cost++, best.sub++;
            }
            del.cost++, del.del++;
            ins.cost++, ins.ins++;
            best = del.cost < best.cost ? del : best;
            d[i][j] = ins.cost < best.cost ? ins : best;
        }
    }
    const Cell& end = d[ref.size()][hyp.size()];
    return WordErrors{end.sub, end.del, end.ins, ref.size()};
}

TEST(WordErrorMeasure, CountsSubstitutionsDeletionsAndInsertions) {
    EXPECT_EQ(wordErrors("call the bank", "Call the bank.").total(), 0u);
    const auto e = wordErrors("call the bank today", "call a bank today please");
    EXPECT_EQ(e.substitutions, 1u);
    EXPECT_EQ(e.insertions, 1u);
    EXPECT_EQ(e.deletions, 0u);
    EXPECT_EQ(wordErrors("call the bank", "").deletions, 3u);
}

TEST(GeneralModel, WordErrorRateOnSynthesizedSpeech) {
    ServiceProcess service;  // no --grammar: the general language model
    const std::string token = service.signIn("wer@example.com")["accessToken"];
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    WordErrors sum;
    for (const auto& [sentence, cleaned] : grammarSentences()) {
        auto u = agentUpload(synthesizedSentence(sentence), 3, true);
        auto r = service.client().Post("/api/transcribe", auth, u.body, u.contentType.c_str());
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
        // Nothing recognised comes back as an empty text: every word deleted.
        const std::string heard = Json::parse(r->body)["row"]["text"].get<std::string>();
        const auto e = wordErrors(sentence, heard);
        std::printf("  said  \"%s\"\n  heard \"%s\"  (%zu errors / %zu words)\n", sentence.c_str(),
                    heard.c_str(), e.total(), e.referenceWords);
        sum.substitutions += e.substitutions;
        sum.deletions += e.deletions;
        sum.insertions += e.insertions;
        sum.referenceWords += e.referenceWords;
    }
    const double wer = 100.0 * static_cast<double>(sum.total()) / sum.referenceWords;
    std::printf(
        "word error rate without grammar: %.1f%% (%zu substitutions, %zu deletions, "
        "%zu insertions over %zu words)\n",
        wer, sum.substitutions, sum.deletions, sum.insertions, sum.referenceWords);
    RecordProperty("word_error_rate_percent", std::to_string(wer));
}

}  // namespace
}  // namespace larkspire::server::testing

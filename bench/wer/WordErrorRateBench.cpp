// bench_wer: how well the embedded recogniser hears free speech. Every sentence of the
// service's grammar is spoken by eSpeak NG and sent as the agent uploads it, first to a
// service started with that grammar (the reference: what the default dictation hears),
// then to one with only the general en-US model. Prints each sentence heard and both word
// error rates; exits with 1 when the general model's is above 80 % (it was 76.4 % when first
// measured: a regression guard, not a quality goal), 2 on a setup failure.
#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "server/ServiceProcess.h"

namespace {

namespace st = larkspire::server::testing;

struct WordErrors {
    size_t substitutions = 0, deletions = 0, insertions = 0, referenceWords = 0;
    size_t total() const { return substitutions + deletions + insertions; }
    double percent() const { return 100.0 * static_cast<double>(total()) / referenceWords; }
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

// The measure itself on known edits, so that a wrong count is never reported as a rate.
bool measureIsRight() {
    const auto e = wordErrors("call the bank today", "call a bank today please");
    return wordErrors("call the bank", "Call the bank.").total() == 0 && e.substitutions == 1 &&
           e.insertions == 1 && e.deletions == 0 && wordErrors("call the bank", "").deletions == 3;
}

// The errors over every sentence; nothing recognised comes back empty: every word deleted.
bool measure(const char* label, std::vector<std::string> args, WordErrors& sum) {
    st::ServiceProcess service(std::move(args));
    const std::string token = service.signIn("wer@example.com")["accessToken"];
    const httplib::Headers auth{{"Authorization", "Bearer " + token}};
    std::printf("%s:\n", label);
    for (const auto& [sentence, cleaned] : st::grammarSentences()) {
        auto u = st::agentUpload(st::synthesizedSentence(sentence), 3, true);
        auto r = service.client().Post("/api/transcribe", auth, u.body, u.contentType.c_str());
        if (!r || r->status != 200) {
            std::fprintf(stderr, "bench_wer: the service did not answer: %s\n",
                         st::errorOf(r).c_str());
            return false;
        }
        const std::string heard = st::Json::parse(r->body)["row"]["text"].get<std::string>();
        const auto e = wordErrors(sentence, heard);
        std::printf("  said  \"%s\"\n  heard \"%s\"  (%zu errors / %zu words)\n", sentence.c_str(),
                    heard.c_str(), e.total(), e.referenceWords);
        sum.substitutions += e.substitutions;
        sum.deletions += e.deletions;
        sum.insertions += e.insertions;
        sum.referenceWords += e.referenceWords;
    }
    return true;
}

}  // namespace

int main() {
    constexpr double kGoalPercent = 80;
    if (!measureIsRight()) {
        std::fprintf(stderr, "bench_wer: the word error measure miscounts\n");
        return 2;
    }
    WordErrors grammar, general;
    if (!measure("with the grammar", {"--grammar", LARKSPIRE_TEST_GRAMMAR}, grammar) ||
        !measure("general model", {}, general)) {
        return 2;
    }
    std::printf(
        "word error rate: general model %.1f %% (%zu substitutions, %zu deletions, %zu "
        "insertions over %zu words), with the grammar %.1f %%; goal: general model at most "
        "%.0f %%\n",
        general.percent(), general.substitutions, general.deletions, general.insertions,
        general.referenceWords, grammar.percent(), kGoalPercent);
    return general.percent() <= kGoalPercent ? 0 : 1;
}

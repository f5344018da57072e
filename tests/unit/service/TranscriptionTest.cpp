#include <regex>

#include "audio/WAV.h"
#include "support/Multipart.h"
#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

constexpr const char* kUpload = "/api/transcribe";
constexpr const char* kFinalize = "/api/transcribe/finalize";

Bytes pcmOfSize(size_t n) {
    Bytes pcm(n);
    for (size_t i = 0; i < n; ++i) {
        pcm[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    }
    return pcm;
}

string boundaryOf(const HttpRequest& r) {
    return testing::boundaryOf(headerOf(r, "Content-Type").value_or(""));
}

// The form an upload must carry, in this order.
vector<FormPart> expectedForm(const Bytes& wav, const string& seconds, bool ephemeral) {
    vector<FormPart> parts = {
        {"audio", "recording.wav", "audio/wav", string(wav.begin(), wav.end())},
        {"duration_secs", std::nullopt, std::nullopt, seconds},
        {"source", std::nullopt, std::nullopt, "mac"},
    };
    if (ephemeral) {
        parts.push_back({"ephemeral", std::nullopt, std::nullopt, "true"});
    }
    return parts;
}

std::optional<vector<FormPart>> formOf(const HttpRequest& r) {
    return parseMultipart(r.body, boundaryOf(r));
}

using TranscribeTest = ServiceTest;

TEST_F(TranscribeTest, UploadIsTheExactFormUnderAFreshUpperCaseUuidBoundary) {
    transport->on(kUpload, 200, R"({"row":{"text":"hello","id":"n1"}})");
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(32000 * 3 + 17));
    EXPECT_EQ(api->transcribeWithReceipt(wav, 3, /*ephemeral=*/false),
              (APIClient::TranscriptionReceipt{"hello", "n1", "hello"}));
    api->transcribeSingle(wav, 0, /*ephemeral=*/true);
    api->transcribeSingle(wav, 12, /*ephemeral=*/true);

    const auto uploads = transport->sentTo(kUpload);
    ASSERT_EQ(uploads.size(), 3u);
    EXPECT_EQ(formOf(uploads[0]), expectedForm(wav, "3", false));
    EXPECT_EQ(formOf(uploads[1]), expectedForm(wav, "0", true));
    EXPECT_EQ(formOf(uploads[2]), expectedForm(wav, "12", true));
    const std::regex upperUuid(
        "dictation-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    for (const HttpRequest& r : uploads) {
        EXPECT_TRUE(std::regex_match(boundaryOf(r), upperUuid)) << boundaryOf(r);
    }
    EXPECT_NE(boundaryOf(uploads[1]), boundaryOf(uploads[2])) << "a new boundary per request";
}

TEST_F(TranscribeTest, AnswerRulesDecideByBodyNotStatus) {
    struct Case {
        int status;
        string body;
        APIClient::TranscriptionReceipt expected;
    };
    const vector<Case> cases = {
        {200,
         R"({"row":{"text":"raw","cleaned_text":"Clean.","id":"id-1"}})",
         {"Clean.", "id-1", "raw"}},
        {200,
         R"({"row":{"text":"raw","cleaned_text":"Clean.","id":7}})",
         {"Clean.", std::nullopt, "raw"}},
        {200, R"({"row":{"text":"raw","cleaned_text":null}})", {"raw", std::nullopt, "raw"}},
        {500, R"({"text":"top","id":"t-1"})", {"top", "t-1", "top"}},
        {200, R"({"row":{"cleaned_text":"row clean"},"text":"top"})", {"top", std::nullopt, "top"}},
        {401, R"({"row":{"text":"late"}})", {"late", std::nullopt, "late"}},
    };
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(64));
    for (const Case& c : cases) {
        transport->once(kUpload, c.status, c.body);
        EXPECT_EQ(api->transcribeSingle(wav, 1, false), c.expected) << c.body;
    }
}

TEST_F(TranscribeTest, SplittingFollowsTheUploadLimit) {
    // Up to the limit, an ephemeral recording of any length, or a WAV without PCM: one
    // upload as given. Past the limit: pieces of at most the limit, each ephemeral and
    // lasting its share of the whole seconds (98 + 1 of 99 or 100), then a finalisation.
    const size_t limit = APIClient::kMaximumUploadPCMBytes;
    struct Case {
        size_t pcmBytes;
        int seconds;
        bool ephemeral;
        vector<size_t> pieces;  // PCM bytes per piece; empty: sent whole
        vector<string> pieceSeconds;
    };
    const vector<Case> cases = {
        {limit, 98, false, {}, {}},
        {3200000, 100, true, {}, {}},
        {limit + 2, 99, false, {limit, 2}, {"98", "1"}},
        {3200000, 100, false, {limit, 3200000 - limit}, {"98", "1"}},
    };
    auto api = signedInClient();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pcmBytes) + " bytes, " + std::to_string(c.seconds) + " s");
        transport = std::make_shared<ScriptedTransport>();
        api = signedInClient();
        transport->on(kUpload, 200, R"({"text":"piece"})");
        transport->on(kFinalize, 200, R"({"row":{"text":"all"}})");
        const Bytes pcm = pcmOfSize(c.pcmBytes);
        api->transcribeWithReceipt(WAV::wrap(pcm), c.seconds, c.ephemeral);
        const auto uploads = transport->sentTo(kUpload);
        if (c.pieces.empty()) {
            ASSERT_EQ(uploads.size(), 1u);
            EXPECT_EQ(formOf(uploads[0]),
                      expectedForm(WAV::wrap(pcm), std::to_string(c.seconds), c.ephemeral));
            EXPECT_EQ(transport->count(kFinalize), 0);
            continue;
        }
        ASSERT_EQ(uploads.size(), c.pieces.size());
        size_t at = 0;
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            const Bytes piece(pcm.begin() + at, pcm.begin() + at + c.pieces[i]);
            EXPECT_EQ(formOf(uploads[i]), expectedForm(WAV::wrap(piece), c.pieceSeconds[i], true));
            at += c.pieces[i];
        }
        EXPECT_EQ(json::parse(sentTo(kFinalize).body)["durationSecs"], c.seconds);
    }
    const Bytes notWav = {'n', 'o', 't', ' ', 'w', 'a', 'v'};
    api->transcribeWithReceipt(notWav, 5, false);
    EXPECT_EQ(formOf(transport->sent().back()), expectedForm(notWav, "5", false));
}

TEST_F(TranscribeTest, PiecesAreJoinedIntoTheFinalisation) {
    transport->once(kUpload, 200, R"({"row":{"text":"first raw","cleaned_text":"First."}})");
    transport->once(kUpload, 200, R"({"text":"second"})");
    transport->on(kFinalize, 200,
                  R"({"row":{"text":"all raw","cleaned_text":"All.","id":"final-id"}})");
    auto api = signedInClient();
    const auto receipt =
        api->transcribeWithReceipt(WAV::wrap(pcmOfSize(3145730)), 99, /*ephemeral=*/false);
    EXPECT_EQ(receipt, (APIClient::TranscriptionReceipt{"All.", "final-id", "all raw"}));
    EXPECT_EQ(json::parse(sentTo(kFinalize).body), (json{{"rawText", "first raw\n\nsecond"},
                                                         {"cleanedText", "First.\n\nsecond"},
                                                         {"durationSecs", 99},
                                                         {"source", "mac"}}));
}

TEST_F(TranscribeTest, FailingPieceEndsTheLongRecordingWithoutFinalisation) {
    transport->once(kUpload, 200, R"({"text":"one"})");
    transport->once(kUpload, 500, R"({"error":"Transcriber busy"})");
    transport->on(kUpload, 200, R"({"text":"never"})");
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText(
                  [&] { api->transcribeWithReceipt(WAV::wrap(pcmOfSize(7000000)), 218, false); }),
              "Transcriber busy");
    EXPECT_EQ(transport->paths(), (vector<string>{kUpload, kUpload}));
}

TEST_F(TranscribeTest, FinalisationReadsTheRowsTexts) {
    transport->once(kFinalize, 200, R"({"row":{"text":"r","cleaned_text":5,"id":"f"}})");
    EXPECT_EQ(signedInClient()->finalizeLongRecording("r", "c", 120),
              (APIClient::TranscriptionReceipt{"r", "f", "r"}));
}

}  // namespace
}  // namespace larkspire::testing

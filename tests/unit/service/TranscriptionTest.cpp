#include "audio/WAV.h"
#include "unit/service/ServiceFixture.h"

namespace larkspire::testing {
namespace {

using nlohmann::json;
using std::string;
using std::vector;

Bytes pcmOfSize(size_t n) {
    Bytes pcm(n);
    for (size_t i = 0; i < n; ++i) {
        pcm[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    }
    return pcm;
}

// Every byte of the upload body, built independently of the client.
string expectedUpload(const string& boundary, const Bytes& wav, const string& seconds,
                      bool ephemeral) {
    string b = "--" + boundary + "\r\n";
    b += "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n";
    b += "Content-Type: audio/wav\r\n\r\n";
    b += string(wav.begin(), wav.end());
    b += "\r\n--" + boundary + "\r\n";
    b += "Content-Disposition: form-data; name=\"duration_secs\"\r\n\r\n" + seconds;
    b += "\r\n--" + boundary + "\r\n";
    b += "Content-Disposition: form-data; name=\"source\"\r\n\r\nmac";
    if (ephemeral) {
        b += "\r\n--" + boundary + "\r\n";
        b += "Content-Disposition: form-data; name=\"ephemeral\"\r\n\r\ntrue";
    }
    b += "\r\n--" + boundary + "--\r\n";
    return b;
}

string boundaryOf(const RecordedRequest& r) {
    const string prefix = "multipart/form-data; boundary=";
    const string type = r.header("Content-Type").value_or("");
    if (type.rfind(prefix, 0) != 0) {
        return "";
    }
    return type.substr(prefix.size());
}

bool isUpperUuidBoundary(const string& b) {
    if (b.size() != 10 + 36 || b.rfind("dictation-", 0) != 0) {
        return false;
    }
    for (size_t i = 0; i < 36; ++i) {
        const char c = b[10 + i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

// The "duration_secs" value of a recorded upload.
string durationOf(const RecordedRequest& r) {
    const string key = "name=\"duration_secs\"\r\n\r\n";
    const size_t at = r.body.find(key);
    if (at == string::npos) {
        return "";
    }
    const size_t start = at + key.size();
    return r.body.substr(start, r.body.find("\r\n", start) - start);
}

using TranscribeTest = ServiceTest;

TEST_F(TranscribeTest, UploadIsByteExactWithHeadersAndTimeout) {
    server.on("/api/transcribe", {200, R"({"row":{"text":"hello","id":"n1"}})"});
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(32000 * 3 + 17));
    const auto receipt = api->transcribeWithReceipt(wav, 3, /*ephemeral=*/false);
    EXPECT_EQ(receipt, (APIClient::TranscriptionReceipt{"hello", "n1", "hello"}));

    const auto uploads = server.requestsTo("/api/transcribe");
    ASSERT_EQ(uploads.size(), 1u);
    const RecordedRequest& r = uploads[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.target, "/api/transcribe");
    EXPECT_EQ(r.header("Authorization"), "Bearer T1");
    const string boundary = boundaryOf(r);
    EXPECT_TRUE(isUpperUuidBoundary(boundary)) << boundary;
    EXPECT_TRUE(r.body == expectedUpload(boundary, wav, "3", false)) << "body differs";
    EXPECT_EQ(r.body.find("name=\"ephemeral\""), string::npos);
    EXPECT_EQ(r.headerCount("User-Agent"), 0u);
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/transcribe"), 120);
}

TEST_F(TranscribeTest, EphemeralUploadAddsTheEphemeralPartLast) {
    server.on("/api/transcribe", {200, R"({"text":"hi"})"});
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(640));
    api->transcribeSingle(wav, 0, /*ephemeral=*/true);
    api->transcribeSingle(wav, 12, /*ephemeral=*/true);
    const auto uploads = server.requestsTo("/api/transcribe");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_TRUE(uploads[0].body == expectedUpload(boundaryOf(uploads[0]), wav, "0", true));
    EXPECT_TRUE(uploads[1].body == expectedUpload(boundaryOf(uploads[1]), wav, "12", true));
    EXPECT_NE(boundaryOf(uploads[0]), boundaryOf(uploads[1])) << "a new boundary per request";
}

TEST_F(TranscribeTest, AnswerRulesDecideByBodyNotStatus) {
    struct Case {
        CannedResponse answer;
        APIClient::TranscriptionReceipt expected;
    };
    const vector<Case> cases = {
        {{200, R"({"row":{"text":"raw","cleaned_text":"Clean.","id":"id-1"}})"},
         {"Clean.", "id-1", "raw"}},
        {{200, R"({"row":{"text":"raw","cleaned_text":"Clean.","id":7}})"},
         {"Clean.", std::nullopt, "raw"}},
        {{200, R"({"row":{"text":"raw","cleaned_text":null}})"}, {"raw", std::nullopt, "raw"}},
        {{500, R"({"text":"top","id":"t-1"})"}, {"top", "t-1", "top"}},
        {{200, R"({"row":{"cleaned_text":"row clean"},"text":"top"})"},
         {"top", std::nullopt, "top"}},
        {{401, R"({"row":{"text":"late"}})"}, {"late", std::nullopt, "late"}},
    };
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(64));
    for (const Case& c : cases) {
        server.once("/api/transcribe", c.answer);
        EXPECT_EQ(api->transcribeSingle(wav, 1, false), c.expected) << c.answer.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1") << "a usable 401 answer keeps the token";
}

TEST_F(TranscribeTest, FailureTexts) {
    const vector<std::pair<CannedResponse, string>> cases = {
        {{500, "<html>oops</html>"}, "HTTP 500"},
        {{200, "[]"}, "HTTP 200"},
        {{200, R"({"row":"text"})"}, "HTTP 200"},
        {{422, R"({"error":"Audio too short"})"}, "Audio too short"},
        {{422, R"({"error":{"message":"x"}})"}, "HTTP 422"},
        {{503, R"({"error":5})"}, "HTTP 503"},
    };
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(64));
    for (const auto& [answer, text] : cases) {
        server.once("/api/transcribe", answer);
        EXPECT_EQ(apiErrorText([&] { api->transcribeSingle(wav, 1, false); }), text) << answer.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1");
}

TEST_F(TranscribeTest, UnusableUploadAnswer401DropsTheToken) {
    server.once("/api/transcribe", {401, R"({"error":"JWT expired"})"});
    server.on("/api/native-auth/refresh", {200, sessionJson("T2", "R2", nowSeconds() + 3600)});
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(64));
    EXPECT_EQ(apiErrorText([&] { api->transcribeSingle(wav, 1, false); }), "JWT expired");
    EXPECT_EQ(api->cachedAccessToken(), std::nullopt);

    server.on("/api/transcribe", {200, R"({"text":"ok"})"});
    api->transcribeSingle(wav, 1, false);
    EXPECT_EQ(server.paths(),
              (vector<string>{"/api/transcribe", "/api/native-auth/refresh", "/api/transcribe"}));
    EXPECT_EQ(server.requestsTo("/api/transcribe").at(1).header("Authorization"), "Bearer T2");
}

TEST_F(TranscribeTest, ExactlyOneUploadLimitIsSentWhole) {
    server.on("/api/transcribe", {200, R"({"text":"whole"})"});
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(APIClient::kMaximumUploadPCMBytes));
    EXPECT_EQ(api->transcribeWithReceipt(wav, 98, false).text, "whole");
    EXPECT_EQ(server.paths(), vector<string>{"/api/transcribe"});
    EXPECT_EQ(server.requestsTo("/api/transcribe")[0].body.find("name=\"ephemeral\""),
              string::npos);
}

TEST_F(TranscribeTest, LongRecordingIsSplitIntoEphemeralPiecesThenFinalised) {
    server.once("/api/transcribe",
                {200, R"({"row":{"text":"first raw","cleaned_text":"First."}})"});
    server.once("/api/transcribe", {200, R"({"text":"second"})"});
    server.on("/api/transcribe/finalize",
              {200, R"({"row":{"text":"all raw","cleaned_text":"All.","id":"final-id"}})"});
    auto api = signedInClient();
    const Bytes pcm = pcmOfSize(3145730);
    const Bytes wav = WAV::wrap(pcm);
    const auto receipt = api->transcribeWithReceipt(wav, 99, /*ephemeral=*/false);
    EXPECT_EQ(receipt, (APIClient::TranscriptionReceipt{"All.", "final-id", "all raw"}));

    ASSERT_EQ(server.paths(),
              (vector<string>{"/api/transcribe", "/api/transcribe", "/api/transcribe/finalize"}));
    const auto uploads = server.requestsTo("/api/transcribe");
    const Bytes firstPiece = WAV::wrap(Bytes(pcm.begin(), pcm.begin() + 3145728));
    const Bytes secondPiece = WAV::wrap(Bytes(pcm.begin() + 3145728, pcm.end()));
    EXPECT_EQ(durationOf(uploads[0]), "98");
    EXPECT_EQ(durationOf(uploads[1]), "1");
    EXPECT_TRUE(uploads[0].body == expectedUpload(boundaryOf(uploads[0]), firstPiece, "98", true));
    EXPECT_TRUE(uploads[1].body == expectedUpload(boundaryOf(uploads[1]), secondPiece, "1", true));

    const RecordedRequest fin = server.requestsTo("/api/transcribe/finalize").at(0);
    EXPECT_EQ(fin.method, "POST");
    EXPECT_EQ(fin.header("Authorization"), "Bearer T1");
    EXPECT_EQ(fin.header("Content-Type"), "application/json");
    EXPECT_EQ(json::parse(fin.body), (json{{"rawText", "first raw\n\nsecond"},
                                           {"cleanedText", "First.\n\nsecond"},
                                           {"durationSecs", 99},
                                           {"source", "mac"}}));
    EXPECT_DOUBLE_EQ(transport->timeoutFor("/api/transcribe/finalize"), 60);
}

TEST_F(TranscribeTest, HundredSecondRecordingIsSentAs98And1ThenFinalisedWith100) {
    server.on("/api/transcribe", {200, R"({"text":"piece"})"});
    server.on("/api/transcribe/finalize", {200, R"({"row":{"text":"piece\n\npiece"}})"});
    auto api = signedInClient();
    api->transcribeWithReceipt(WAV::wrap(pcmOfSize(3200000)), 100, false);
    const auto uploads = server.requestsTo("/api/transcribe");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(durationOf(uploads[0]), "98");
    EXPECT_EQ(durationOf(uploads[1]), "1");
    EXPECT_EQ(json::parse(server.requestsTo("/api/transcribe/finalize").at(0).body)["durationSecs"],
              100);
}

TEST_F(TranscribeTest, EphemeralLongRecordingAndWavWithoutPcmAreSentWhole) {
    server.on("/api/transcribe", {200, R"({"text":"x"})"});
    auto api = signedInClient();
    const Bytes wav = WAV::wrap(pcmOfSize(3200000));
    api->transcribeWithReceipt(wav, 100, /*ephemeral=*/true);
    const Bytes notWav = {'n', 'o', 't', ' ', 'w', 'a', 'v'};
    api->transcribeWithReceipt(notWav, 5, false);
    const auto uploads = server.requestsTo("/api/transcribe");
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_TRUE(uploads[0].body == expectedUpload(boundaryOf(uploads[0]), wav, "100", true));
    EXPECT_TRUE(uploads[1].body == expectedUpload(boundaryOf(uploads[1]), notWav, "5", false));
    EXPECT_TRUE(server.requestsTo("/api/transcribe/finalize").empty());
}

TEST_F(TranscribeTest, FailingPieceEndsTheLongRecordingWithoutFinalisation) {
    server.once("/api/transcribe", {200, R"({"text":"one"})"});
    server.once("/api/transcribe", {500, R"({"error":"Transcriber busy"})"});
    server.on("/api/transcribe", {200, R"({"text":"never"})"});
    auto api = signedInClient();
    EXPECT_EQ(apiErrorText(
                  [&] { api->transcribeWithReceipt(WAV::wrap(pcmOfSize(7000000)), 218, false); }),
              "Transcriber busy");
    EXPECT_EQ(server.paths(), (vector<string>{"/api/transcribe", "/api/transcribe"}));
}

TEST_F(TranscribeTest, FinalisationRules) {
    const vector<std::pair<CannedResponse, string>> failures = {
        {{200, R"({"text":"top only"})"}, "Couldn’t save the completed recording"},
        {{201, R"({"row":{"text":"t"}})"}, "Couldn’t save the completed recording"},
        {{500, R"({"error":"Database unavailable"})"}, "Database unavailable"},
        {{500, R"({"error":false})"}, "Couldn’t save the completed recording"},
        {{401, R"({"error":"JWT expired"})"}, "JWT expired"},
    };
    auto api = signedInClient();
    for (const auto& [answer, text] : failures) {
        server.once("/api/transcribe/finalize", answer);
        EXPECT_EQ(apiErrorText([&] { api->finalizeLongRecording("r", "c", 120); }), text)
            << answer.body;
    }
    EXPECT_EQ(api->cachedAccessToken(), "T1") << "a 401 finalisation keeps the token";

    server.once("/api/transcribe/finalize",
                {200, R"({"row":{"text":"r","cleaned_text":5,"id":"f"}})"});
    EXPECT_EQ(api->finalizeLongRecording("r", "c", 120),
              (APIClient::TranscriptionReceipt{"r", "f", "r"}));
}

TEST_F(TranscribeTest, NoSessionSendsNothing) {
    auto api = makeClient(configFor());
    EXPECT_EQ(apiErrorText([&] { api->transcribeWithReceipt(WAV::wrap(pcmOfSize(64)), 1, false); }),
              "Sign-in failed");
    EXPECT_TRUE(server.requests().empty());
}

}  // namespace
}  // namespace larkspire::testing

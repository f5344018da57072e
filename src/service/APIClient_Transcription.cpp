
#include "audio/WAV.h"
#include "service/APIClient.h"
#include "service/Wire.h"
#include "util/Uuid.h"

namespace larkspire {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string newBoundary() {
    return "dictation-" + uuid::randomUpperCase();
}

std::string multipartBody(const std::string& boundary, const Bytes& wav, int durationSecs,
                          bool ephemeral) {
    const std::string crlf = "\r\n";
    std::string body;
    body.reserve(wav.size() + 512);
    body += "--" + boundary + crlf;
    body += "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n";
    body += "Content-Type: audio/wav\r\n\r\n";
    body.append(wav.begin(), wav.end());
    body += crlf + "--" + boundary + crlf;
    body += "Content-Disposition: form-data; name=\"duration_secs\"\r\n\r\n";
    body += std::to_string(durationSecs);
    body += crlf + "--" + boundary + crlf;
    body += "Content-Disposition: form-data; name=\"source\"\r\n\r\nmac";
    if (ephemeral) {
        body += crlf + "--" + boundary + crlf;
        body += "Content-Disposition: form-data; name=\"ephemeral\"\r\n\r\ntrue";
    }
    body += crlf + "--" + boundary + "--" + crlf;
    return body;
}

// The receipt held by a "row" object with a string "text".
std::optional<APIClient::TranscriptionReceipt> receiptFromRow(const json& root) {
    auto row = root.find("row");
    if (row == root.end() || !row->is_object()) {
        return std::nullopt;
    }
    auto raw = wire::stringAt(*row, "text");
    if (!raw) {
        return std::nullopt;
    }
    return APIClient::TranscriptionReceipt{wire::stringAt(*row, "cleaned_text").value_or(*raw),
                                           wire::stringAt(*row, "id"), *raw};
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += parts[i];
    }
    return out;
}

}  // namespace

APIClient::TranscriptionReceipt APIClient::transcribeWithReceipt(const Bytes& wav, int durationSecs,
                                                                 bool ephemeral) {
    const std::vector<Bytes> pieces =
        WAV::chunks(wav, static_cast<std::int64_t>(kMaximumUploadPCMBytes));
    if (pieces.size() < 2 || ephemeral) {
        return transcribeSingle(wav, durationSecs, ephemeral);
    }
    std::vector<std::string> rawTexts;
    std::vector<std::string> texts;
    for (const Bytes& piece : pieces) {
        int seconds = 1;
        if (auto pcm = WAV::pcmData(piece)) {
            seconds = std::max(1, static_cast<int>(pcm->size() / WAV::pcmBytesPerSecond));
        }
        // Each piece is only a step towards the whole; the finalisation saves it.
        TranscriptionReceipt receipt = transcribeSingle(piece, seconds, /*ephemeral=*/true);
        rawTexts.push_back(std::move(receipt.rawText));
        texts.push_back(std::move(receipt.text));
    }
    return finalizeLongRecording(joined(rawTexts, "\n\n"), joined(texts, "\n\n"), durationSecs);
}

APIClient::TranscriptionReceipt APIClient::transcribeSingle(const Bytes& wav, int durationSecs,
                                                            bool ephemeral) {
    const std::string token = ensureToken();
    const std::string boundary = newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = endpointUrl("/api/transcribe");
    request.timeout = 120s;
    request.headers.emplace_back("Authorization", "Bearer " + token);
    request.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
    request.body = multipartBody(boundary, wav, durationSecs, ephemeral);
    const HttpResponse response = syncRequest(request);

    // Decided by the body, whatever the status.
    const json root = wire::objectOrEmpty(response.body);
    if (auto receipt = receiptFromRow(root)) {
        return *receipt;
    }
    if (auto text = wire::stringAt(root, "text")) {
        return TranscriptionReceipt{*text, wire::stringAt(root, "id"), *text};
    }
    if (response.status == 401) {
        dropAccessToken();
    }
    throw APIError::requestFailed(
        wire::errorMessage(root, "HTTP " + std::to_string(response.status)));
}

APIClient::TranscriptionReceipt APIClient::finalizeLongRecording(const std::string& rawText,
                                                                 const std::string& cleanedText,
                                                                 int durationSecs) {
    const std::string token = ensureToken();
    const json body = {{"rawText", rawText},
                       {"cleanedText", cleanedText},
                       {"durationSecs", durationSecs},
                       {"source", "mac"}};
    const HttpResponse response =
        syncRequest(jsonRequest("/api/transcribe/finalize", body, 60s, token));
    const json root = wire::objectOrEmpty(response.body);
    if (response.status == 200) {
        if (auto receipt = receiptFromRow(root)) {
            return *receipt;
        }
    }
    // A 401 here leaves the cached token alone.
    throw APIError::requestFailed(
        wire::errorMessage(root, "Couldn’t save the completed recording"));
}

}  // namespace larkspire

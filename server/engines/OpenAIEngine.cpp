#include "server/engines/OpenAIEngine.h"

#include <curl/curl.h>

#include <algorithm>
#include <thread>

#include "server/auth/Crypto.h"
#include "server/speech/TextCleanup.h"
#include "service/Http.h"
#include "util/BoundedJson.h"

namespace larkspire::server {
namespace {

constexpr auto kLongestRetryWait = std::chrono::seconds(5);
// An engine's own error text, as much as a status line can hold.
constexpr size_t kMaxQuotedError = 200;

std::string sizeText(size_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

// The seconds of a Retry-After header, bounded; a date or nothing waits one second.
std::chrono::milliseconds retryWait(const std::string& header) {
    try {
        size_t used = 0;
        const double seconds = std::stod(header, &used);
        if (used == header.size() && seconds >= 0) {
            return std::min<std::chrono::milliseconds>(
                std::chrono::milliseconds(static_cast<long long>(seconds * 1000)),
                kLongestRetryWait);
        }
    } catch (const std::exception&) {
    }
    return std::chrono::seconds(1);
}

// What an engine said of its failure: {"error": "…"} or {"error": {"message": "…"}}
// (OpenAI's shape), cut to a line; empty when it said nothing readable.
std::string engineMessage(const std::string& body) {
    auto json = parseBoundedJson(body);
    if (json.is_discarded() || !json.is_object()) {
        return "";
    }
    auto error = json.find("error");
    if (error == json.end()) {
        return "";
    }
    std::string text;
    if (error->is_string()) {
        text = error->get<std::string>();
    } else if (error->is_object() && error->contains("message") &&
               (*error)["message"].is_string()) {
        text = (*error)["message"].get<std::string>();
    }
    std::replace_if(
        text.begin(), text.end(), [](unsigned char c) { return c < 0x20; }, ' ');
    return text.size() > kMaxQuotedError ? text::utf8Prefix(text, kMaxQuotedError) + "…" : text;
}

struct FormField {
    std::string name;
    std::string value;
    std::string fileName;  // set for a file part
    std::string contentType;
};

std::string multipart(const std::string& boundary, const std::vector<FormField>& fields) {
    std::string body;
    for (const auto& f : fields) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + f.name + "\"";
        if (!f.fileName.empty()) {
            body += "; filename=\"" + f.fileName + "\"\r\nContent-Type: " + f.contentType;
        }
        body += "\r\n\r\n" + f.value + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

}  // namespace

OpenAIEngine::OpenAIEngine(std::string name, EngineEndpoint endpoint,
                           std::chrono::milliseconds stall, Sleep sleep)
    : name_(std::move(name)),
      endpoint_(std::move(endpoint)),
      stall_(stall),
      sleep_(sleep ? std::move(sleep) : Sleep([](auto d) { std::this_thread::sleep_for(d); })) {}

std::string OpenAIEngine::who() const {
    return name_ + " at " + endpoint_.url;
}

void OpenAIEngine::fail(const std::string& cause, int status) const {
    std::string text = who() + " " + cause;
    // An engine may quote the key it was given in its complaint.
    if (endpoint_.key.size() >= 4) {
        for (size_t at; (at = text.find(endpoint_.key)) != std::string::npos;) {
            text.replace(at, endpoint_.key.size(), "[REDACTED]");
        }
    }
    throw EngineError(text, status);
}

std::string OpenAIEngine::post(const std::string& path, const std::string& contentType,
                               const std::string& body, size_t maxAnswer) const {
    HttpRequest request;
    request.method = "POST";
    request.url = endpoint_.url + path;
    request.headers.emplace_back("Content-Type", contentType);
    if (!endpoint_.key.empty()) {
        request.headers.emplace_back("Authorization", "Bearer " + endpoint_.key);
    }
    request.body = body;
    request.timeout = stall_;
    CurlTransport transport(maxAnswer);
    for (int attempt = 0;; ++attempt) {
        HttpResponse response;
        try {
            response = transport.send(request);
        } catch (const TransportError& e) {
            switch (e.code()) {
                case CURLE_WRITE_ERROR:
                case CURLE_FILESIZE_EXCEEDED:
                    fail("answered more than " + sizeText(maxAnswer));
                case CURLE_OPERATION_TIMEDOUT:
                    fail("made no progress for " + std::to_string(stall_.count() / 1000) + " s",
                         504);
                default:
                    fail("did not answer (" + std::string(e.what()) + ")");
            }
        }
        if (response.status == 429 && attempt == 0) {
            sleep_(retryWait(response.retryAfter));
            continue;
        }
        if (response.status < 200 || response.status > 299) {
            const std::string said = engineMessage(response.body);
            fail("answered HTTP " + std::to_string(response.status) +
                 (said.empty() ? "" : ": " + said));
        }
        return std::move(response.body);
    }
}

std::string OpenAIEngine::transcribe(const std::string& wav, const std::string& language,
                                     const std::string& prompt) const {
    std::vector<FormField> fields{{"file", wav, "audio.wav", "audio/wav"},
                                  {"model", endpoint_.model, "", ""},
                                  {"response_format", "json", "", ""}};
    if (!language.empty()) {
        fields.push_back({"language", language, "", ""});
    }
    if (!prompt.empty()) {
        fields.push_back({"prompt", prompt, "", ""});
    }
    const std::string boundary = "larkspire-" + crypto::uuid();
    auto answer =
        parseBoundedJson(post("/audio/transcriptions", "multipart/form-data; boundary=" + boundary,
                              multipart(boundary, fields), kMaxTextAnswer));
    if (answer.is_discarded() || !answer.is_object()) {
        fail("answered with malformed JSON");
    }
    if (auto text = answer.find("text"); text != answer.end() && text->is_string()) {
        return text->get<std::string>();
    }
    // whisper.cpp's server reports some failures as {"error": …} with status 200.
    const std::string said = engineMessage(answer.dump());
    fail(said.empty() ? "answered without a \"text\"" : "answered with an error: " + said);
}

std::string OpenAIEngine::chat(const nlohmann::json& messages, int maxTokens) const {
    const nlohmann::json body{{"model", endpoint_.model},
                              {"messages", messages},
                              {"temperature", 0},
                              {"max_tokens", maxTokens},
                              {"stream", false}};
    auto answer = parseBoundedJson(
        post("/chat/completions", "application/json",
             body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kMaxTextAnswer));
    if (answer.is_discarded() || !answer.is_object()) {
        fail("answered with malformed JSON");
    }
    const auto content =
        answer.value(nlohmann::json::json_pointer("/choices/0/message/content"), nlohmann::json());
    if (!content.is_string()) {
        fail("answered without a message");
    }
    return content.get<std::string>();
}

std::string OpenAIEngine::speak(const std::string& text, const std::string& voice) const {
    const nlohmann::json body{
        {"model", endpoint_.model}, {"input", text}, {"voice", voice}, {"response_format", "wav"}};
    std::string audio =
        post("/audio/speech", "application/json",
             body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), kMaxAudioAnswer);
    if (audio.empty()) {
        fail("answered no audio");
    }
    if (audio.front() == '{') {
        const std::string said = engineMessage(audio);
        fail(said.empty() ? "answered JSON instead of audio" : "answered with an error: " + said);
    }
    return audio;
}

}  // namespace larkspire::server

#include "service/APIClient.h"
#include "service/Wire.h"

namespace larkspire {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

std::string base64(const Bytes& data) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(kAlphabet[(n >> 6) & 63]);
        out.push_back(kAlphabet[n & 63]);
    }
    const size_t rest = data.size() - i;
    if (rest == 1) {
        const uint32_t n = uint32_t{data[i]} << 16;
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out += "==";
    } else if (rest == 2) {
        const uint32_t n = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
        out.push_back(kAlphabet[(n >> 18) & 63]);
        out.push_back(kAlphabet[(n >> 12) & 63]);
        out.push_back(kAlphabet[(n >> 6) & 63]);
        out.push_back('=');
    }
    return out;
}

std::optional<bool> boolAt(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_boolean()) {
        return std::nullopt;
    }
    return it->get<bool>();
}

ContextualResult resultFrom(const json& root, std::string draft) {
    ContextualResult r;
    r.draft = std::move(draft);
    r.intent = wire::stringAt(root, "intent").value_or(r.intent);
    r.explanation = wire::stringAt(root, "explanation").value_or(r.explanation);
    r.surface = wire::stringAt(root, "surface").value_or(r.surface);
    r.insertLabel = wire::stringAt(root, "insertLabel").value_or(r.insertLabel);
    r.usedWindowImage = boolAt(root, "usedWindowImage").value_or(r.usedWindowImage);
    r.projectName = wire::stringAt(root, "projectName");
    r.usedWritingStyle = boolAt(root, "usedWritingStyle").value_or(r.usedWritingStyle);
    r.voiceEnabled = boolAt(root, "voiceEnabled").value_or(r.voiceEnabled);
    if (auto it = root.find("voiceSpeed"); it != root.end() && it->is_number()) {
        r.voiceSpeed = it->get<float>();
    }
    return r;
}

}  // namespace

ContextualResult APIClient::contextualDraft(const std::string& instruction,
                                            const DraftContext& context,
                                            const std::optional<Bytes>& windowImage,
                                            const std::optional<std::string>& activeProjectId) {
    const std::string token = ensureToken();
    json body = {
        {"instruction", instruction},           {"application", context.application},
        {"windowTitle", context.windowTitle},   {"role", context.role},
        {"selectedText", context.selectedText}, {"surroundingText", context.surroundingText},
        {"windowText", context.windowText}};
    if (windowImage) {
        body["windowImage"] = base64(*windowImage);
    }
    if (activeProjectId) {
        body["activeProjectId"] = *activeProjectId;
    }
    const HttpResponse response = syncRequest(jsonRequest("/api/contextual", body, 60s, token));

    const json root = wire::objectOrEmpty(response.body);
    if (response.status == 401) {
        dropAccessToken();
    } else if (response.status == 200 && !root.empty()) {
        if (auto draft = wire::stringAt(root, "draft")) {
            return resultFrom(root, *draft);
        }
    }
    throw APIError::requestFailed(
        wire::errorMessage(root, "Context request HTTP " + std::to_string(response.status)));
}

Bytes APIClient::speech(const std::string& text,
                        std::shared_ptr<const std::atomic<bool>> cancelled) {
    Bytes audio;
    speech(
        text,
        [&audio](std::span<const std::uint8_t> piece) {
            audio.insert(audio.end(), piece.begin(), piece.end());
            return true;
        },
        std::move(cancelled));
    return audio;
}

void APIClient::speech(const std::string& text, const AudioPiece& onAudio,
                       std::shared_ptr<const std::atomic<bool>> cancelled) {
    const std::string token = ensureToken();
    HttpRequest request = jsonRequest("/api/speech", json{{"text", text}}, 60s, token);
    request.cancelled = std::move(cancelled);
    request.onBody = [&onAudio](std::string_view piece) {
        return onAudio(
            std::span(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
    };
    const HttpResponse response = syncRequest(request);
    if (response.status == 200) {
        // A transport that keeps the whole answer hands it over in one piece.
        if (!response.body.empty()) {
            request.onBody(response.body);
        }
        return;
    }
    if (response.status == 401) {
        dropAccessToken();
    }
    throw APIError::requestFailed(
        wire::errorMessage(wire::objectOrEmpty(response.body),
                           "Speech request HTTP " + std::to_string(response.status)));
}

}  // namespace larkspire

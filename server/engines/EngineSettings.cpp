#include "server/engines/EngineSettings.h"

#include <stdexcept>

#include "service/Http.h"

namespace larkspire::server {
namespace {

std::string value(const std::map<std::string, std::string>& values, const std::string& key,
                  const std::string& fallback = "") {
    auto it = values.find(key);
    return it == values.end() ? fallback : it->second;
}

std::string keyFrom(const std::function<const char*(const char*)>& environment, const char* own) {
    for (const char* name : {own, "LARKSPIRE_ENGINE_KEY"}) {
        const char* key = environment(name);
        if (key != nullptr && *key != '\0') {
            return key;
        }
    }
    return "";
}

// One engine from its "<prefix>-url" and "<prefix>-model"; nothing when no URL is named.
bool endpoint(const std::map<std::string, std::string>& values, const std::string& prefix,
              const std::string& defaultModel, std::string key, std::optional<EngineEndpoint>& out,
              std::string& error) {
    std::string url = value(values, prefix + "-url");
    std::string model = value(values, prefix + "-model", defaultModel);
    if (url.empty()) {
        if (values.count(prefix + "-model") > 0) {
            error = "--" + prefix + "-model needs --" + prefix + "-url";
            return false;
        }
        return true;
    }
    while (!url.empty() && url.back() == '/') {
        url.pop_back();
    }
    if (!isUsableHttpUrl(url)) {
        error = "--" + prefix + "-url needs an http or https address, got \"" + url + "\"";
        return false;
    }
    if (model.empty()) {
        error = "--" + prefix + "-url needs --" + prefix + "-model";
        return false;
    }
    out = EngineEndpoint{url, model, std::move(key)};
    return true;
}

}  // namespace

const std::vector<std::string>& EngineSettings::keys() {
    static const std::vector<std::string> names{
        "stt-url", "stt-model", "stt-language", "llm-url", "llm-model",
        "tts-url", "tts-model", "tts-voice",    "cleanup", "engine-timeout"};
    return names;
}

std::optional<EngineSettings> EngineSettings::from(
    const std::map<std::string, std::string>& values,
    const std::function<const char*(const char*)>& environment, std::string& error) {
    EngineSettings s;
    if (!endpoint(values, "stt", "whisper-1", keyFrom(environment, "LARKSPIRE_STT_KEY"), s.stt,
                  error) ||
        !endpoint(values, "llm", "", keyFrom(environment, "LARKSPIRE_LLM_KEY"), s.llm, error) ||
        !endpoint(values, "tts", "tts-1", keyFrom(environment, "LARKSPIRE_TTS_KEY"), s.tts,
                  error)) {
        return std::nullopt;
    }
    s.sttLanguage = value(values, "stt-language");
    s.ttsVoice = value(values, "tts-voice", "alloy");
    const std::string cleanup = value(values, "cleanup", s.llm ? "model" : "rules");
    if (cleanup != "rules" && cleanup != "model") {
        error = "--cleanup must be \"rules\" or \"model\", got \"" + cleanup + "\"";
        return std::nullopt;
    }
    if (cleanup == "model" && !s.llm) {
        error = "--cleanup model needs --llm-url and --llm-model";
        return std::nullopt;
    }
    s.ruleCleanup = cleanup == "rules";
    if (auto timeout = value(values, "engine-timeout"); !timeout.empty()) {
        try {
            size_t used = 0;
            const double seconds = std::stod(timeout, &used);
            if (used != timeout.size() || !(seconds >= 1 && seconds <= 3600)) {
                throw std::invalid_argument(timeout);
            }
            s.stall = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
        } catch (const std::exception&) {
            error = "--engine-timeout needs a number of seconds from 1 to 3600, got \"" + timeout +
                    "\"";
            return std::nullopt;
        }
    }
    return s;
}

std::vector<EngineDescription> describe(const EngineSettings& s) {
    const std::string outside = "OpenAI-compatible engine";
    auto of = [&](const char* task, const std::optional<EngineEndpoint>& e, const char* embedded) {
        return e ? EngineDescription{task, outside, e->url, e->model}
                 : EngineDescription{task, embedded, "", ""};
    };
    return {of("Speech recognition", s.stt, "PocketSphinx (embedded)"),
            of("Cleanup", s.ruleCleanup ? std::nullopt : s.llm, "Cleanup rules (embedded)"),
            of("Drafts", s.llm, "Drafting rules (embedded)"),
            of("Read aloud", s.tts, "eSpeak NG (embedded)")};
}

}  // namespace larkspire::server

#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::server {

// One outside engine that speaks the OpenAI-compatible HTTP API.
struct EngineEndpoint {
    std::string url;  // an OpenAI-style base such as http://127.0.0.1:8080/v1, no trailing "/"
    std::string model;
    std::string key;  // from the environment only; never logged, never shown
};

// Which engines serve transcription, cleanup and drafts, and speech. An engine left out is
// the embedded one: PocketSphinx, the cleanup and drafting rules, eSpeak NG.
struct EngineSettings {
    std::optional<EngineEndpoint> stt;
    std::string sttLanguage;  // empty: the engine detects it
    std::optional<EngineEndpoint> llm;
    std::optional<EngineEndpoint> tts;
    std::string ttsVoice;
    // Cleanup by the rules even when a language model is named (it still drafts).
    bool ruleCleanup = false;
    // An engine that sends nothing for this long has failed.
    std::chrono::milliseconds stall{std::chrono::seconds(30)};

    // The option names without their dashes, as the configuration file spells them too.
    static const std::vector<std::string>& keys();

    // Builds the settings from option values (key → text) and the environment's keys
    // (LARKSPIRE_ENGINE_KEY, or LARKSPIRE_STT_KEY / _LLM_ / _TTS_ each); on a mistake
    // returns nothing and sets `error`, naming the option as the command line spells it.
    static std::optional<EngineSettings> from(
        const std::map<std::string, std::string>& values,
        const std::function<const char*(const char*)>& environment, std::string& error);
};

// What serves one task, for the log and the settings page: never a key.
struct EngineDescription {
    std::string task;    // "Speech recognition", "Cleanup", "Drafts", "Read aloud"
    std::string engine;  // "OpenAI-compatible engine" or the embedded engine's name
    std::string url;     // empty for an embedded engine
    std::string model;
};

std::vector<EngineDescription> describe(const EngineSettings& settings);

}  // namespace larkspire::server

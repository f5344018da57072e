#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "server/engines/EngineSettings.h"

namespace larkspire::server {

// An engine that failed. The text names the engine and the cause ("Speech engine at
// http://127.0.0.1:8080/v1 did not answer") and never holds its key; `status` is what the
// service answers the agent with: 504 when the engine made no progress, else 502.
class EngineError : public std::runtime_error {
  public:
    EngineError(const std::string& text, int status) : std::runtime_error(text), status_(status) {}
    int status() const { return status_; }

  private:
    int status_;
};

// One engine behind the OpenAI-compatible HTTP API. Each call blocks the calling thread
// (a request thread of the service) for one exchange, or two when the engine answers 429:
// that one is retried once, after its Retry-After of at most 5 s. Safe to use from many
// threads at once.
class OpenAIEngine {
  public:
    // Answers beyond these sizes are refused: a text engine gives at most 1 MB, a speech
    // engine 50 MB of audio.
    static constexpr size_t kMaxTextAnswer = 1024 * 1024;
    static constexpr size_t kMaxAudioAnswer = 50 * 1024 * 1024;

    using Sleep = std::function<void(std::chrono::milliseconds)>;

    // `name` is how the user knows it: "Speech engine", "Language model", "Voice engine".
    OpenAIEngine(std::string name, EngineEndpoint endpoint, std::chrono::milliseconds stall,
                 Sleep sleep = {});

    // POST BASE/audio/transcriptions: the WAV as multipart "file"; the answer's "text".
    std::string transcribe(const std::string& wav, const std::string& language,
                           const std::string& prompt) const;
    // POST BASE/chat/completions: the first choice's message content.
    std::string chat(const nlohmann::json& messages, int maxTokens) const;
    // POST BASE/audio/speech with response_format "wav": the audio bytes.
    std::string speak(const std::string& text, const std::string& voice) const;

    const EngineEndpoint& endpoint() const { return endpoint_; }
    // "Speech engine at http://…" — the start of every failure text.
    std::string who() const;

  private:
    std::string post(const std::string& path, const std::string& contentType,
                     const std::string& body, size_t maxAnswer) const;
    [[noreturn]] void fail(const std::string& cause, int status = 502) const;

    std::string name_;
    EngineEndpoint endpoint_;
    std::chrono::milliseconds stall_;
    Sleep sleep_;
};

}  // namespace larkspire::server

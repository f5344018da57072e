#pragma once

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "audio/WAV.h"
#include "platform/Clock.h"
#include "platform/Keychain.h"
#include "service/Config.h"
#include "service/Http.h"
#include "service/NativeSession.h"

namespace larkspire {

// One entry of the user's project list.
struct ProjectChoice {
    std::string id;
    std::string name;
    bool operator==(const ProjectChoice&) const = default;
};

// The parts of a captured window context that a screen-aware request sends.
struct DraftContext {
    std::string application;
    std::string windowTitle;
    std::string role;
    std::string selectedText;
    std::string surroundingText;
    std::string windowText;
};

// The service's answer to a screen-aware request; each field's default stands in for a
// missing key or a value of the wrong type.
struct ContextualResult {
    std::string intent = "ask";
    std::string draft;
    std::string explanation;
    std::string surface = "generic";
    std::string insertLabel = "Insert at cursor";
    bool usedWindowImage = false;
    std::optional<std::string> projectName;
    bool usedWritingStyle = false;
    bool voiceEnabled = true;
    float voiceSpeed = 1.0f;
    bool operator==(const ContextualResult&) const = default;
};

// The one client of the Larkspire service: the signed-in state (a cached access token
// with its expiry and a refresh token) and every endpoint. Every operation blocks the
// calling thread for its whole exchange; the token state is safe to use from any thread.
class APIClient {
  public:
    class APIError : public std::exception {
      public:
        enum class Kind { requestFailed, notConfigured, authFailed };

        static APIError requestFailed(std::string message) {
            return APIError(Kind::requestFailed, std::move(message));
        }
        static APIError notConfigured() {
            return APIError(Kind::notConfigured, "Missing ~/.vantrel/config.json");
        }
        static APIError authFailed() { return APIError(Kind::authFailed, "Sign-in failed"); }

        Kind kind() const { return kind_; }
        // The user-facing text.
        const std::string& description() const { return text_; }
        // The user-facing text of any failure of a call: an APIError's description, else
        // what() (transport failures).
        static std::string describe(const std::exception& e) {
            if (auto api = dynamic_cast<const APIError*>(&e)) {
                return api->description();
            }
            return e.what();
        }
        const char* what() const noexcept override { return text_.c_str(); }

      private:
        APIError(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
        Kind kind_;
        std::string text_;
    };

    struct TranscriptionReceipt {
        std::string text;
        std::optional<std::string> id;
        std::string rawText;
        bool operator==(const TranscriptionReceipt&) const = default;
    };

    struct Options {
        // Sent as "appVersion" by the activation and status reports; "dev" when absent.
        std::optional<std::string> appVersion;
    };

    // A JSON body that could not be serialised (text that is not UTF-8). Nothing is sent.
    class SerializationError : public std::runtime_error {
      public:
        using std::runtime_error::runtime_error;
    };

    // The PCM limit of one upload: 98.304 seconds of 16 kHz mono 16-bit audio.
    static constexpr size_t kMaximumUploadPCMBytes = 3145728;

    // Copies the configuration and loads the stored session from `keychain`; sends
    // nothing. `clock` and `keychain` must outlive the client. Without a transport the
    // client speaks HTTP through libcurl.
    APIClient(Config config, const platform::Clock& clock, platform::Keychain& keychain,
              std::shared_ptr<HttpTransport> transport = nullptr, Options options = {});

    APIClient(const APIClient&) = delete;
    APIClient& operator=(const APIClient&) = delete;

    // An access token fit for use: the cached one while it is valid for more than 60
    // seconds, else a refreshed session, else a password sign-in from the configuration.
    // Throws APIError::authFailed when none of them works.
    std::string ensureToken();
    // Exchanges a refresh token for a new session (the caller installs it). A rejected
    // refresh deletes the stored session and throws authFailed.
    NativeSession refreshSession(const std::string& refreshToken);
    // Adopts a session and saves it in the keychain.
    void install(const NativeSession& session);
    // Reads a session from a service answer; "expiresAt" defaults to an hour from now.
    std::optional<NativeSession> decodeSession(std::string_view body) const;
    // Sends one request and blocks until it completes. Every HTTP status is returned;
    // transport failures throw TransportError.
    HttpResponse syncRequest(const HttpRequest& request);

    // Transcription. Long recordings go up in pieces of at most kMaximumUploadPCMBytes
    // of PCM and are then finalised as one.
    TranscriptionReceipt transcribeWithReceipt(const Bytes& wav, int durationSecs, bool ephemeral);
    TranscriptionReceipt transcribeSingle(const Bytes& wav, int durationSecs, bool ephemeral);
    TranscriptionReceipt finalizeLongRecording(const std::string& rawText,
                                               const std::string& cleanedText, int durationSecs);

    // Account, activation, status and projects.
    void requestSignInCode(const std::string& email);
    void verifySignInCode(const std::string& email, const std::string& code);
    void recordActivationEvent(const std::string& event, const std::string& installationId);
    void updateNativeStatus(const std::string& installationId, bool microphone, bool accessibility,
                            bool inputMonitoring, bool screenRecording);
    std::vector<ProjectChoice> fetchProjects();

    // Screen-aware draft and speech.
    ContextualResult contextualDraft(const std::string& instruction, const DraftContext& context,
                                     const std::optional<Bytes>& windowImage,
                                     const std::optional<std::string>& activeProjectId);
    // `cancelled`, when given and set, ends the download early (a reading stopped).
    Bytes speech(const std::string& text,
                 std::shared_ptr<const std::atomic<bool>> cancelled = nullptr);
    // The same audio handed to `onAudio` piece by piece as it arrives, so that playback
    // can start before its end; `onAudio` returning false ends the download (it then
    // throws the transport's error).
    using AudioPiece = std::function<bool(std::span<const std::uint8_t> piece)>;
    void speech(const std::string& text, const AudioPiece& onAudio,
                std::shared_ptr<const std::atomic<bool>> cancelled = nullptr);

    // The user's notes, each a JSON object in the service's order.
    std::vector<nlohmann::json> fetchNotes(const std::string& since, bool full);

    const Config& config() const { return config_; }
    const std::string& appVersion() const { return appVersion_; }
    // The cached access token, if any (diagnostics and tests).
    std::optional<std::string> cachedAccessToken() const;

  private:
    std::string endpointUrl(std::string_view path) const;
    HttpRequest jsonRequest(std::string_view path, const nlohmann::json& body,
                            std::chrono::seconds timeout,
                            const std::optional<std::string>& token) const;
    // Forgets the cached access token after a 401, so the next call renews it.
    void dropAccessToken();
    void installLocked(const NativeSession& session);
    std::string passwordSignIn();

    const Config config_;
    const platform::Clock& clock_;
    platform::Keychain& keychain_;
    std::shared_ptr<HttpTransport> transport_;
    std::string appVersion_;

    // Guards the three token fields. ensureToken holds it for its whole run so that two
    // threads never spend the same refresh token twice (the service may rotate it, and a
    // rejected second refresh would delete the stored session).
    mutable std::mutex tokenMutex_;
    std::optional<std::string> accessToken_;
    platform::TimePoint tokenExpiry_ = platform::distantPast();
    std::optional<std::string> refreshToken_;
};

}  // namespace larkspire

#pragma once

#include <httplib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace larkspire::devservice::testing {

using Json = nlohmann::json;

// A larkspire-devservice process on a free loopback port with its own data folder, stopped
// and cleaned up when the object goes.
class ServiceProcess {
  public:
    explicit ServiceProcess(std::vector<std::string> extraArgs = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return port_; }
    int pid() const { return pid_; }
    const std::filesystem::path& dataDir() const { return dataDir_; }
    httplib::Client client() const;

    // POST a JSON body, with a bearer token when one is given.
    httplib::Result postJson(const std::string& path, const Json& body,
                             const std::string& token = "") const;
    httplib::Result get(const std::string& path, const std::string& token = "") const;

    // The last code mailed to an address, read from the outbox file.
    std::string lastCode(const std::string& email) const;
    // Requests and verifies a code; returns the session answer.
    Json signIn(const std::string& email) const;

    void advanceClock(double seconds) const;
    void injectFault(const Json& rule) const;

  private:
    std::filesystem::path dataDir_;
    int pid_ = -1;
    int port_ = 0;
};

// The upload exactly as the agent writes it: boundary "dictation-" + an upper-case UUID and
// the parts "audio", "duration_secs", "source" and, when ephemeral, "ephemeral".
struct AgentUpload {
    std::string contentType;
    std::string body;
};
AgentUpload agentUpload(const std::string& wav, long durationSecs, bool ephemeral);

// A sentence spoken by eSpeak NG and resampled to 16 kHz mono 16-bit with sox.
std::string synthesizedSentence(const std::string& sentence);

// Word error rate between two texts, on lower-case words.
struct WordErrors {
    size_t substitutions = 0, deletions = 0, insertions = 0, referenceWords = 0;
    size_t total() const { return substitutions + deletions + insertions; }
};
WordErrors wordErrors(const std::string& reference, const std::string& hypothesis);

std::string readFile(const std::filesystem::path& file);

// The "error" string of a JSON answer, or a description of what came instead.
std::string errorOf(const httplib::Result& r);

}  // namespace larkspire::devservice::testing

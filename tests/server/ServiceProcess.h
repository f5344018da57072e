#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace larkspire::server::testing {

using Json = nlohmann::json;
using larkspire::testing::readText;

// A larkspire-server process on a free loopback port with its own data folder (its
// standard error in service.log there), ended with the object or with the test process.
class ServiceProcess {
  public:
    explicit ServiceProcess(std::vector<std::string> extraArgs = {});

    int port() const { return port_; }
    int pid() const { return process_.pid(); }
    const std::filesystem::path& dataDir() const { return dir_.path(); }
    httplib::Client client() const;

    // A request with a JSON body (none for GET and DELETE) and a bearer token when given.
    httplib::Result send(const std::string& method, const std::string& path, const Json& body,
                         const std::string& token = "") const;
    httplib::Result postJson(const std::string& path, const Json& body,
                             const std::string& token = "") const {
        return send("POST", path, body, token);
    }
    httplib::Result get(const std::string& path, const std::string& token = "") const {
        return send("GET", path, nullptr, token);
    }

    // The last code mailed to an address, read from the outbox file.
    std::string lastCode(const std::string& email) const;
    // Requests and verifies a code; returns the session answer.
    Json signIn(const std::string& email) const;
    void advanceClock(double seconds) const;
    void injectFault(const Json& rule) const;

  private:
    larkspire::testing::TempDir dir_;
    larkspire::testing::ChildProcess process_;
    int port_ = 0;
};

// The "error" string of a JSON answer, or a description of what came instead.
std::string errorOf(const httplib::Result& r);
// The answer has this status and this "error" string.
::testing::AssertionResult failsWith(const httplib::Result& r, int status,
                                     const std::string& error);

// The upload exactly as the agent writes it: boundary "dictation-" + an upper-case UUID and
// the parts "audio", "duration_secs", "source" and, when ephemeral, "ephemeral".
struct AgentUpload {
    std::string contentType;
    std::string body;
};
AgentUpload agentUpload(const std::string& wav, long durationSecs, bool ephemeral);

// A sentence spoken by eSpeak NG and resampled to 16 kHz mono 16-bit with sox.
std::string synthesizedSentence(const std::string& sentence);

// Every sentence of server/sentences.gram, with the text the service should paste.
const std::vector<std::pair<std::string, std::string>>& grammarSentences();

}  // namespace larkspire::server::testing

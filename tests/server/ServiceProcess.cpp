#include "ServiceProcess.h"

#include <uuid/uuid.h>

#include <cstdlib>
#include <regex>
#include <stdexcept>

namespace larkspire::server::testing {
namespace {

std::vector<std::string> commandLine(const std::filesystem::path& data,
                                     std::vector<std::string> extra) {
    // The parent-death signal ends the service even when the test process crashes.
    std::vector<std::string> args{"setpriv", "--pdeathsig", "KILL", "--", LARKSPIRE_SERVER_BINARY,
                                  "--port", "0", "--data", data.string(),
                                  // Never the engines of the machine's own configuration.
                                  "--config", (data / "config.json").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

}  // namespace

ServiceProcess::ServiceProcess(std::vector<std::string> extraArgs)
    : process_(commandLine(dir_.path(), std::move(extraArgs)),
               (dir_.path() / "service.log").string()) {
    const auto port =
        process_.waitForLineStartingWith("larkspire-server listening on http://127.0.0.1:", 30);
    if (!port) {
        throw std::runtime_error("the service did not report its port: " +
                                 readText(dir_.path() / "service.log"));
    }
    port_ = std::stoi(*port);
}

httplib::Client ServiceProcess::client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(60, 0);
    return c;
}

httplib::Result ServiceProcess::send(const std::string& method, const std::string& path,
                                     const Json& body, const std::string& token) const {
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    auto c = client();
    if (method == "GET") {
        return c.Get(path, headers);
    }
    if (method == "DELETE") {
        return c.Delete(path, headers);
    }
    const std::string text = body.dump();
    return method == "PATCH" ? c.Patch(path, headers, text, "application/json")
                             : c.Post(path, headers, text, "application/json");
}

std::string ServiceProcess::lastCode(const std::string& email) const {
    const std::string outbox = readText(dataDir() / "outbox.txt");
    const std::regex message("To: " + email + R"(\n[\s\S]*?sign-in code is ([0-9]{6}))");
    std::string code;
    for (auto it = std::sregex_iterator(outbox.begin(), outbox.end(), message);
         it != std::sregex_iterator(); ++it) {
        code = (*it)[1];
    }
    return code;
}

Json ServiceProcess::signIn(const std::string& email) const {
    auto requested = postJson("/api/native-auth/request", {{"email", email}});
    if (requested && requested->status == 200) {
        auto verified =
            postJson("/api/native-auth/verify", {{"email", email}, {"code", lastCode(email)}});
        if (verified && verified->status == 200) {
            return Json::parse(verified->body);
        }
    }
    throw std::runtime_error("sign-in of " + email + " failed");
}

void ServiceProcess::advanceClock(double seconds) const {
    if (postJson("/__admin/clock", {{"advanceSeconds", seconds}})->status != 200) {
        throw std::runtime_error("clock advance failed");
    }
}

void ServiceProcess::injectFault(const Json& rule) const {
    if (postJson("/__admin/fail", rule)->status != 200) {
        throw std::runtime_error("fault injection failed");
    }
}

std::string errorOf(const httplib::Result& r) {
    if (!r) {
        return "<no answer>";
    }
    auto j = Json::parse(r->body, nullptr, false);
    return j.is_object() && j.contains("error") && j["error"].is_string()
               ? j["error"].get<std::string>()
               : "<no error string in: " + r->body + ">";
}

::testing::AssertionResult failsWith(const httplib::Result& r, int status,
                                     const std::string& error) {
    if (r && r->status == status && errorOf(r) == error) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "expected " << status << " \"" << error << "\", got "
           << (r ? std::to_string(r->status) + " " + r->body : std::string("no answer"));
}

AgentUpload agentUpload(const std::string& wav, long durationSecs, bool ephemeral) {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    const std::string b = std::string("dictation-") + text;
    const auto part = [&](const std::string& name, const std::string& value) {
        return "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
               value + "\r\n";
    };
    std::string body = "--" + b +
                       "\r\nContent-Disposition: form-data; name=\"audio\"; "
                       "filename=\"recording.wav\"\r\nContent-Type: audio/wav\r\n\r\n" +
                       wav + "\r\n" + part("duration_secs", std::to_string(durationSecs)) +
                       part("source", "mac");
    if (ephemeral) {
        body += part("ephemeral", "true");
    }
    return {"multipart/form-data; boundary=" + b, body + "--" + b + "--\r\n"};
}

std::string synthesizedSentence(const std::string& sentence) {
    if (sentence.find_first_of("\"'\\$`") != std::string::npos) {
        throw std::invalid_argument("sentence must not need shell quoting");
    }
    const larkspire::testing::TempDir dir;
    const std::string raw = (dir.path() / "a.wav").string();
    const std::string resampled = (dir.path() / "a16.wav").string();
    const std::string command = "espeak-ng -v en-us -w '" + raw + "' \"" + sentence +
                                "\" && sox '" + raw + "' -r 16000 -c 1 -b 16 '" + resampled + "'";
    const std::string wav = std::system(command.c_str()) == 0 ? readText(resampled) : "";
    if (wav.empty()) {
        throw std::runtime_error("espeak-ng or sox failed for: " + sentence);
    }
    return wav;
}

const std::vector<std::pair<std::string, std::string>>& grammarSentences() {
    static const std::vector<std::pair<std::string, std::string>> sentences{
        {"please call the bank tomorrow morning", "Please call the bank tomorrow morning."},
        {"send the report to the team before lunch", "Send the report to the team before lunch."},
        {"remind me to buy milk and bread", "Remind me to buy milk and bread."},
        {"the meeting moved to thursday afternoon", "The meeting moved to thursday afternoon."},
        {"book a table for four at seven", "Book a table for four at seven."},
        {"what time does the train leave", "What time does the train leave?"},
        {"water the plants on the balcony", "Water the plants on the balcony."},
        {"schedule a call with the design team next week",
         "Schedule a call with the design team next week."},
    };
    return sentences;
}

}  // namespace larkspire::server::testing

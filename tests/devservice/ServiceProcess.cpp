#include "ServiceProcess.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace larkspire::devservice::testing {
namespace {

std::filesystem::path makeTempDir(const char* prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

// Reads the child's stdout until the line that names its port (or the child ends).
int readPort(int fd) {
    static const std::regex line(
        R"(larkspire-devservice listening on http://127\.0\.0\.1:([0-9]+))");
    std::string seen;
    char buffer[256];
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        seen.append(buffer, static_cast<size_t>(n));
        std::smatch m;
        if (std::regex_search(seen, m, line) &&
            seen.find('\n', m.position(0)) != std::string::npos) {
            return std::stoi(m[1]);
        }
    }
    throw std::runtime_error("the service did not report its port; it printed: " + seen);
}

}  // namespace

std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

ServiceProcess::ServiceProcess(std::vector<std::string> extraArgs)
    : dataDir_(makeTempDir("larkspire-devservice-test-")) {
    std::vector<std::string> args{LARKSPIRE_DEVSERVICE_BINARY, "--port", "0", "--data",
                                  dataDir_.string()};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    int out[2];
    if (pipe(out) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // The service must not outlive a crashed test.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(1);
        }
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::string log = (dataDir_ / "service.log").string();
        if (FILE* err = std::fopen(log.c_str(), "w")) {
            dup2(fileno(err), STDERR_FILENO);
        }
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    try {
        port_ = readPort(out[0]);
    } catch (...) {
        close(out[0]);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw;
    }
    close(out[0]);
}

ServiceProcess::~ServiceProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(dataDir_, ignored);
}

httplib::Client ServiceProcess::client() const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(60, 0);
    return c;
}

httplib::Result ServiceProcess::postJson(const std::string& path, const Json& body,
                                         const std::string& token) const {
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    return client().Post(path.c_str(), headers, body.dump(), "application/json");
}

httplib::Result ServiceProcess::get(const std::string& path, const std::string& token) const {
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    return client().Get(path.c_str(), headers);
}

std::string ServiceProcess::lastCode(const std::string& email) const {
    std::string outbox = readFile(dataDir_ / "outbox.txt");
    std::regex message("To: " + email + R"(\n[\s\S]*?sign-in code is ([0-9]{6}))");
    std::string code;
    for (auto it = std::sregex_iterator(outbox.begin(), outbox.end(), message);
         it != std::sregex_iterator(); ++it) {
        code = (*it)[1];
    }
    return code;
}

Json ServiceProcess::signIn(const std::string& email) const {
    auto requested = postJson("/api/native-auth/request", {{"email", email}});
    if (!requested || requested->status != 200) {
        throw std::runtime_error("code request failed");
    }
    auto verified =
        postJson("/api/native-auth/verify", {{"email", email}, {"code", lastCode(email)}});
    if (!verified || verified->status != 200) {
        throw std::runtime_error("code verification failed");
    }
    return Json::parse(verified->body);
}

void ServiceProcess::advanceClock(double seconds) const {
    auto r = postJson("/__admin/clock", {{"advanceSeconds", seconds}});
    if (!r || r->status != 200) {
        throw std::runtime_error("clock advance failed");
    }
}

void ServiceProcess::injectFault(const Json& rule) const {
    auto r = postJson("/__admin/fail", rule);
    if (!r || r->status != 200) {
        throw std::runtime_error("fault injection failed");
    }
}

AgentUpload agentUpload(const std::string& wav, long durationSecs, bool ephemeral) {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    std::string b = std::string("dictation-") + text;
    std::string body;
    body += "--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n";
    body += "Content-Type: audio/wav\r\n\r\n";
    body += wav;
    body += "\r\n--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"duration_secs\"\r\n\r\n";
    body += std::to_string(durationSecs);
    body += "\r\n--" + b + "\r\n";
    body += "Content-Disposition: form-data; name=\"source\"\r\n\r\nmac";
    if (ephemeral) {
        body += "\r\n--" + b + "\r\n";
        body += "Content-Disposition: form-data; name=\"ephemeral\"\r\n\r\ntrue";
    }
    body += "\r\n--" + b + "--\r\n";
    return {"multipart/form-data; boundary=" + b, body};
}

std::string synthesizedSentence(const std::string& sentence) {
    auto dir = makeTempDir("larkspire-speech-");
    auto raw = dir / "a.wav";
    auto resampled = dir / "a16.wav";
    std::string quoted = sentence;
    if (quoted.find_first_of("\"'\\$`") != std::string::npos) {
        throw std::invalid_argument("sentence must not need shell quoting");
    }
    std::string command = "espeak-ng -v en-us -w '" + raw.string() + "' \"" + quoted +
                          "\" && sox '" + raw.string() + "' -r 16000 -c 1 -b 16 '" +
                          resampled.string() + "'";
    int rc = std::system(command.c_str());
    std::string wav = rc == 0 ? readFile(resampled) : std::string();
    std::filesystem::remove_all(dir);
    if (wav.empty()) {
        throw std::runtime_error("espeak-ng or sox failed for: " + sentence);
    }
    return wav;
}

WordErrors wordErrors(const std::string& reference, const std::string& hypothesis) {
    auto split = [](const std::string& s) {
        std::vector<std::string> words;
        std::istringstream in(s);
        for (std::string w; in >> w;) {
            std::string clean;
            for (char c : w) {
                if (std::isalnum(static_cast<unsigned char>(c)) || c == '\'') {
                    clean += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                }
            }
            if (!clean.empty()) {
                words.push_back(clean);
            }
        }
        return words;
    };
    auto ref = split(reference);
    auto hyp = split(hypothesis);
    // Levenshtein over words, keeping the kind of each edit for the report.
    struct Cell {
        size_t cost = 0, sub = 0, del = 0, ins = 0;
    };
    std::vector<std::vector<Cell>> d(ref.size() + 1, std::vector<Cell>(hyp.size() + 1));
    for (size_t i = 1; i <= ref.size(); ++i) {
        d[i][0] = {i, 0, i, 0};
    }
    for (size_t j = 1; j <= hyp.size(); ++j) {
        d[0][j] = {j, 0, 0, j};
    }
    for (size_t i = 1; i <= ref.size(); ++i) {
        for (size_t j = 1; j <= hyp.size(); ++j) {
            Cell best = d[i - 1][j - 1];
            if (ref[i - 1] != hyp[j - 1]) {
                best.cost++;
                best.sub++;
            }
            Cell del = d[i - 1][j];
            del.cost++;
            del.del++;
            Cell ins = d[i][j - 1];
            ins.cost++;
            ins.ins++;
            if (del.cost < best.cost) {
                best = del;
            }
            if (ins.cost < best.cost) {
                best = ins;
            }
            d[i][j] = best;
        }
    }
    const Cell& end = d[ref.size()][hyp.size()];
    return WordErrors{end.sub, end.del, end.ins, ref.size()};
}

std::string errorOf(const httplib::Result& r) {
    auto j = Json::parse(r->body, nullptr, false);
    return j.is_object() && j.contains("error") && j["error"].is_string()
               ? j["error"].get<std::string>()
               : "<no error string in: " + r->body + ">";
}

}  // namespace larkspire::devservice::testing

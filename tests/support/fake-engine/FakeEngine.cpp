// larkspire-fake-engine [--port N]: an OpenAI-compatible engine for tests. It serves
// POST …/audio/transcriptions, …/chat/completions and …/audio/speech under any base path,
// answers each as scripted, and records every request.
//
//   POST /__script   {"path": "/chat/completions", "status": 200, "text": "…"} sets the
//                    answer of one endpoint (the path's end): "text" is the transcript or
//                    the chat content; "body" a raw body instead; "retryAfter" a header;
//                    "delayMs" a wait before answering; "padBytes" that many bytes of
//                    padding after the answer; "count" how many requests it serves
//                    before the one under it comes back.
//   GET /__received  every request so far: path, authorization, content type, the JSON
//                    body, or the form's fields (a file as its name, type, size and bytes
//                    in Base64).
//   DELETE /__received forgets them.
//
// It prints "fake engine listening on http://127.0.0.1:PORT" when ready.
#include <httplib.h>
#include <openssl/evp.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace {

using Json = nlohmann::json;

struct Answer {
    int status = 200;
    std::string text;
    std::string body;  // when set, sent as it is
    std::string retryAfter;
    int delayMs = 0;
    size_t padBytes = 0;
    int count = -1;  // -1: until replaced
};

// 0.6 s of a 440 Hz tone, 16 kHz mono 16-bit: audible in a recording of the speaker.
std::string toneWav() {
    const int rate = 16000;
    const int frames = rate * 6 / 10;
    std::string wav;
    auto put = [&wav](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            wav.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    wav += "RIFF";
    put(36 + frames * 2, 4);
    wav += "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2);
    wav += "data";
    put(frames * 2, 4);
    for (int i = 0; i < frames; ++i) {
        const double v = 12000 * std::sin(2 * M_PI * 440 * i / rate);
        put(static_cast<uint16_t>(static_cast<int16_t>(v)), 2);
    }
    return wav;
}

std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()),
                                  static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

class FakeEngine {
  public:
    FakeEngine() {
        answers_["/audio/transcriptions"] = {{200, "Hello from the fake engine."}};
        answers_["/chat/completions"] = {{200, "Hello from the fake model."}};
        answers_["/audio/speech"] = {{200, ""}};
    }

    void install(httplib::Server& server) {
        server.Post("/__script", [this](const httplib::Request& req, httplib::Response& res) {
            auto j = Json::parse(req.body, nullptr, false);
            if (!j.is_object() || !j.contains("path") || !answers_.count(j["path"])) {
                res.status = 400;
                return;
            }
            Answer a;
            a.status = j.value("status", 200);
            a.text = j.value("text", "");
            a.body = j.value("body", "");
            a.retryAfter = j.value("retryAfter", "");
            a.delayMs = j.value("delayMs", 0);
            a.padBytes = j.value("padBytes", size_t{0});
            a.count = j.value("count", -1);
            std::lock_guard lock(mutex_);
            auto& list = answers_[j["path"].get<std::string>()];
            if (a.count < 0) {
                list = {a};
            } else {
                list.push_back(a);
            }
            res.set_content("{}", "application/json");
        });
        server.Get("/__received", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            res.set_content(received_.dump(), "application/json");
        });
        server.Delete("/__received", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            received_ = Json::array();
            res.set_content("{}", "application/json");
        });
        for (const char* path : {"/audio/transcriptions", "/chat/completions", "/audio/speech"}) {
            server.Post(std::string(".*") + path,
                        [this, path](const httplib::Request& req, httplib::Response& res) {
                            serve(path, req, res);
                        });
        }
    }

  private:
    void serve(const std::string& endpoint, const httplib::Request& req, httplib::Response& res) {
        Answer a;
        {
            std::lock_guard lock(mutex_);
            received_.push_back(record(req));
            auto& list = answers_[endpoint];
            a = list.back();
            if (a.count > 0 && --list.back().count == 0) {
                list.pop_back();
            }
        }
        if (a.delayMs > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(a.delayMs));
        }
        res.status = a.status;
        if (!a.retryAfter.empty()) {
            res.set_header("Retry-After", a.retryAfter);
        }
        std::string body = a.body;
        std::string type = "application/json";
        if (body.empty() && a.status == 200) {
            if (endpoint == "/audio/transcriptions") {
                body = Json{{"text", a.text}}.dump();
            } else if (endpoint == "/chat/completions") {
                body = Json{{"id", "chatcmpl-fake"},
                            {"object", "chat.completion"},
                            {"choices",
                             {{{"index", 0},
                               {"message", {{"role", "assistant"}, {"content", a.text}}},
                               {"finish_reason", "stop"}}}}}
                           .dump();
            } else {
                body = toneWav();
                type = "audio/wav";
            }
        }
        body.append(a.padBytes, ' ');
        res.set_content(body, type.c_str());
    }

    static Json record(const httplib::Request& req) {
        Json r{{"path", req.path},
               {"authorization", req.get_header_value("Authorization")},
               {"contentType", req.get_header_value("Content-Type")}};
        if (req.is_multipart_form_data()) {
            Json form = Json::object();
            for (const auto& [name, part] : req.files) {
                if (part.filename.empty()) {
                    form[name] = part.content;
                } else {
                    form[name] = {{"filename", part.filename},
                                  {"contentType", part.content_type},
                                  {"size", part.content.size()},
                                  {"base64", base64(part.content)}};
                }
            }
            r["form"] = form;
        } else {
            r["json"] = Json::parse(req.body, nullptr, false);
            if (r["json"].is_discarded()) {
                r["json"] = nullptr;
                r["body"] = req.body;
            }
        }
        return r;
    }

    std::mutex mutex_;
    std::map<std::string, std::vector<Answer>> answers_;
    Json received_ = Json::array();
};

}  // namespace

int main(int argc, char** argv) {
    int port = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--port") {
            port = std::stoi(argv[i + 1]);
        }
    }
    httplib::Server server;
    FakeEngine engine;
    engine.install(server);
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound < 0) {
        std::cerr << "larkspire-fake-engine: cannot listen\n";
        return 1;
    }
    std::cout << "fake engine listening on http://127.0.0.1:" << bound << std::endl;
    return server.listen_after_bind() ? 0 : 1;
}

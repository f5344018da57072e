// bench_server [REQUESTS_PER_CLIENT]: what the local service adds to a transcription when
// an outside engine does the recognising. A fake engine that answers at once stands in
// for the engine; 8 clients at a time send the same 3 s WAV, first straight to the engine
// (the reference: the engine's own request, as the service makes it), then to the
// service's /api/transcribe as the agent uploads it. Prints the medians and what the
// service added; exits with 1 when that is over 5 ms.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "server/engines/OpenAIEngine.h"
#include "server/speech/Wav.h"
#include "service/Http.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;
using larkspire::testing::ChildProcess;
constexpr int kClients = 8;
constexpr double kBudgetMs = 5;

int portAfter(ChildProcess& process, const std::string& prefix) {
    auto port = process.waitForLineStartingWith(prefix, 30);
    if (!port) {
        std::fprintf(stderr, "bench_server: a process did not start\n");
        std::exit(2);
    }
    return std::stoi(*port);
}

// Every request's time in ms, `perClient` requests from each of 8 threads.
std::vector<double> timed(int perClient, const std::function<void()>& request) {
    std::vector<std::vector<double>> each(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < perClient; ++i) {
                const auto start = Clock::now();
                request();
                each[c].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
        });
    }
    for (auto& t : clients) {
        t.join();
    }
    std::vector<double> all;
    for (const auto& e : each) {
        all.insert(all.end(), e.begin(), e.end());
    }
    std::sort(all.begin(), all.end());
    return all;
}

double at(const std::vector<double>& sorted, double q) {
    return sorted[static_cast<size_t>(q * static_cast<double>(sorted.size() - 1))];
}

std::string agentUpload(const std::string& wav, const std::string& boundary) {
    std::string b;
    auto field = [&](const std::string& name, const std::string& value) {
        b += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
             value + "\r\n";
    };
    b += "--" + boundary +
         "\r\nContent-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n"
         "Content-Type: audio/wav\r\n\r\n" +
         wav + "\r\n";
    field("duration_secs", "3");
    field("source", "mac");
    field("ephemeral", "true");
    return b + "--" + boundary + "--\r\n";
}

}  // namespace

int main(int argc, char** argv) {
    namespace ls = larkspire::server;
    const int perClient = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    larkspire::initHttp();
    larkspire::testing::TempDir dir;

    ChildProcess engineProcess({LARKSPIRE_FAKE_ENGINE_BINARY});
    const std::string base =
        "http://127.0.0.1:" +
        std::to_string(portAfter(engineProcess, "fake engine listening on http://127.0.0.1:")) +
        "/v1";
    const std::string data = (dir.path() / "data").string();
    ChildProcess(
        {LARKSPIRE_SERVER_BINARY, "add-user", "bench@example.com", "bench-secret", "--data", data})
        .wait(30);
    ChildProcess service({LARKSPIRE_SERVER_BINARY, "--port", "0", "--data", data, "--config",
                          (dir.path() / "none.json").string(), "--stt-url", base},
                         (dir.path() / "service.log").string());
    const std::string url =
        "http://127.0.0.1:" +
        std::to_string(portAfter(service, "larkspire-server listening on http://127.0.0.1:"));

    larkspire::CurlTransport transport;
    larkspire::HttpRequest signIn{
        "POST",
        url + "/auth/v1/token?grant_type=password",
        {{"apikey", "larkspire-dev-anon-key"}, {"Content-Type", "application/json"}},
        R"({"email":"bench@example.com","password":"bench-secret"})"};
    const auto session = nlohmann::json::parse(transport.send(signIn).body, nullptr, false);
    if (!session.is_object() || !session.contains("access_token")) {
        std::fprintf(stderr, "bench_server: could not sign in\n");
        return 2;
    }

    std::vector<int16_t> samples(48000);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 220 * i / 16000.0));
    }
    const std::string wav = ls::wav::encode(samples, 16000);
    const ls::OpenAIEngine engine("Speech engine", {base, "whisper-1", ""},
                                  std::chrono::seconds(30));
    larkspire::HttpRequest upload{
        "POST",
        url + "/api/transcribe",
        {{"Authorization", "Bearer " + session["access_token"].get<std::string>()},
         {"Content-Type", "multipart/form-data; boundary=bench-boundary"}},
        agentUpload(wav, "bench-boundary")};

    int failures = 0;
    auto viaEngine = [&] { engine.transcribe(wav, "", ""); };
    auto viaService = [&] { failures += transport.send(upload).status != 200; };
    // One round each first: connections, the account's first look-up.
    timed(1, viaEngine);
    timed(1, viaService);
    const auto direct = timed(perClient, viaEngine);
    const auto served = timed(perClient, viaService);
    if (failures > 0) {
        std::fprintf(stderr, "bench_server: %d uploads failed\n", failures);
        return 2;
    }
    const double added = at(served, 0.5) - at(direct, 0.5);
    std::printf("%d clients x %d requests of a 3 s WAV (%zu bytes)\n", kClients, perClient,
                wav.size());
    std::printf("straight to the engine:   median %.2f ms, p90 %.2f ms\n", at(direct, 0.5),
                at(direct, 0.9));
    std::printf("through the service:      median %.2f ms, p90 %.2f ms\n", at(served, 0.5),
                at(served, 0.9));
    std::printf("added by the service:     %.2f ms at the median (budget %.0f ms), ratio %.2f\n",
                added, kBudgetMs, at(served, 0.5) / at(direct, 0.5));
    return added <= kBudgetMs ? 0 : 1;
}

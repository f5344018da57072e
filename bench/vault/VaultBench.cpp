// One synchroniser pass over 10,000 notes fetched from a loopback server (fetch, JSON,
// names, 10,000 atomic writes, state file), and as the reference the same 10,000 files
// written with plain std::ofstream in the same run. Prints the ratio at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeSystemLog.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "support/LoopbackServer.h"
#include "vault/NoteFile.h"
#include "vault/VaultSync.h"

namespace {

namespace fs = std::filesystem;
using larkspire::APIClient;
using larkspire::VaultSync;
using nlohmann::json;

constexpr int kNotes = 10000;

// Notes shaped like dictated ones: a short title, a paragraph of raw and cleaned text,
// a few tags, a project on some, two related links.
std::vector<json> makeNotes() {
    std::mt19937 random(42);
    const std::vector<std::string> words = {
        "call",  "the",   "bank", "about",  "mortgage", "rate",    "meeting", "tomorrow",
        "draft", "email", "Anna", "review", "budget",   "quarter", "plan",    "ship"};
    auto sentence = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += (i ? " " : "") + words[random() % words.size()];
        }
        return s;
    };
    std::vector<json> notes;
    for (int i = 0; i < kNotes; ++i) {
        char id[37];
        std::snprintf(id, sizeof id, "%08x-%04x-4%03x-a%03x-%012x", static_cast<unsigned>(random()),
                      i & 0xffff, i & 0xfff, (i * 7) & 0xfff, static_cast<unsigned>(random()));
        char created[32];
        std::snprintf(created, sizeof created, "2025-%02d-%02dT%02d:%02d:%02d.%03dZ", 1 + i % 12,
                      1 + i % 28, i % 24, i % 60, (i * 7) % 60, i % 1000);
        const std::string text = sentence(60);
        json note = {{"id", id},
                     {"created_at", created},
                     {"archived_at", nullptr},
                     {"title", sentence(5)},
                     {"text", text},
                     {"cleaned_text", i % 3 ? text : sentence(55)},
                     {"tags", {"work", words[i % words.size()]}},
                     {"source", i % 2 ? "web" : "ios"},
                     {"related",
                      {{{"created_at", "2025-02-03T04:05:06Z"}, {"title", sentence(3)}, {"id", id}},
                       {{"created_at", "2025-02-04T04:05:06Z"}, {"title", sentence(4)}}}}};
        if (i % 4 == 0) {
            note["project"] = "Home";
        }
        notes.push_back(std::move(note));
    }
    return notes;
}

struct Environment {
    Environment() {
        std::random_device r;
        root = fs::temp_directory_path() / ("larkspire-vault-bench-" + std::to_string(r()));
        home = root / "home";
        referenceDir = root / "reference";
        fs::create_directories(home);
        fs::create_directories(referenceDir);
        larkspire::initHttp();
        notes = makeNotes();
        server.on("/api/notes", {.body = nlohmann::json{{"notes", notes}}.dump()});
        const double now = std::chrono::duration<double>(clock.now().time_since_epoch()).count();
        larkspire::SessionStore::save(keychain, larkspire::NativeSession{"T", "R", now + 1e6});
        larkspire::Config config;
        config.api_url = server.url();
        api = std::make_shared<APIClient>(config, clock, keychain);
        vault = std::make_unique<VaultSync>(api, std::nullopt,
                                            VaultSync::Services{scheduler, clock, log, home});
        for (const json& note : notes) {
            const std::string id = note["id"], createdAt = note["created_at"];
            reference.emplace_back(
                larkspire::NoteFile::fileName(createdAt, note["title"].get<std::string>(), id,
                                              clock.now()) +
                    ".md",
                larkspire::NoteFile::fileContents(note, id, createdAt, clock.now()));
        }
    }
    ~Environment() {
        vault.reset();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    fs::path root, home, referenceDir;
    std::vector<json> notes;
    std::vector<std::pair<std::string, std::string>> reference;
    larkspire::testing::LoopbackServer server;
    larkspire::fake::VirtualClock clock;
    larkspire::fake::FakeScheduler scheduler{clock};
    larkspire::fake::FakeSystemLog log;
    larkspire::fake::FakeKeychain keychain;
    std::shared_ptr<APIClient> api;
    std::unique_ptr<VaultSync> vault;
};

// Keeps each benchmark's real time per iteration to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                seconds[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
    Environment env;

    benchmark::RegisterBenchmark(
        "vault_pass_10000_notes",
        [&env](benchmark::State& state) {
            // The first pass creates the files; the measured ones rewrite them all, as every
            // timed pass does.
            env.vault->syncSoon();
            env.scheduler.runSerialQueues();
            for (auto _ : state) {
                env.log.lines.clear();
                env.vault->syncSoon();
                env.scheduler.runSerialQueues();
                if (env.log.lines != std::vector<std::string>{"VaultSync: wrote 10000 notes"}) {
                    state.SkipWithError(env.log.lines.empty() ? "no log line"
                                                              : env.log.lines.front().c_str());
                    break;
                }
            }
        })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);

    benchmark::RegisterBenchmark("reference_ofstream_10000_files",
                                 [&env](benchmark::State& state) {
                                     for (auto _ : state) {
                                         for (const auto& [name, contents] : env.reference) {
                                             std::ofstream out(env.referenceDir / name,
                                                               std::ios::binary | std::ios::trunc);
                                             out << contents;
                                         }
                                     }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);

    benchmark::RegisterBenchmark("part_fetch_10000_notes",
                                 [&env](benchmark::State& state) {
                                     for (auto _ : state) {
                                         auto notes = env.api->fetchNotes("", true);
                                         benchmark::DoNotOptimize(notes);
                                     }
                                 })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(5);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto& s = reporter.seconds;
    if (s.count("vault_pass_10000_notes") && s.count("reference_ofstream_10000_files")) {
        const double pass = s.at("vault_pass_10000_notes");
        const double reference = s.at("reference_ofstream_10000_files");
        std::printf("\nvault pass: %.1f ms; ofstream reference: %.1f ms; ratio %.2f\n", pass * 1e3,
                    reference * 1e3, pass / reference);
        if (s.count("part_fetch_10000_notes")) {
            std::printf("of which fetch and JSON decode: %.1f ms (%.0f%% of the pass)\n",
                        s.at("part_fetch_10000_notes") * 1e3,
                        100.0 * s.at("part_fetch_10000_notes") / pass);
        }
    }
    return 0;
}

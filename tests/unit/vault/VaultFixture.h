#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

#include "platform/fake/FakeKeychain.h"
#include "platform/fake/FakeScheduler.h"
#include "platform/fake/FakeSystemLog.h"
#include "service/APIClient.h"
#include "service/SessionStore.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"
#include "vault/VaultSync.h"

namespace larkspire::testing {

namespace fs = std::filesystem;

// A private home directory in a temporary folder, with a sibling folder "outside" that
// stands for the rest of the user's files; the notes come from an in-memory service.
class VaultTest : public ::testing::Test {
  protected:
    VaultTest() {
        fs::create_directories(home);
        fs::create_directories(outside);
        const double now = std::chrono::duration<double>(clock.now().time_since_epoch()).count();
        SessionStore::save(keychain, NativeSession{"T1", "R1", now + 3600});
        api = std::make_shared<APIClient>(Config{.api_url = "http://service.test"}, clock, keychain,
                                          transport);
        setNotes({});
    }

    std::unique_ptr<VaultSync> makeVault(std::optional<std::string> vaultPath = std::nullopt) {
        return std::make_unique<VaultSync>(api, vaultPath,
                                           VaultSync::Services{scheduler, clock, log, home});
    }

    // One pass, run to its end.
    void pass(VaultSync& vault) {
        vault.syncSoon();
        scheduler.runSerialQueues();
    }

    // What the service answers from now on.
    void setNotes(const std::vector<nlohmann::json>& notes) {
        transport->on("/api/notes", 200, nlohmann::json{{"notes", notes}}.dump());
    }
    int fetches() const { return transport->count("/api/notes"); }

    fs::path notesDir() const { return home / "Vantrel" / "Notes"; }
    fs::path stateFile() const { return home / ".vantrel" / "vault_state.json"; }
    nlohmann::json readState() const { return nlohmann::json::parse(readText(stateFile())); }

    // The names in the notes folder (hidden ones included).
    std::set<std::string> notesListing() const {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(notesDir(), ec)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    // Every path under `top`, with its contents for files and link targets for links; a
    // change anywhere shows.
    static std::map<std::string, std::string> snapshot(const fs::path& top) {
        std::map<std::string, std::string> all;
        for (const auto& entry : fs::recursive_directory_iterator(top)) {
            const std::string key = entry.path().lexically_relative(top).string();
            if (entry.is_symlink()) {
                all[key] = "link -> " + fs::read_symlink(entry.path()).string();
            } else if (entry.is_regular_file()) {
                all[key] = readText(entry.path());
            } else {
                all[key] = "<folder>";
            }
        }
        return all;
    }

    static nlohmann::json note(const std::string& id, const std::string& createdAt,
                               const std::string& title,
                               nlohmann::json extra = nlohmann::json::object()) {
        nlohmann::json n = {{"id", id}, {"created_at", createdAt}, {"title", title}};
        n.update(extra);
        return n;
    }

    // A managed-looking file as another installation or an earlier version left it.
    static std::string headedFile(const std::string& id) {
        return "---\nid: " + id + "\ndate: 2024-01-01T00:00:00Z\nsource: web\n---\n\nold text\n";
    }

    size_t logCount(const std::string& line) const {
        return static_cast<size_t>(std::count(log.lines.begin(), log.lines.end(), line));
    }
    size_t errorCount() const {
        return static_cast<size_t>(std::count_if(log.lines.begin(), log.lines.end(), [](auto& l) {
            return l.rfind("VaultSync error: ", 0) == 0;
        }));
    }

    // The creation time of most notes here; their files start "2025-03-04 0506".
    static constexpr const char* kAt = "2025-03-04T05:06:07Z";
    static constexpr const char* kIdA = "0f8fad5b-d9cb-469f-a165-70867728950e";
    static constexpr const char* kIdB = "7c9e6679-7425-40de-944b-e07fc1f90ae7";
    static constexpr const char* kIdC = "16fd2706-8baf-433b-82eb-8c7fada847da";
    static constexpr const char* kIdD = "886313e1-3b8a-5372-9b90-0c9aee199e5d";

    TempDir dir;
    fs::path root = dir.path(), home = root / "home", outside = root / "outside";
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeSystemLog log;
    fake::FakeKeychain keychain;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<APIClient> api;
};

}  // namespace larkspire::testing

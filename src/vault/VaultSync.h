#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"

namespace larkspire {

// Mirrors the user's notes into a folder of Markdown files, one file per note, and
// remembers in a small JSON state file which file belongs to which note. Passes run one
// at a time on the serial queue "vault-sync". Only files directly inside the notes folder
// are ever created, replaced or deleted.
//
// Construct, start and call syncSoon on the main thread; destroy it there too.
class VaultSync {
  public:
    // What the synchroniser remembers between passes.
    struct State {
        // The greatest "created_at" written so far, compared as plain strings.
        std::string lastCreatedAt;
        // Every note id ever written.
        std::set<std::string> syncedIds;
        // The file owned by each note id; absent until a mapping has been made.
        std::optional<std::map<std::string, std::string>> files;

        // The empty state that stands in for an unreadable state file.
        static State empty() { return State{"", {}, std::map<std::string, std::string>{}}; }
        // Absent when the text is not a state (missing "lastCreatedAt" or "syncedIds",
        // wrong types, not JSON).
        static std::optional<State> decode(std::string_view json);
        nlohmann::json encode() const;
        bool operator==(const State&) const = default;
    };

    // The platform services a pass works through; each must outlive the synchroniser.
    struct Services {
        platform::Scheduler& scheduler;
        const platform::Clock& clock;
        platform::SystemLog& log;
        // The user's home directory: "~" in the vault path and the state file's base.
        std::filesystem::path homeDirectory;
    };

    static constexpr double kPassInterval = 300.0;  // seconds between timed passes

    // `vaultPath` is the configuration's "vault_dir" text ("~/Vantrel" when absent).
    // Computes the paths, takes the "vault-sync" queue and reads the state file; changes
    // nothing on disk.
    VaultSync(std::shared_ptr<APIClient> api, const std::optional<std::string>& vaultPath,
              Services services);
    ~VaultSync();
    VaultSync(const VaultSync&) = delete;
    VaultSync& operator=(const VaultSync&) = delete;

    // One pass now, then one every 300 seconds for as long as the synchroniser exists.
    void start();
    // Queues one pass. Calls are not merged: each queues its own pass.
    void syncSoon();

    // The folder the note files are written to (".../Notes").
    const std::filesystem::path& vaultDir() const { return vaultDir_; }
    // home + ".vantrel/vault_state.json".
    const std::filesystem::path& stateFile() const { return stateFile_; }

    // File name of a note, without ".md": "yyyy-MM-dd HHmm" in UTC, the sanitised title
    // ("Note" when empty) and, when an id is given, its first 8 characters. A creation
    // time that does not parse stands for `now`.
    static std::string fileName(std::string_view createdAt, std::string_view title,
                                const std::optional<std::string_view>& id, platform::TimePoint now);
    // Drops the characters  / \ : ? % * | " < > # ^ [ ]  trims spaces and tabs and keeps
    // the first 60 user-perceived characters.
    static std::string sanitize(std::string_view title);
    // An RFC 3339 internet date-time, with or without fractional seconds.
    static std::optional<platform::TimePoint> parseInternetDateTime(std::string_view text);
    // The Markdown file of a note: front matter, body and related links.
    static std::string fileContents(const nlohmann::json& note, std::string_view id,
                                    std::string_view createdAt, platform::TimePoint now);
    // True for the 8-4-4-4-12 hexadecimal UUID text.
    static bool isUuid(std::string_view text);

  private:
    class Engine;

    std::shared_ptr<Engine> engine_;
    platform::Scheduler& scheduler_;
    std::shared_ptr<platform::SerialQueue> queue_;
    std::filesystem::path vaultDir_;
    std::filesystem::path stateFile_;
    std::unique_ptr<platform::RepeatingTimer> timer_;

    // Last member: the timer's action goes quiet before anything else is destroyed.
    Lifetime lifetime_;
};

}  // namespace larkspire

#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
#include "service/APIClient.h"
#include "util/Lifetime.h"
#include "vault/VaultState.h"

namespace larkspire {

// Mirrors the user's notes into a folder of Markdown files, one file per note, and
// remembers in a small JSON state file which file belongs to which note. Passes run one
// at a time on the serial queue "vault-sync". Only files directly inside the notes folder
// are ever created, replaced or deleted.
//
// Construct, start and call syncSoon on the main thread; destroy it there too.
class VaultSync {
  public:
    using State = VaultState;

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

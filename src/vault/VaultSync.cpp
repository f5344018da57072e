#include "vault/VaultSync.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "service/Wire.h"
#include "util/Text.h"
#include "util/Uuid.h"
#include "vault/NoteFile.h"
#include "vault/NotesFolder.h"

namespace larkspire {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

}  // namespace

// ---------------------------------------------------------------------------------------
// The passes. The engine lives apart from the timer so that a pass that outlasts the
// synchroniser ends on the queue's thread without touching main-thread objects.

class VaultSync::Engine {
  public:
    Engine(std::shared_ptr<APIClient> api, const platform::Clock& clock, platform::SystemLog& log,
           fs::path vaultDir, fs::path stateFile)
        : api_(std::move(api)),
          clock_(clock),
          log_(log),
          vaultDir_(std::move(vaultDir)),
          stateFile_(std::move(stateFile)),
          state_(loadState()) {}

    void sync();

  private:
    State loadState() const;
    std::map<std::string, std::string> discoverManagedFiles() const;
    void write(NotesFolder& folder, const json& note, const std::string& id,
               const std::string& createdAt, const std::string& name);
    void saveState() const;
    void logError(const std::string& description) { log_.log("VaultSync error: " + description); }

    const std::shared_ptr<APIClient> api_;
    const platform::Clock& clock_;
    platform::SystemLog& log_;
    const fs::path vaultDir_;
    const fs::path stateFile_;
    State state_;  // touched only on the queue after construction
    bool leftoversRemoved_ = false;
};

VaultSync::State VaultSync::Engine::loadState() const {
    std::ifstream in(stateFile_, std::ios::binary);
    if (!in) {
        return State::empty();
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return State::decode(text).value_or(State::empty());
}

void VaultSync::Engine::sync() {
    std::error_code ec;
    fs::create_directories(vaultDir_, ec);
    if (ec) {
        logError("cannot create folder \"" + vaultDir_.string() + "\": " + ec.message());
        return;
    }
    std::optional<NotesFolder> folder;
    try {
        folder.emplace(vaultDir_);
    } catch (const NotesFolder::Error& e) {
        logError(e.what());
        return;
    }

    if (!leftoversRemoved_) {
        // A crash in the middle of a write leaves its temporary file: tidy up once.
        folder->removeLeftoverTemporaryFiles();
        leftoversRemoved_ = true;
    }

    std::vector<json> notes;
    try {
        notes = api_->fetchNotes("", true);
    } catch (const std::exception& e) {
        logError(e.what());
        return;
    }

    const std::map<std::string, std::string> known =
        state_.files ? *state_.files : discoverManagedFiles();
    std::map<std::string, std::string> desired;
    int written = 0;

    for (const json& note : notes) {
        const auto id = wire::stringAt(note, "id");
        const auto createdAt = wire::stringAt(note, "created_at");
        if (!id || !createdAt || wire::stringAt(note, "archived_at")) {
            continue;
        }
        if (!uuid::isValid(*id)) {
            // Every later note would go unmirrored if this one stopped the pass.
            logError("skipped a note whose id is not a UUID");
            continue;
        }
        const std::string name =
            NoteFile::fileName(*createdAt, wire::stringAt(note, "title").value_or(""), *id,
                               clock_.now()) +
            ".md";
        if (const auto old = known.find(*id); old != known.end() && old->second != name) {
            folder->remove(old->second);
        }
        try {
            write(*folder, note, *id, *createdAt, name);
        } catch (const std::exception& e) {
            // Deleting stale files after a partial pass could remove a file whose note
            // was simply not reached; keep everything until a complete pass.
            logError(e.what());
            return;
        }
        desired[*id] = name;
        state_.syncedIds.insert(*id);
        ++written;
        if (state_.lastCreatedAt < *createdAt) {
            state_.lastCreatedAt = *createdAt;
        }
    }

    for (const auto& [id, name] : known) {
        if (!desired.contains(id)) {
            folder->remove(name);  // a failure keeps the file: data over tidiness
        }
    }
    state_.files = std::move(desired);
    if (written > 0) {
        log_.log("VaultSync: wrote " + std::to_string(written) + " notes");
    }
    saveState();
}

std::map<std::string, std::string> VaultSync::Engine::discoverManagedFiles() const {
    std::map<std::string, std::string> found;
    std::error_code ec;
    fs::directory_iterator it(vaultDir_, ec);
    if (ec) {
        return found;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        const std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.' ||
            text::lowercased(it->path().extension().string()) != ".md") {
            continue;
        }
        std::error_code typeError;
        if (!fs::is_regular_file(it->path(), typeError)) {
            continue;
        }
        std::ifstream in(it->path(), std::ios::binary);
        if (!in) {
            continue;
        }
        const std::string bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
        if (const auto id = NoteFile::managedId(bytes)) {
            found[*id] = name;
        }
    }
    return found;
}

void VaultSync::Engine::write(NotesFolder& folder, const json& note, const std::string& id,
                              const std::string& createdAt, const std::string& name) {
    folder.writeAtomically(name, NoteFile::fileContents(note, id, createdAt, clock_.now()));
}

void VaultSync::Engine::saveState() const {
    std::error_code ec;
    fs::create_directories(stateFile_.parent_path(), ec);
    std::ofstream out(stateFile_, std::ios::binary | std::ios::trunc);
    out << state_.encode().dump();  // a failed write is ignored: the next pass starts from memory
}

// ---------------------------------------------------------------------------------------
// The synchroniser

namespace {

fs::path notesDirectory(const std::optional<std::string>& vaultPath, const fs::path& home) {
    const std::string root = vaultPath.value_or("~/Vantrel");
    std::string expanded;
    for (const char c : root) {
        if (c == '~') {
            expanded += home.string();
        } else {
            expanded += c;
        }
    }
    fs::path dir = fs::path(expanded) / "Notes";
    std::error_code ec;
    fs::path absolute = fs::absolute(dir, ec);
    return ec ? dir : absolute;
}

}  // namespace

VaultSync::VaultSync(std::shared_ptr<APIClient> api, const std::optional<std::string>& vaultPath,
                     Services services)
    : scheduler_(services.scheduler),
      queue_(services.scheduler.serialQueue("vault-sync")),
      vaultDir_(notesDirectory(vaultPath, services.homeDirectory)),
      stateFile_(services.homeDirectory / ".vantrel" / "vault_state.json") {
    engine_ = std::make_shared<Engine>(std::move(api), services.clock, services.log, vaultDir_,
                                       stateFile_);
}

VaultSync::~VaultSync() = default;

void VaultSync::start() {
    syncSoon();
    timer_ = scheduler_.repeat(platform::Duration(kPassInterval),
                               lifetime_.guard([this] { syncSoon(); }));
}

void VaultSync::syncSoon() {
    queue_->async([weak = std::weak_ptr<Engine>(engine_)] {
        if (auto engine = weak.lock()) {
            engine->sync();
        }
    });
}

}  // namespace larkspire

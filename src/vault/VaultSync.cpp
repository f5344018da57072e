#include "vault/VaultSync.h"

#include <date/date.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "util/Text.h"
#include "util/Uuid.h"
#include "vault/NotesFolder.h"

namespace larkspire {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::optional<std::string> stringMember(const json& object, const char* key) {
    if (!object.is_object()) {
        return std::nullopt;
    }
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return std::nullopt;
    }
    return it->get<std::string>();
}

bool isValidUtf8(std::string_view bytes) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
    return status == U_ZERO_ERROR || status == U_BUFFER_OVERFLOW_ERROR ||
           status == U_STRING_NOT_TERMINATED_WARNING;
}

// Reads `count` decimal digits at `pos`.
std::optional<int> digits(std::string_view s, size_t pos, size_t count) {
    if (pos + count > s.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (s[i] - '0');
    }
    return value;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Names and file contents

std::optional<platform::TimePoint> VaultSync::parseInternetDateTime(std::string_view s) {
    // yyyy-MM-ddTHH:mm:ss[.fraction](Z|+HH:mm|-HH:mm)
    const auto year = digits(s, 0, 4), month = digits(s, 5, 2), day = digits(s, 8, 2);
    const auto hour = digits(s, 11, 2), minute = digits(s, 14, 2), second = digits(s, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || s[4] != '-' || s[7] != '-' ||
        s[10] != 'T' || s[13] != ':' || s[16] != ':') {
        return std::nullopt;
    }
    const date::year_month_day ymd{date::year{*year}, date::month{static_cast<unsigned>(*month)},
                                   date::day{static_cast<unsigned>(*day)}};
    if (!ymd.ok() || *hour > 23 || *minute > 59 || *second > 59) {
        return std::nullopt;
    }
    size_t pos = 19;
    if (pos < s.size() && s[pos] == '.') {
        const size_t first = ++pos;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            ++pos;
        }
        if (pos == first) {
            return std::nullopt;
        }
        // The fraction cannot change the minute, which is all a name shows.
    }
    std::chrono::minutes offset{0};
    if (pos < s.size() && s[pos] == 'Z') {
        ++pos;
    } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
        const auto oh = digits(s, pos + 1, 2), om = digits(s, pos + 4, 2);
        if (!oh || !om || s[pos + 3] != ':' || *oh > 23 || *om > 59) {
            return std::nullopt;
        }
        offset = std::chrono::hours(*oh) + std::chrono::minutes(*om);
        if (s[pos] == '-') {
            offset = -offset;
        }
        pos += 6;
    } else {
        return std::nullopt;
    }
    if (pos != s.size()) {
        return std::nullopt;
    }
    const auto local = date::sys_days(ymd) + std::chrono::hours(*hour) +
                       std::chrono::minutes(*minute) + std::chrono::seconds(*second);
    return std::chrono::time_point_cast<platform::TimePoint::duration>(local - offset);
}

std::string VaultSync::sanitize(std::string_view title) {
    static constexpr std::string_view kRemoved = "/\\:?%*|\"<>#^[]";
    std::string kept;
    kept.reserve(title.size());
    // Every removed character is ASCII, which never occurs inside a multi-byte sequence.
    std::copy_if(title.begin(), title.end(), std::back_inserter(kept),
                 [](char c) { return kRemoved.find(c) == std::string_view::npos; });
    const size_t begin = kept.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return "";
    }
    const size_t end = kept.find_last_not_of(" \t");
    return text::prefixCharacters(std::string_view(kept).substr(begin, end - begin + 1), 60);
}

std::string VaultSync::fileName(std::string_view createdAt, std::string_view title,
                                const std::optional<std::string_view>& id,
                                platform::TimePoint now) {
    const platform::TimePoint moment = parseInternetDateTime(createdAt).value_or(now);
    std::string name = date::format("%Y-%m-%d %H%M", date::floor<std::chrono::minutes>(moment));
    name += ' ';
    name += sanitize(title.empty() ? std::string_view("Note") : title);
    if (id) {
        name += ' ';
        name += text::prefixCharacters(*id, 8);
    }
    return name;
}

std::string VaultSync::fileContents(const json& note, std::string_view id,
                                    std::string_view createdAt, platform::TimePoint now) {
    std::string out = "---\n";
    out += "id: ";
    out += id;
    out += "\ndate: ";
    out += createdAt;
    out += '\n';
    if (const auto project = stringMember(note, "project")) {
        out += "project: \"" + *project + "\"\n";
    }
    if (const auto tags = note.find("tags");
        tags != note.end() && tags->is_array() && !tags->empty() &&
        std::all_of(tags->begin(), tags->end(), [](const json& t) { return t.is_string(); })) {
        out += "tags: [";
        for (auto it = tags->begin(); it != tags->end(); ++it) {
            if (it != tags->begin()) {
                out += ", ";
            }
            out += it->get_ref<const std::string&>();
        }
        out += "]\n";
    }
    out += "source: " + stringMember(note, "source").value_or("web") + "\n";
    out += "---\n\n";

    const std::string text = stringMember(note, "text").value_or("");
    const auto cleaned = stringMember(note, "cleaned_text");
    if (cleaned && *cleaned != text) {
        out += *cleaned + "\n\n## Raw\n\n" + text;
    } else {
        out += text;
    }

    std::string links;
    if (const auto related = note.find("related"); related != note.end() && related->is_array()) {
        for (const json& target : *related) {
            const auto targetCreatedAt = stringMember(target, "created_at");
            if (!targetCreatedAt) {
                continue;
            }
            const auto targetId = stringMember(target, "id");
            if (!links.empty()) {
                links += '\n';
            }
            links += "- [[" +
                     fileName(*targetCreatedAt, stringMember(target, "title").value_or(""),
                              targetId ? std::optional<std::string_view>(*targetId) : std::nullopt,
                              now) +
                     "]]";
        }
    }
    if (!links.empty()) {
        out += "\n\n## Related\n\n" + links;
    }
    out += '\n';
    return out;
}

bool VaultSync::isUuid(std::string_view text) {
    return uuid::isValid(text);
}

// ---------------------------------------------------------------------------------------
// State

std::optional<VaultSync::State> VaultSync::State::decode(std::string_view text) {
    const json root = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (!root.is_object()) {
        return std::nullopt;
    }
    State state;
    const auto last = root.find("lastCreatedAt");
    const auto ids = root.find("syncedIds");
    if (last == root.end() || !last->is_string() || ids == root.end() || !ids->is_array()) {
        return std::nullopt;
    }
    state.lastCreatedAt = last->get<std::string>();
    for (const json& id : *ids) {
        if (!id.is_string()) {
            return std::nullopt;
        }
        state.syncedIds.insert(id.get<std::string>());
    }
    // A null "files" counts as absent, as a missing key does.
    if (const auto files = root.find("files"); files != root.end() && !files->is_null()) {
        if (!files->is_object()) {
            return std::nullopt;
        }
        std::map<std::string, std::string> mapping;
        for (const auto& [id, name] : files->items()) {
            if (!name.is_string()) {
                return std::nullopt;
            }
            mapping.emplace(id, name.get<std::string>());
        }
        state.files = std::move(mapping);
    }
    return state;
}

json VaultSync::State::encode() const {
    json out = {{"lastCreatedAt", lastCreatedAt}, {"syncedIds", syncedIds}};
    if (files) {
        out["files"] = *files;
    }
    return out;
}

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
        const auto id = stringMember(note, "id");
        const auto createdAt = stringMember(note, "created_at");
        if (!id || !createdAt || stringMember(note, "archived_at")) {
            continue;
        }
        const std::string name =
            fileName(*createdAt, stringMember(note, "title").value_or(""), *id, clock_.now()) +
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
        if (!isValidUtf8(bytes)) {
            continue;
        }
        const std::string head = text::prefixCharacters(bytes, 500);
        // Lines end at line feeds; a carriage return before one makes a single character
        // with it, so it does not end a line.
        size_t start = 0;
        while (start < head.size()) {
            size_t end = start;
            while (end < head.size() &&
                   !(head[end] == '\n' && (end == 0 || head[end - 1] != '\r'))) {
                ++end;
            }
            const std::string_view line = std::string_view(head).substr(start, end - start);
            start = end + 1;
            if (line.starts_with("id: ")) {
                const std::string id = text::trimmed(line.substr(4));
                if (isUuid(id)) {
                    found[id] = name;
                }
                break;
            }
        }
    }
    return found;
}

void VaultSync::Engine::write(NotesFolder& folder, const json& note, const std::string& id,
                              const std::string& createdAt, const std::string& name) {
    folder.writeAtomically(name, fileContents(note, id, createdAt, clock_.now()));
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

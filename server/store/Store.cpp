#include "server/store/Store.h"

#include <nlohmann/json.hpp>

#include "server/auth/Crypto.h"

namespace larkspire::server {
namespace {

constexpr const char* kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS users(
  id TEXT PRIMARY KEY, email TEXT NOT NULL UNIQUE, password_hash TEXT, created_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS sessions(
  id TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), created_at REAL NOT NULL,
  revoked INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS tokens(
  hash TEXT PRIMARY KEY, kind TEXT NOT NULL, session_id TEXT NOT NULL REFERENCES sessions(id),
  expires_at REAL NOT NULL, retired INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS codes(
  id INTEGER PRIMARY KEY, email TEXT NOT NULL, code_hash TEXT NOT NULL, expires_at REAL NOT NULL,
  attempts INTEGER NOT NULL DEFAULT 0, used INTEGER NOT NULL DEFAULT 0, created_at REAL NOT NULL);
CREATE TABLE IF NOT EXISTS notes(
  id TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), created_at TEXT NOT NULL,
  title TEXT NOT NULL, text TEXT NOT NULL, cleaned_text TEXT, tags TEXT NOT NULL DEFAULT '[]',
  project TEXT, source TEXT NOT NULL, duration_secs INTEGER, archived_at TEXT);
CREATE INDEX IF NOT EXISTS notes_by_user ON notes(user_id, created_at);
CREATE TABLE IF NOT EXISTS note_links(
  a TEXT NOT NULL REFERENCES notes(id), b TEXT NOT NULL REFERENCES notes(id), PRIMARY KEY(a, b));
CREATE TABLE IF NOT EXISTS projects(
  id TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), name TEXT NOT NULL,
  created_at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS activation_events(
  id INTEGER PRIMARY KEY, user_id TEXT NOT NULL, event TEXT NOT NULL, installation_id TEXT NOT NULL,
  platform TEXT NOT NULL, app_version TEXT NOT NULL, at TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS native_status(
  user_id TEXT NOT NULL, installation_id TEXT NOT NULL, platform TEXT NOT NULL,
  app_version TEXT NOT NULL, microphone INTEGER NOT NULL, accessibility INTEGER NOT NULL,
  input_monitoring INTEGER NOT NULL, screen_recording INTEGER NOT NULL, updated_at TEXT NOT NULL,
  PRIMARY KEY(user_id, installation_id));
CREATE TABLE IF NOT EXISTS vocabulary(
  user_id TEXT NOT NULL REFERENCES users(id), word TEXT NOT NULL COLLATE NOCASE,
  created_at REAL NOT NULL, PRIMARY KEY(user_id, word));
)SQL";

constexpr const char* kNoteColumns =
    "id, user_id, created_at, title, text, cleaned_text, tags, project, source, duration_secs, "
    "archived_at";

std::string tagsToText(const std::vector<std::string>& tags) {
    return nlohmann::json(tags).dump();
}

std::vector<std::string> tagsFromText(const std::string& text) {
    auto parsed = nlohmann::json::parse(text, nullptr, false);
    std::vector<std::string> tags;
    if (parsed.is_array()) {
        for (const auto& t : parsed) {
            if (t.is_string()) {
                tags.push_back(t.get<std::string>());
            }
        }
    }
    return tags;
}

// Runs a function inside one SQLite transaction, rolled back when it throws.
template <typename F>
auto inTransaction(Database& db, F&& body) {
    db.exec("BEGIN IMMEDIATE");
    try {
        auto result = body();
        db.exec("COMMIT");
        return result;
    } catch (...) {
        db.exec("ROLLBACK");
        throw;
    }
}

}  // namespace

Store::Store(const std::filesystem::path& file) : db_(file) {
    db_.exec(kSchema);
}

std::optional<User> Store::findUser(const std::string& email) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT id, email FROM users WHERE email = ?");
    s.bindAll(email);
    if (!s.step()) {
        return std::nullopt;
    }
    return User{s.text(0), s.text(1)};
}

std::optional<User> Store::userById(const std::string& id) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT id, email FROM users WHERE id = ?");
    s.bindAll(id);
    if (!s.step()) {
        return std::nullopt;
    }
    return User{s.text(0), s.text(1)};
}

User Store::findOrCreateUser(const std::string& email, double now) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT id, email FROM users WHERE email = ?");
    s.bindAll(email);
    if (s.step()) {
        return User{s.text(0), s.text(1)};
    }
    User user{crypto::uuid(), email};
    db_.prepare("INSERT INTO users(id, email, created_at) VALUES(?, ?, ?)")
        .bindAll(user.id, user.email, now)
        .run();
    return user;
}

User Store::setPassword(const std::string& email, const std::string& passwordHash, double now) {
    std::lock_guard lock(mutex_);
    db_.prepare(
           "INSERT INTO users(id, email, password_hash, created_at) VALUES(?, ?, ?, ?) "
           "ON CONFLICT(email) DO UPDATE SET password_hash = excluded.password_hash")
        .bindAll(crypto::uuid(), email, passwordHash, now)
        .run();
    auto s = db_.prepare("SELECT id, email FROM users WHERE email = ?");
    s.bindAll(email);
    s.step();
    return User{s.text(0), s.text(1)};
}

std::optional<std::string> Store::passwordHash(const std::string& email) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT password_hash FROM users WHERE email = ?");
    s.bindAll(email);
    if (!s.step()) {
        return std::nullopt;
    }
    return s.optionalText(0);
}

std::string Store::createSession(const std::string& userId, const std::string& accessHash,
                                 double accessExpiry, const std::string& refreshHash,
                                 double refreshExpiry, double now) {
    std::lock_guard lock(mutex_);
    return inTransaction(db_, [&] {
        std::string sessionId = crypto::uuid();
        db_.prepare("INSERT INTO sessions(id, user_id, created_at) VALUES(?, ?, ?)")
            .bindAll(sessionId, userId, now)
            .run();
        auto insert = "INSERT INTO tokens(hash, kind, session_id, expires_at) VALUES(?, ?, ?, ?)";
        db_.prepare(insert).bindAll(accessHash, "access", sessionId, accessExpiry).run();
        db_.prepare(insert).bindAll(refreshHash, "refresh", sessionId, refreshExpiry).run();
        return sessionId;
    });
}

std::optional<std::string> Store::userForAccessToken(const std::string& accessHash, double now) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT sessions.user_id FROM tokens JOIN sessions ON sessions.id = tokens.session_id "
        "WHERE tokens.hash = ? AND tokens.kind = 'access' AND tokens.retired = 0 "
        "AND sessions.revoked = 0 AND tokens.expires_at > ?");
    s.bindAll(accessHash, now);
    if (!s.step()) {
        return std::nullopt;
    }
    return s.text(0);
}

RotateOutcome Store::rotate(const std::string& refreshHash, const std::string& newAccessHash,
                            double accessExpiry, const std::string& newRefreshHash,
                            double refreshExpiry, double now, std::string& userId) {
    std::lock_guard lock(mutex_);
    return inTransaction(db_, [&] {
        auto s = db_.prepare(
            "SELECT tokens.session_id, tokens.retired, tokens.expires_at, sessions.revoked, "
            "sessions.user_id FROM tokens JOIN sessions ON sessions.id = tokens.session_id "
            "WHERE tokens.hash = ? AND tokens.kind = 'refresh'");
        s.bindAll(refreshHash);
        if (!s.step()) {
            return RotateOutcome::Unknown;
        }
        std::string sessionId = s.text(0);
        bool retired = s.integer(1) != 0;
        double expiresAt = s.real(2);
        bool revoked = s.integer(3) != 0;
        if (revoked) {
            return RotateOutcome::Reused;
        }
        if (retired) {
            // A refresh token used twice means a copy leaked: end the whole session.
            db_.prepare("UPDATE sessions SET revoked = 1 WHERE id = ?").bindAll(sessionId).run();
            return RotateOutcome::Reused;
        }
        if (expiresAt <= now) {
            return RotateOutcome::Expired;
        }
        // Only the refresh token is spent. Access tokens already handed out stay valid to
        // their expiry: another thread of the client may be mid-request with one.
        db_.prepare(
               "UPDATE tokens SET retired = 1 WHERE session_id = ? AND kind = 'refresh' "
               "AND retired = 0")
            .bindAll(sessionId)
            .run();
        auto insert = "INSERT INTO tokens(hash, kind, session_id, expires_at) VALUES(?, ?, ?, ?)";
        db_.prepare(insert).bindAll(newAccessHash, "access", sessionId, accessExpiry).run();
        db_.prepare(insert).bindAll(newRefreshHash, "refresh", sessionId, refreshExpiry).run();
        userId = s.text(4);
        return RotateOutcome::Rotated;
    });
}

int Store::codesRequestedSince(const std::string& email, double since) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT COUNT(*) FROM codes WHERE email = ? AND created_at > ?");
    s.bindAll(email, since);
    s.step();
    return static_cast<int>(s.integer(0));
}

void Store::addCode(const std::string& email, const std::string& codeHash, double expiresAt,
                    double now) {
    std::lock_guard lock(mutex_);
    inTransaction(db_, [&] {
        db_.prepare("UPDATE codes SET used = 1 WHERE email = ? AND used = 0").bindAll(email).run();
        db_.prepare(
               "INSERT INTO codes(email, code_hash, expires_at, created_at) VALUES(?, ?, ?, ?)")
            .bindAll(email, codeHash, expiresAt, now)
            .run();
        return 0;
    });
}

CodeCheck Store::checkCode(const std::string& email,
                           const std::function<bool(const std::string&)>& matches, int limit,
                           double now) {
    std::lock_guard lock(mutex_);
    // Read, count and consume in one write transaction, so parallel guesses are taken one
    // after the other and none of them sees a count that another is about to raise.
    return inTransaction(db_, [&] {
        auto s = db_.prepare(
            "SELECT id, code_hash, expires_at, attempts FROM codes WHERE email = ? AND used = 0 "
            "ORDER BY id DESC LIMIT 1");
        s.bindAll(email);
        if (!s.step() || s.real(2) <= now || s.integer(3) >= limit) {
            return CodeCheck::NoLiveCode;
        }
        int64_t id = s.integer(0);
        if (matches(s.text(1))) {
            db_.prepare("UPDATE codes SET used = 1 WHERE id = ?").bindAll(id).run();
            return CodeCheck::Accepted;
        }
        int attempts = static_cast<int>(s.integer(3)) + 1;
        db_.prepare("UPDATE codes SET attempts = ?, used = ? WHERE id = ?")
            .bindAll(attempts, attempts >= limit, id)
            .run();
        return attempts >= limit ? CodeCheck::LimitReached : CodeCheck::Wrong;
    });
}

void Store::insertNote(const Note& note) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(std::string("INSERT INTO notes(") + kNoteColumns +
                         ") VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    s.bindAll(note.id, note.userId, note.createdAt, note.title, note.text, note.cleanedText,
              tagsToText(note.tags), note.project, note.source, note.durationSecs, note.archivedAt);
    s.run();
}

Note Store::readNote(Statement& s) {
    Note note;
    note.id = s.text(0);
    note.userId = s.text(1);
    note.createdAt = s.text(2);
    note.title = s.text(3);
    note.text = s.text(4);
    note.cleanedText = s.optionalText(5);
    note.tags = tagsFromText(s.text(6));
    note.project = s.optionalText(7);
    note.source = s.text(8);
    if (!s.isNull(9)) {
        note.durationSecs = s.integer(9);
    }
    note.archivedAt = s.optionalText(10);
    return note;
}

std::vector<RelatedNote> Store::relatedLocked(const std::string& noteId) {
    auto s = db_.prepare(
        "SELECT notes.id, notes.title, notes.created_at FROM note_links JOIN notes ON notes.id = "
        "note_links.b WHERE note_links.a = ? ORDER BY notes.created_at, notes.rowid");
    s.bindAll(noteId);
    std::vector<RelatedNote> related;
    while (s.step()) {
        related.push_back(RelatedNote{s.text(0), s.text(1), s.text(2)});
    }
    return related;
}

std::vector<Note> Store::notes(const std::string& userId, const std::string& since,
                               bool withRelated) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(std::string("SELECT ") + kNoteColumns +
                         " FROM notes WHERE user_id = ? AND created_at > ? "
                         "ORDER BY created_at, rowid");
    s.bindAll(userId, since);
    std::vector<Note> out;
    while (s.step()) {
        out.push_back(readNote(s));
    }
    if (withRelated) {
        for (auto& note : out) {
            note.related = relatedLocked(note.id);
        }
    }
    return out;
}

std::optional<Note> Store::note(const std::string& userId, const std::string& noteId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(std::string("SELECT ") + kNoteColumns +
                         " FROM notes WHERE user_id = ? AND id = ?");
    s.bindAll(userId, noteId);
    if (!s.step()) {
        return std::nullopt;
    }
    Note note = readNote(s);
    note.related = relatedLocked(note.id);
    return note;
}

bool Store::updateNote(const Note& note) {
    std::lock_guard lock(mutex_);
    db_.prepare(
           "UPDATE notes SET title = ?, tags = ?, project = ?, archived_at = ? "
           "WHERE id = ? AND user_id = ?")
        .bindAll(note.title, tagsToText(note.tags), note.project, note.archivedAt, note.id,
                 note.userId)
        .run();
    return db_.changes() == 1;
}

bool Store::link(const std::string& userId, const std::string& a, const std::string& b) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT COUNT(*) FROM notes WHERE user_id = ? AND id IN (?, ?)");
    s.bindAll(userId, a, b);
    s.step();
    if (a == b || s.integer(0) != 2) {
        return false;
    }
    // Relations are symmetric: each note lists the other.
    auto insert = "INSERT OR IGNORE INTO note_links(a, b) VALUES(?, ?)";
    db_.prepare(insert).bindAll(a, b).run();
    db_.prepare(insert).bindAll(b, a).run();
    return true;
}

bool Store::unlink(const std::string& userId, const std::string& a, const std::string& b) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT COUNT(*) FROM notes WHERE user_id = ? AND id IN (?, ?)");
    s.bindAll(userId, a, b);
    s.step();
    if (s.integer(0) != 2) {
        return false;
    }
    db_.prepare("DELETE FROM note_links WHERE (a = ? AND b = ?) OR (a = ? AND b = ?)")
        .bindAll(a, b, b, a)
        .run();
    return db_.changes() > 0;
}

int Store::noteCount(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT COUNT(*) FROM notes WHERE user_id = ?");
    s.bindAll(userId);
    s.step();
    return static_cast<int>(s.integer(0));
}

std::vector<Project> Store::projects(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT id, name, created_at FROM projects WHERE user_id = ? ORDER BY created_at, rowid");
    s.bindAll(userId);
    std::vector<Project> out;
    while (s.step()) {
        out.push_back(Project{s.text(0), s.text(1), s.text(2)});
    }
    return out;
}

Project Store::addProject(const std::string& userId, const std::string& name, const std::string& id,
                          const std::string& createdAt) {
    std::lock_guard lock(mutex_);
    db_.prepare("INSERT INTO projects(id, user_id, name, created_at) VALUES(?, ?, ?, ?)")
        .bindAll(id, userId, name, createdAt)
        .run();
    return Project{id, name, createdAt};
}

std::optional<Project> Store::project(const std::string& userId, const std::string& projectId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare("SELECT id, name, created_at FROM projects WHERE user_id = ? AND id = ?");
    s.bindAll(userId, projectId);
    if (!s.step()) {
        return std::nullopt;
    }
    return Project{s.text(0), s.text(1), s.text(2)};
}

std::vector<std::string> Store::vocabulary(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto s =
        db_.prepare("SELECT word FROM vocabulary WHERE user_id = ? ORDER BY created_at, rowid");
    s.bindAll(userId);
    std::vector<std::string> out;
    while (s.step()) {
        out.push_back(s.text(0));
    }
    return out;
}

bool Store::addWord(const std::string& userId, const std::string& word, double now) {
    std::lock_guard lock(mutex_);
    db_.prepare("INSERT OR IGNORE INTO vocabulary(user_id, word, created_at) VALUES(?, ?, ?)")
        .bindAll(userId, word, now)
        .run();
    return db_.changes() > 0;
}

bool Store::removeWord(const std::string& userId, const std::string& word) {
    std::lock_guard lock(mutex_);
    db_.prepare("DELETE FROM vocabulary WHERE user_id = ? AND word = ?")
        .bindAll(userId, word)
        .run();
    return db_.changes() > 0;
}

void Store::addActivationEvent(const std::string& userId, const std::string& event,
                               const std::string& installationId, const std::string& platform,
                               const std::string& appVersion, const std::string& at) {
    std::lock_guard lock(mutex_);
    db_.prepare(
           "INSERT INTO activation_events(user_id, event, installation_id, platform, app_version, "
           "at) VALUES(?, ?, ?, ?, ?, ?)")
        .bindAll(userId, event, installationId, platform, appVersion, at)
        .run();
}

std::vector<std::string> Store::activationEvents(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT DISTINCT event FROM activation_events WHERE user_id = ? ORDER BY event");
    s.bindAll(userId);
    std::vector<std::string> out;
    while (s.step()) {
        out.push_back(s.text(0));
    }
    return out;
}

void Store::putNativeStatus(const std::string& userId, const NativeStatus& st) {
    std::lock_guard lock(mutex_);
    db_.prepare(
           "INSERT INTO native_status(user_id, installation_id, platform, app_version, microphone, "
           "accessibility, input_monitoring, screen_recording, updated_at) "
           "VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT(user_id, installation_id) DO UPDATE SET "
           "platform = excluded.platform, app_version = excluded.app_version, "
           "microphone = excluded.microphone, accessibility = excluded.accessibility, "
           "input_monitoring = excluded.input_monitoring, "
           "screen_recording = excluded.screen_recording, updated_at = excluded.updated_at")
        .bindAll(userId, st.installationId, st.platform, st.appVersion, st.microphone,
                 st.accessibility, st.inputMonitoring, st.screenRecording, st.updatedAt)
        .run();
}

std::vector<NativeStatus> Store::nativeStatuses(const std::string& userId) {
    std::lock_guard lock(mutex_);
    auto s = db_.prepare(
        "SELECT installation_id, platform, app_version, microphone, accessibility, "
        "input_monitoring, screen_recording, updated_at FROM native_status WHERE user_id = ? "
        "ORDER BY updated_at DESC");
    s.bindAll(userId);
    std::vector<NativeStatus> out;
    while (s.step()) {
        out.push_back(NativeStatus{s.text(0), s.text(1), s.text(2), s.integer(3) != 0,
                                   s.integer(4) != 0, s.integer(5) != 0, s.integer(6) != 0,
                                   s.text(7)});
    }
    return out;
}

}  // namespace larkspire::server

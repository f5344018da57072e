#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/store/Sqlite.h"

namespace larkspire::server {

struct User {
    std::string id;
    std::string email;
};

struct RelatedNote {
    std::string id;
    std::string title;
    std::string createdAt;
};

struct Note {
    std::string id;
    std::string userId;
    std::string createdAt;
    std::string title;
    std::string text;
    std::optional<std::string> cleanedText;
    std::vector<std::string> tags;
    std::optional<std::string> project;
    std::string source;
    std::optional<int64_t> durationSecs;
    std::optional<std::string> archivedAt;
    std::vector<RelatedNote> related;
};

struct Project {
    std::string id;
    std::string name;
    std::string createdAt;
};

struct NativeStatus {
    std::string installationId;
    std::string platform;
    std::string appVersion;
    bool microphone = false;
    bool accessibility = false;
    bool inputMonitoring = false;
    bool screenRecording = false;
    std::string updatedAt;
};

// The outcome of one guess at an address's one-time code.
enum class CodeCheck { Accepted, Wrong, LimitReached, NoLiveCode };

enum class RotateOutcome { Rotated, Unknown, Reused, Expired };

// Every table of the service in one SQLite file. One connection, one lock: the service's
// load is a single user, and the lock makes each method's statements one atomic step.
class Store {
  public:
    explicit Store(const std::filesystem::path& file);

    // Accounts.
    std::optional<User> findUser(const std::string& email);
    std::optional<User> userById(const std::string& id);
    User findOrCreateUser(const std::string& email, double now);
    // Creates the account or replaces its password; returns the account.
    User setPassword(const std::string& email, const std::string& passwordHash, double now);
    std::optional<std::string> passwordHash(const std::string& email);

    // Sessions: each holds one live access token and one live refresh token, stored as hashes.
    std::string createSession(const std::string& userId, const std::string& accessHash,
                              double accessExpiry, const std::string& refreshHash,
                              double refreshExpiry, double now);
    std::optional<std::string> userForAccessToken(const std::string& accessHash, double now);
    // Replaces a session's tokens when the refresh token is its current one. Presenting an
    // already rotated refresh token revokes the whole session.
    RotateOutcome rotate(const std::string& refreshHash, const std::string& newAccessHash,
                         double accessExpiry, const std::string& newRefreshHash,
                         double refreshExpiry, double now, std::string& userId);

    // One-time codes.
    int codesRequestedSince(const std::string& email, double since);
    // Stores a new code and retires every earlier unused one for the address.
    void addCode(const std::string& email, const std::string& codeHash, double expiresAt,
                 double now);
    // Compares a guess with the address's live code (`matches` gets the stored hash) and
    // consumes the code or counts the wrong guess, as one atomic step. The guess that reaches
    // `limit` retires the code.
    CodeCheck checkCode(const std::string& email,
                        const std::function<bool(const std::string&)>& matches, int limit,
                        double now);

    // Notes.
    void insertNote(const Note& note);
    std::vector<Note> notes(const std::string& userId, const std::string& since, bool withRelated);
    std::optional<Note> note(const std::string& userId, const std::string& noteId);
    bool updateNote(const Note& note);
    bool link(const std::string& userId, const std::string& a, const std::string& b);
    bool unlink(const std::string& userId, const std::string& a, const std::string& b);
    int noteCount(const std::string& userId);

    // Projects.
    std::vector<Project> projects(const std::string& userId);
    Project addProject(const std::string& userId, const std::string& name, const std::string& id,
                       const std::string& createdAt);
    std::optional<Project> project(const std::string& userId, const std::string& projectId);

    // The account's vocabulary: words and names it says often, in the spelling wanted,
    // one of each whatever its case, oldest first.
    std::vector<std::string> vocabulary(const std::string& userId);
    // False when the account has the word already.
    bool addWord(const std::string& userId, const std::string& word, double now);
    bool removeWord(const std::string& userId, const std::string& word);

    // Reports from the agent.
    void addActivationEvent(const std::string& userId, const std::string& event,
                            const std::string& installationId, const std::string& platform,
                            const std::string& appVersion, const std::string& at);
    std::vector<std::string> activationEvents(const std::string& userId);
    void putNativeStatus(const std::string& userId, const NativeStatus& status);
    std::vector<NativeStatus> nativeStatuses(const std::string& userId);

  private:
    std::vector<RelatedNote> relatedLocked(const std::string& noteId);
    Note readNote(Statement& s);

    std::mutex mutex_;
    Database db_;
};

}  // namespace larkspire::server

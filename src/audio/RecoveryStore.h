#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "audio/Recording.h"

namespace larkspire {

// The folder that keeps every recording on disk until its text is delivered:
// "Larkspire/Pending Recordings" under the per-user data directory, with its
// "Silent Recordings" folder; entries of the legacy "Vantrel/Pending Recordings" are
// moved in. Keeps no state in memory beyond its data directory; safe from any thread.
class RecoveryStore {
  public:
    // The user's data directory: $XDG_DATA_HOME when it is an absolute path, else
    // ~/.local/share, resolved on every use.
    RecoveryStore() = default;
    // A store under the given data directory (tests use a temporary one).
    explicit RecoveryStore(std::filesystem::path dataDirectory);

    // $XDG_DATA_HOME, or ~/.local/share. Throws std::runtime_error without a home.
    static std::filesystem::path userDataDirectory();

    // Creates the recovery directory if missing, migrates legacy entries into it and
    // returns it. Throws std::filesystem::filesystem_error (or std::runtime_error).
    std::filesystem::path recoveryDirectory() const;

    // A fresh path "pending-<lower-case uuid>.<extension>" in the recovery directory.
    // Nothing is created. Throws as recoveryDirectory().
    std::filesystem::path newRecoveryURL(std::string_view pathExtension) const;

    // Writes `wav` atomically beside `spool` (same stem, extension "wav"), then deletes
    // `spool` (a failure to delete is ignored). Returns the written path. Throws
    // std::system_error when the write fails; the spool file then stays.
    static std::filesystem::path persistForRecovery(std::span<const std::uint8_t> wav,
                                                    const std::filesystem::path& spool);

    // Moves every entry of `legacy` whose name is free in `directory` there; anything
    // else stays. Never fails.
    static void migrateLegacyRecoveryFiles(const std::filesystem::path& legacy,
                                           const std::filesystem::path& directory);

    // Every "wav" and "caf" file (any case, not hidden, no sub-folders) of the recovery
    // directory, newest modification first. Empty when the directory is unusable.
    std::vector<std::filesystem::path> pendingRecordings() const;

    // Removes the hidden temporary files that a crash while persisting a recording left
    // in the recovery directory; never a recording or a spool file. Returns how many.
    int removeLeftoverTemporaryFiles() const;

    // Moves a pending file that holds no audio (a spool left with only its header by a
    // crash, an empty file) into the "Unreadable Recordings" folder beside it, so that it
    // no longer hides the readable recordings behind it. Never deletes it. False when it
    // could not be moved.
    static bool setAsideUnreadable(const std::filesystem::path& file);

    // Whether at least one recording is pending (what "Retry saved recording" shows).
    bool hasPendingRecordings() const;

    // The newest pending recording that holds audio, recovered, passing over the `busy`
    // files (the spool being written, recordings already being sent). A file without
    // audio met on the way is set aside, so that one crash never blocks the recordings
    // behind it; a file that holds audio but cannot be used now stays for a later try.
    std::optional<Recording> recoverNewest(const std::set<std::filesystem::path>& busy) const;
    // The same over a list chosen beforehand, newest first: the listing is quick, the
    // conversion may not be, so the two can happen on different threads.
    std::optional<Recording> recoverFirst(const std::vector<std::filesystem::path>& files) const;
    std::vector<std::filesystem::path> pendingRecordingsExcept(
        const std::set<std::filesystem::path>& busy) const;

    // Turns a pending file back into a Recording: a spool file ("caf") is converted and
    // replaced by its WAV first. Nothing when it cannot be used; the file then stays.
    std::optional<Recording> recover(const std::filesystem::path& file) const;

  private:
    std::filesystem::path dataDirectory() const;

    std::optional<std::filesystem::path> dataDirectory_;
};

}  // namespace larkspire

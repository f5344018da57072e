#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace larkspire {

// The one folder the synchroniser may change. Every file operation goes through an open
// handle of the folder and takes a bare file name, so no name (whatever the service or
// the state file says) and no symbolic link inside the folder can make an operation
// create, replace or delete a file elsewhere: a link in the folder is itself replaced or
// removed, never followed.
class NotesFolder {
  public:
    class Error : public std::runtime_error {
      public:
        using std::runtime_error::runtime_error;
    };

    // Opens an existing folder (following links on the way to it). Throws Error.
    explicit NotesFolder(const std::filesystem::path& path);
    ~NotesFolder();
    NotesFolder(const NotesFolder&) = delete;
    NotesFolder& operator=(const NotesFolder&) = delete;

    // True when `name` names an entry directly inside `folder`: one path component,
    // neither "." nor "..", no NUL, and lexically contained.
    static bool isContainedName(const std::filesystem::path& folder, std::string_view name);

    // Writes `contents` to a fresh hidden file in the folder and renames it over `name`,
    // so that readers see the old file or the new one, never a part. Throws Error (a name
    // that is not contained is an error too).
    void writeAtomically(std::string_view name, std::string_view contents);

    // Removes the entry `name` when it is a file or a link; never a folder. Returns false
    // when nothing was removed (a name that is not contained included).
    bool remove(std::string_view name) noexcept;

    // Removes the hidden temporary files a crash in the middle of writeAtomically left
    // behind; nothing else. Returns how many were removed.
    int removeLeftoverTemporaryFiles() noexcept;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    std::mt19937_64 random_;
};

}  // namespace larkspire

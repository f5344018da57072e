#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace larkspire::fileio {

// Which writes are made durable (fsync) and why:
//  - a finished recording (the WAV that replaces its spool file) is fsynced, and so is its
//    folder after the rename: it holds the user's words until their text is delivered;
//  - spool blocks are not fsynced one by one (a sync per 85 ms block would stall the
//    recorder on a slow disk); the data-chunk size written after each block keeps the
//    file readable up to the last block the kernel kept;
//  - note files and the vault state are not fsynced: they mirror the service and the next
//    pass rewrites them.

// A file descriptor closed on destruction.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now; close(2)'s result, which reports delayed write errors (a full disk on
    // some file systems).
    int reset();

  private:
    int fd_;
};

// Writes every byte at the file position, or at `offset` without moving it, retrying
// after interruptions. 0, or the errno of the failure.
int writeAll(int fd, const void* data, std::size_t size);
int writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset);

// Moves `from` to `to` unless something is already at `to`: a recording is never
// overwritten. Uses renameat2(RENAME_NOREPLACE); where the file system lacks it (NFS home
// folders, some FUSE file systems), moveIfFree. False when nothing was moved.
bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);
// A hard link to `to`, which fails if anything is there, then `from` unlinked: atomic.
// Where the file system has no hard links either, looks first, then renames.
bool moveIfFree(const std::filesystem::path& from, const std::filesystem::path& to);

// The whole file; absent when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path);

}  // namespace larkspire::fileio

#include "vault/NotesFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/FileIO.h"

namespace larkspire {

constexpr std::string_view kTemporaryPrefix = ".vaultsync-";
constexpr std::string_view kTemporarySuffix = ".tmp";
namespace {

std::string inQuotes(std::string_view name) {
    return "\"" + std::string(name) + "\"";
}

std::string errnoText(int error) {
    return std::strerror(error);
}

}  // namespace

NotesFolder::NotesFolder(const std::filesystem::path& path)
    : path_(path), random_(std::random_device{}()) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) {
        throw Error("cannot open folder " + inQuotes(path.string()) + ": " + errnoText(errno));
    }
}

NotesFolder::~NotesFolder() {
    ::close(fd_);
}

bool NotesFolder::isContainedName(const std::filesystem::path& folder, std::string_view name) {
    if (name.empty() || name == "." || name == ".." ||
        name.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos) {
        return false;
    }
    std::filesystem::path base = folder.lexically_normal();
    if (!base.has_filename() && base.has_relative_path()) {
        base = base.parent_path();  // "dir/" names the same folder as "dir"
    }
    const std::filesystem::path target = (base / std::string(name)).lexically_normal();
    return target.parent_path() == base && target.filename() == std::string(name);
}

void NotesFolder::writeAtomically(std::string_view name, std::string_view contents) {
    if (!isContainedName(path_, name)) {
        throw Error("refusing to write " + inQuotes(name) + " outside " + inQuotes(path_.string()));
    }
    // A short hidden name: listings skip it, and a long note name cannot push it past
    // the file-name limit. O_EXCL never follows or reuses an existing entry.
    std::string temp;
    int out = -1;
    for (int attempt = 0; attempt < 16 && out < 0; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random_()));
        temp = std::string(kTemporaryPrefix) + suffix + std::string(kTemporarySuffix);
        out =
            ::openat(fd_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (out < 0 && errno != EEXIST) {
            break;
        }
    }
    if (out < 0) {
        throw Error("cannot create a file in " + inQuotes(path_.string()) + ": " +
                    errnoText(errno));
    }

    int failure = fileio::writeAll(out, contents.data(), contents.size());
    // close() reports delayed write errors (a full disk on some file systems).
    if (::close(out) != 0 && failure == 0) {
        failure = errno;
    }
    if (failure == 0 && ::renameat(fd_, temp.c_str(), fd_, std::string(name).c_str()) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        ::unlinkat(fd_, temp.c_str(), 0);
        throw Error("cannot write " + inQuotes(name) + " in " + inQuotes(path_.string()) + ": " +
                    errnoText(failure));
    }
}

int NotesFolder::removeLeftoverTemporaryFiles() noexcept {
    std::error_code ec;
    int removed = 0;
    for (std::filesystem::directory_iterator it(path_, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(kTemporaryPrefix) && name.ends_with(kTemporarySuffix) &&
            ::unlinkat(fd_, name.c_str(), 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

bool NotesFolder::remove(std::string_view name) noexcept {
    if (!isContainedName(path_, name)) {
        return false;
    }
    // Without AT_REMOVEDIR a folder is refused; a link is removed, not its target.
    return ::unlinkat(fd_, std::string(name).c_str(), 0) == 0;
}

}  // namespace larkspire

#include "util/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace larkspire::fileio {

int FileDescriptor::reset() {
    const int result = fd_ >= 0 ? ::close(fd_) : 0;
    fd_ = -1;
    return result;
}

namespace {

template <class Write>
int writeLoop(const void* data, std::size_t size, Write write) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(bytes + done, size - done, done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

int writeAll(int fd, const void* data, std::size_t size) {
    return writeLoop(data, size, [fd](const std::uint8_t* p, std::size_t n, std::size_t) {
        return ::write(fd, p, n);
    });
}

int writeAllAt(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    return writeLoop(data, size,
                     [fd, offset](const std::uint8_t* p, std::size_t n, std::size_t done) {
                         return ::pwrite(fd, p, n, static_cast<off_t>(offset + done));
                     });
}

bool moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return false;
    }
    return moveIfFree(from, to);
}

bool moveIfFree(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) {
        return false;  // EEXIST among them: something is at `to`
    }
    struct stat st {};
    // Only a name that is certainly free is used: any other failure counts as taken.
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT) {
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) {
        bytes.reserve(static_cast<std::size_t>(st.st_size));
    }
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

}  // namespace larkspire::fileio

#include "audio/RecoveryStore.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

#include "audio/Conversion.h"
#include "util/FileIO.h"
#include "util/Uuid.h"

namespace larkspire {
namespace fs = std::filesystem;

namespace {

const char* const kRecoveryFolder[] = {"Larkspire", "Pending Recordings"};
const char* const kLegacyFolder[] = {"Vantrel", "Pending Recordings"};
const char* const kSilentFolder = "Silent Recordings";
const char* const kUnreadableFolder = "Unreadable Recordings";

std::string lowercasedExtension(const fs::path& p) {
    std::string ext = p.extension().string();
    if (!ext.empty()) {
        ext.erase(0, 1);
    }
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

bool isHidden(const fs::path& p) {
    const std::string name = p.filename().string();
    return !name.empty() && name.front() == '.';
}

bool holdsAudio(const fs::path& file) {
    if (lowercasedExtension(file) == "caf") {
        const auto pcm = convertTo16kMonoInt16(file);
        return pcm && !pcm->empty();
    }
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec || size > WAV::headerSize;  // unknown counts as holding audio: keep it
}

// Moves a pending file into a folder beside it, never over a file already there.
std::optional<fs::path> moveIntoSubfolder(const fs::path& file, const char* folderName) {
    const fs::path folder = file.parent_path() / folderName;
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const fs::path target = folder / file.filename();
    if (!fileio::moveNoReplace(file, target)) {
        return std::nullopt;
    }
    return target;
}

[[noreturn]] void throwErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

}  // namespace

void Recording::discardRecoveryCopy() const {
    std::error_code ignored;
    fs::remove(recoveryURL, ignored);
}

std::optional<fs::path> Recording::archiveSilentCopy() const {
    return moveIntoSubfolder(recoveryURL, kSilentFolder);
}

RecoveryStore::RecoveryStore(fs::path dataDirectory) : dataDirectory_(std::move(dataDirectory)) {}

fs::path RecoveryStore::userDataDirectory() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && fs::path(xdg).is_absolute()) {
        return fs::path(xdg);
    }
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
        home = env;
    } else {
        passwd entry{};
        passwd* found = nullptr;
        std::string buffer(16384, '\0');
        if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
            found->pw_dir) {
            home = found->pw_dir;
        }
    }
    if (home.empty()) {
        throw std::runtime_error("no home directory for the user's data directory");
    }
    return fs::path(home) / ".local" / "share";
}

fs::path RecoveryStore::dataDirectory() const {
    return dataDirectory_ ? *dataDirectory_ : userDataDirectory();
}

fs::path RecoveryStore::recoveryDirectory() const {
    const fs::path base = dataDirectory();
    fs::create_directories(base);
    const fs::path dir = base / kRecoveryFolder[0] / kRecoveryFolder[1];
    fs::create_directories(dir);
    migrateLegacyRecoveryFiles(base / kLegacyFolder[0] / kLegacyFolder[1], dir);
    return dir;
}

fs::path RecoveryStore::newRecoveryURL(std::string_view pathExtension) const {
    return recoveryDirectory() /
           ("pending-" + uuid::randomLowerCase() + "." + std::string(pathExtension));
}

fs::path RecoveryStore::persistForRecovery(std::span<const std::uint8_t> wav,
                                           const fs::path& spool) {
    fs::path target = spool;
    target.replace_extension("wav");

    // A hidden temporary file beside the target, so the listing never offers it.
    std::string name(1, '.');
    name += target.filename().string();
    name += ".XXXXXX";
    std::string pattern = target.parent_path() / name;
    fileio::FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        throwErrno(errno, "cannot create a temporary file for " + target.string());
    }
    const fs::path temporary = pattern;
    auto fail = [&](int error) {
        fd.reset();
        ::unlink(temporary.c_str());
        throwErrno(error, "cannot write " + target.string());
    };
    if (const int error = fileio::writeAll(fd.get(), wav.data(), wav.size())) {
        fail(error);
    }
    if (::fsync(fd.get()) != 0) {
        fail(errno);
    }
    if (fd.reset() != 0) {
        fail(errno);
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        fail(errno);
    }
    // The rename itself survives a power loss only once the folder is synced.
    fileio::FileDescriptor dir(
        ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    if (spool != target) {
        std::error_code ignored;
        fs::remove(spool, ignored);
    }
    return target;
}

void RecoveryStore::migrateLegacyRecoveryFiles(const fs::path& legacy, const fs::path& directory) {
    std::error_code ec;
    fs::directory_iterator it(legacy, ec);
    if (ec) {
        return;
    }
    // List first, move afterwards: the folder is not changed while it is being read.
    std::vector<fs::path> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        if (!isHidden(it->path())) {
            entries.push_back(it->path());
        }
    }
    for (const fs::path& entry : entries) {
        fileio::moveNoReplace(entry, directory / entry.filename());
    }
}

std::vector<fs::path> RecoveryStore::pendingRecordings() const {
    fs::path dir;
    try {
        dir = recoveryDirectory();
    } catch (const std::exception&) {
        return {};
    }
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        return {};
    }
    struct Entry {
        fs::path path;
        fs::file_time_type modified;
    };
    std::vector<Entry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            return {};
        }
        const fs::path& p = it->path();
        if (isHidden(p)) {
            continue;
        }
        const std::string ext = lowercasedExtension(p);
        if (ext != "wav" && ext != "caf") {
            continue;
        }
        std::error_code timeError;
        fs::file_time_type modified = it->last_write_time(timeError);
        if (timeError) {
            modified = fs::file_time_type::min();  // the distant past: listed last
        }
        entries.push_back({p, modified});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.modified > b.modified; });
    std::vector<fs::path> paths;
    paths.reserve(entries.size());
    for (auto& e : entries) {
        paths.push_back(std::move(e.path));
    }
    return paths;
}

int RecoveryStore::removeLeftoverTemporaryFiles() const {
    fs::path dir;
    try {
        dir = recoveryDirectory();
    } catch (const std::exception&) {
        return 0;
    }
    // persistForRecovery's names: "." + the WAV's name + "." + six mkostemp characters.
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const size_t mark = name.rfind(".wav.");
        if (isHidden(it->path()) && mark != std::string::npos && name.size() == mark + 11 &&
            it->is_regular_file(ec)) {
            std::error_code ignored;
            removed += fs::remove(it->path(), ignored) ? 1 : 0;
        }
    }
    return removed;
}

bool RecoveryStore::setAsideUnreadable(const fs::path& file) {
    return moveIntoSubfolder(file, kUnreadableFolder).has_value();
}

bool RecoveryStore::hasPendingRecordings() const {
    return !pendingRecordings().empty();
}

std::optional<Recording> RecoveryStore::recoverNewest(const std::set<fs::path>& busy) const {
    return recoverFirst(pendingRecordingsExcept(busy));
}

std::vector<fs::path> RecoveryStore::pendingRecordingsExcept(const std::set<fs::path>& busy) const {
    std::vector<fs::path> files = pendingRecordings();
    std::erase_if(files, [&busy](const fs::path& file) { return busy.contains(file); });
    return files;
}

std::optional<Recording> RecoveryStore::recoverFirst(const std::vector<fs::path>& files) const {
    for (const fs::path& file : files) {
        if (auto recording = recover(file)) {
            return recording;
        }
        if (!holdsAudio(file)) {
            setAsideUnreadable(file);
        }
    }
    return std::nullopt;
}

std::optional<Recording> RecoveryStore::recover(const fs::path& file) const {
    fs::path path = file;
    if (lowercasedExtension(file) == "caf") {
        const auto pcm = convertTo16kMonoInt16(file);
        if (!pcm || pcm->empty()) {
            return std::nullopt;
        }
        try {
            path = persistForRecovery(WAV::wrap(*pcm), file);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }
    auto bytes = fileio::readWholeFile(path);
    if (!bytes || bytes->size() <= WAV::headerSize) {
        return std::nullopt;
    }
    std::int64_t duration = 1;
    if (const auto pcm = WAV::pcmData(*bytes)) {
        duration = std::max<std::int64_t>(
            1, static_cast<std::int64_t>(pcm->size() / WAV::pcmBytesPerSecond));
    }
    return Recording{std::move(*bytes), duration, path};
}

}  // namespace larkspire

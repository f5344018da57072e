#include "audio/CafSpoolFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "util/FileIO.h"

namespace larkspire {
namespace {

void putBE(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + 4);
}

// CAF chunk sizes are signed 64-bit big-endian; the data chunk counts its 4-byte edit
// count as well as the audio.
std::vector<std::uint8_t> dataChunkSize(std::uint64_t audioBytes) {
    std::vector<std::uint8_t> out;
    putBE(out, audioBytes + 4, 8);
    return out;
}

constexpr std::uint32_t kFloat = 1;
constexpr std::uint32_t kLittleEndian = 2;

}  // namespace

std::unique_ptr<CafSpoolFile> CafSpoolFile::create(const std::filesystem::path& path,
                                                   const platform::AudioFormat& format) {
    if (format.channels == 0 || !(format.sampleRate > 0)) {
        throw std::invalid_argument("audio format without channels or sample rate");
    }
    std::vector<std::uint8_t> header;
    putTag(header, "caff");
    putBE(header, 1, 2);  // file version
    putBE(header, 0, 2);  // file flags
    putTag(header, "desc");
    putBE(header, 32, 8);
    putBE(header, std::bit_cast<std::uint64_t>(format.sampleRate), 8);
    putTag(header, "lpcm");
    putBE(header, kFloat | kLittleEndian, 4);
    putBE(header, 4ULL * format.channels, 4);  // bytes per packet
    putBE(header, 1, 4);                       // frames per packet
    putBE(header, format.channels, 4);
    putBE(header, 32, 4);  // bits per channel
    putTag(header, "data");
    const auto size = dataChunkSize(0);
    header.insert(header.end(), size.begin(), size.end());
    putBE(header, 0, 4);  // edit count

    // Private: the file holds what the user said.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "cannot create spool file " + path.string());
    }
    std::unique_ptr<CafSpoolFile> file(new CafSpoolFile(fd, format));
    if (const int error = fileio::writeAllAt(fd, header.data(), header.size(), 0)) {
        throw std::system_error(error, std::generic_category(),
                                "cannot write spool file " + path.string());
    }
    return file;
}

CafSpoolFile::CafSpoolFile(int fd, platform::AudioFormat format) : fd_(fd), format_(format) {}

CafSpoolFile::~CafSpoolFile() {
    close();
}

void CafSpoolFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool CafSpoolFile::append(std::span<const float> interleaved) {
    if (fd_ < 0) {
        lastError_ = EBADF;
        return false;
    }
    const std::uint64_t frames = interleaved.size() / format_.channels;
    if (frames == 0) {
        return true;
    }
    const std::size_t samples = static_cast<std::size_t>(frames) * format_.channels;
    std::vector<std::uint8_t> bytes(samples * 4);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(bytes.data(), interleaved.data(), bytes.size());
    } else {
        for (std::size_t i = 0; i < samples; ++i) {
            const auto bits = std::bit_cast<std::uint32_t>(interleaved[i]);
            for (int b = 0; b < 4; ++b) {
                bytes[4 * i + static_cast<std::size_t>(b)] =
                    static_cast<std::uint8_t>(bits >> (8 * b));
            }
        }
    }
    const std::uint64_t frameBytes = 4ULL * format_.channels;
    const std::uint64_t committed = frames_ * frameBytes;
    // Audio first, then the size that makes it visible: a crash between the two leaves
    // the earlier, consistent size.
    if (const int error =
            fileio::writeAllAt(fd_, bytes.data(), bytes.size(), audioOffset + committed)) {
        lastError_ = error;
        return false;
    }
    const auto size = dataChunkSize(committed + bytes.size());
    if (const int error = fileio::writeAllAt(fd_, size.data(), size.size(), dataSizeOffset)) {
        lastError_ = error;
        return false;
    }
    frames_ += frames;
    return true;
}

}  // namespace larkspire

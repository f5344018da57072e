#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "platform/AudioInput.h"

namespace larkspire {

// A CAF file of 32-bit float linear PCM in the capture format, appended block by block.
// After each block the data chunk's size field is rewritten in place, so the file is
// complete at every moment: a file cut short by a crash reads up to the last whole block.
// Not thread-safe: one owner (the recorder's serial queue) appends.
class CafSpoolFile {
  public:
    // Creates the file (it must not exist yet) and writes the header with an empty data
    // chunk. Throws std::system_error on failure and std::invalid_argument for a format
    // without channels or rate.
    static std::unique_ptr<CafSpoolFile> create(const std::filesystem::path& path,
                                                const platform::AudioFormat& format);
    ~CafSpoolFile();
    CafSpoolFile(const CafSpoolFile&) = delete;
    CafSpoolFile& operator=(const CafSpoolFile&) = delete;

    // Appends whole frames of interleaved samples (a trailing partial frame is dropped).
    // False when the write failed: then that block is not part of the file, and the next
    // append writes in its place.
    bool append(std::span<const float> interleaved);
    // The errno of the last failed append (ENOSPC for a full disk); 0 when none failed.
    int lastError() const { return lastError_; }

    // Closes the file; later appends fail. Also done by the destructor.
    void close();

    std::uint64_t framesWritten() const { return frames_; }
    const platform::AudioFormat& format() const { return format_; }

    // Byte offsets of the layout this class writes.
    static constexpr std::uint64_t dataSizeOffset = 56;
    static constexpr std::uint64_t audioOffset = 68;

  private:
    CafSpoolFile(int fd, platform::AudioFormat format);

    int fd_;
    platform::AudioFormat format_;
    std::uint64_t frames_ = 0;
    int lastError_ = 0;
};

}  // namespace larkspire

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "audio/WAV.h"

namespace larkspire {

// A finished recording (Recorder::Recording): the complete WAV file, its wall-clock
// length in whole seconds, and the file in the recovery store that holds those bytes.
struct Recording {
    Bytes wav;
    std::int64_t durationSeconds = 0;
    std::filesystem::path recoveryURL;

    // Deletes the file after its text was delivered; a failure is ignored.
    void discardRecoveryCopy() const;

    // Moves the file into the "Silent Recordings" folder beside it. The new path, or
    // nothing when it could not be moved (for instance a file of that name is already
    // there); then the file stays pending.
    std::optional<std::filesystem::path> archiveSilentCopy() const;
};

}  // namespace larkspire

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "server/speech/Wav.h"

namespace httplib {
struct Request;
}

namespace larkspire::server {

// The fields of a transcription upload: the "audio" file part, "duration_secs", "source"
// and the optional "ephemeral" flag.
struct Upload {
    wav::Pcm audio;
    std::optional<int64_t> durationSecs;
    std::string source;
    bool ephemeral = false;
};

struct UploadError {
    int status;
    std::string error;
};

// Reads and checks the multipart form that the agent sends. On failure `error` says why.
std::optional<Upload> readUpload(const httplib::Request& request, UploadError& error);

}  // namespace larkspire::server

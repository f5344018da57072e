#include "server/speech/Upload.h"

#include <httplib.h>

#include <cctype>

namespace larkspire::server {
namespace {

std::optional<int64_t> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    return std::stoll(text);
}

}  // namespace

std::optional<Upload> readUpload(const httplib::Request& request, UploadError& error) {
    if (!request.is_multipart_form_data()) {
        error = {400, "Expected a multipart/form-data upload"};
        return std::nullopt;
    }
    if (!request.has_file("audio")) {
        error = {400, "Missing audio file"};
        return std::nullopt;
    }
    Upload upload;
    std::string reason;
    if (!wav::parse(request.get_file_value("audio").content, upload.audio, reason)) {
        error = {400, reason};
        return std::nullopt;
    }
    if (upload.audio.sampleRate != 16000 || upload.audio.channels != 1) {
        error = {400, "Audio must be 16 kHz mono 16-bit PCM"};
        return std::nullopt;
    }
    if (upload.audio.samples.empty()) {
        error = {400, "Audio holds no samples"};
        return std::nullopt;
    }
    if (request.has_file("duration_secs")) {
        upload.durationSecs = wholeNumber(request.get_file_value("duration_secs").content);
        if (!upload.durationSecs) {
            error = {400, "Invalid duration_secs"};
            return std::nullopt;
        }
    }
    upload.source =
        request.has_file("source") ? request.get_file_value("source").content : std::string("api");
    if (upload.source.empty() || upload.source.size() > 32) {
        error = {400, "Invalid source"};
        return std::nullopt;
    }
    upload.ephemeral =
        request.has_file("ephemeral") && request.get_file_value("ephemeral").content == "true";
    return upload;
}

}  // namespace larkspire::server

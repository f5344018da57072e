// The transcription upload as the service reads it: a multipart form, with a length or
// chunked, read under a size limit, then checked field by field and its WAV parsed.
#include <cstddef>
#include <cstdint>

#include "server/fuzz/MemoryServer.h"
#include "server/http/Http.h"
#include "server/speech/Upload.h"

namespace ds = larkspire::server;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small, so that inputs of fuzzing size also reach the over-limit path.
    constexpr size_t kLimit = 4096;
    ds::fuzz::MemoryServer server;
    server.set_payload_max_length(kLimit);
    server.Post("/api/transcribe",
                ds::http::withBody(kLimit, [](const httplib::Request& req, httplib::Response& res) {
                    ds::UploadError error{0, ""};
                    auto upload = ds::readUpload(req, error);
                    if (upload) {
                        ds::http::sendJson(res, 200, {{"samples", upload->audio.samples.size()}});
                    } else {
                        ds::http::sendError(res, error.status, error.error);
                    }
                }));
    server.serve(
        ds::fuzz::frame("POST /api/transcribe HTTP/1.1\r\nHost: 127.0.0.1:3000\r\n"
                        "Content-Type: multipart/form-data; boundary=dictation-B\r\n",
                        std::string_view(reinterpret_cast<const char*>(data), size)));
    return 0;
}

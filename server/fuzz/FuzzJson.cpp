// JSON request bodies as the service reads them: the bounds check that runs before the
// parser, checked against the depth of what the parser builds, and a whole request through
// the body reader to a handler that reads members and answers with them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "server/fuzz/MemoryServer.h"
#include "server/http/Http.h"
#include "util/BoundedJson.h"

namespace ds = larkspire::server;

namespace {

int depthOf(const ds::http::Json& value) {
    int deepest = 0;
    if (value.is_structured()) {
        for (const auto& member : value) {
            deepest = std::max(deepest, depthOf(member));
        }
        return deepest + 1;
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first byte chooses the framing of the request below; the rest is the JSON text.
    std::string_view text = input.empty() ? input : input.substr(1);
    // Inputs stay small enough (-max_len) for the parser to take any depth. The parser ends
    // its input at a NUL byte, so the bounds are compared over the same prefix.
    const std::string_view parsedText = text.substr(0, text.find('\0'));
    auto parsed = ds::http::Json::parse(parsedText, nullptr, false);
    if (!parsed.is_discarded() && larkspire::withinJsonBounds(parsedText) !=
                                      (depthOf(parsed) <= int(larkspire::kMaximumJsonDepth))) {
        std::abort();
    }

    ds::fuzz::MemoryServer server;
    server.Post("/api/speech", ds::http::withBody(1 << 20, [](const httplib::Request& req,
                                                              httplib::Response& res) {
                    auto body = ds::http::objectBody(req);
                    if (!body) {
                        ds::http::sendError(res, 400, "Request body must be a JSON object");
                        return;
                    }
                    const std::string* t = ds::http::stringMember(*body, "text");
                    ds::http::sendJson(res, 200, {{"text", t ? *t : ""}, {"echo", *body}});
                }));
    server.serve(ds::fuzz::frame(
        "POST /api/speech HTTP/1.1\r\nHost: 127.0.0.1:3000\r\nContent-Type: application/json\r\n",
        input));
    return 0;
}

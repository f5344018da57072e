#include "server/http/Http.h"

#include <chrono>

#include "util/BoundedJson.h"

namespace larkspire::server::http {

std::optional<Json> objectBody(const httplib::Request& request) {
    auto parsed = parseBoundedJson(request.body);
    if (parsed.is_discarded() || !parsed.is_object()) {
        return std::nullopt;
    }
    return parsed;
}

const std::string* stringMember(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) {
        return nullptr;
    }
    return it->get_ptr<const std::string*>();
}

void sendJson(httplib::Response& response, int status, const Json& body) {
    response.status = status;
    // Invalid UTF-8 from a client must not abort the answer.
    response.set_content(body.dump(-1, ' ', false, Json::error_handler_t::replace),
                         "application/json");
}

void sendError(httplib::Response& response, int status, const std::string& error) {
    sendJson(response, status, Json{{"error", error}});
}

bool fromLoopback(const httplib::Request& request) {
    const auto& a = request.remote_addr;
    return a == "::1" || a.rfind("127.", 0) == 0 || a.rfind("::ffff:127.", 0) == 0;
}

BodyRead readBody(const httplib::ContentReader& reader, const httplib::Response& response,
                  size_t limit, httplib::Request& into) {
    // A body that drips in holds a worker: after a grace period it must keep up a modest
    // average rate, which any real upload does many times over.
    constexpr double kGraceSeconds = 10;
    constexpr double kMinimumBytesPerSecond = 4096;
    const auto start = std::chrono::steady_clock::now();
    size_t received = 0;
    bool tooSlow = false;
    auto within = [&](size_t n) {
        received += n;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        tooSlow = elapsed > kGraceSeconds &&
                  static_cast<double>(received) < kMinimumBytesPerSecond * elapsed;
        return received <= limit && !tooSlow;
    };
    bool complete = false;
    if (into.is_multipart_form_data()) {
        auto part = into.files.end();
        complete = reader(
            [&](const httplib::MultipartFormData& header) {
                // Part headers count too, or a chunked body of empty parts had no bound.
                if (!within(header.name.size() + header.filename.size() +
                            header.content_type.size() + 64)) {
                    return false;
                }
                part = into.files.emplace(header.name, header);
                return true;
            },
            [&](const char* data, size_t n) {
                if (part == into.files.end() || !within(n)) {
                    return false;
                }
                part->second.content.append(data, n);
                return true;
            });
    } else {
        complete = reader([&](const char* data, size_t n) {
            if (!within(n)) {
                return false;
            }
            into.body.append(data, n);
            return true;
        });
    }
    if (complete) {
        return BodyRead::Complete;
    }
    // The reader sets 413 itself when a declared length is over the server's limit.
    return !tooSlow && (received > limit || response.status == 413) ? BodyRead::TooLarge
                                                                    : BodyRead::Unreadable;
}

httplib::Server::HandlerWithContentReader withBody(size_t limit, httplib::Server::Handler handler) {
    return
        [limit, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res,
                                              const httplib::ContentReader& reader) {
            httplib::Request full = req;
            switch (readBody(reader, res, limit, full)) {
                case BodyRead::Complete:
                    handler(full, res);
                    return;
                case BodyRead::TooLarge:
                    // The rest of the body is never read, so the connection cannot carry on.
                    res.set_header("Connection", "close");
                    sendError(res, 413, "Request body is too large");
                    return;
                case BodyRead::Unreadable:
                    res.set_header("Connection", "close");
                    sendError(res, 400, "Request body could not be read");
                    return;
            }
        };
}

}  // namespace larkspire::server::http

#include "devservice/http/Http.h"

namespace larkspire::devservice::http {

std::optional<Json> objectBody(const httplib::Request& request) {
    auto parsed = Json::parse(request.body, nullptr, false);
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

}  // namespace larkspire::devservice::http

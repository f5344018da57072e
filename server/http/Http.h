#pragma once

#include <httplib.h>

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace larkspire::server::http {

using Json = nlohmann::json;

// The request body as a JSON object, or nothing when it is not one or nests too deep: the
// bounds are checked before parsing, since the parser builds every level and a body of
// four million brackets cost 360 MB.
std::optional<Json> objectBody(const httplib::Request& request);

// The member when it is a string, else nullptr.
const std::string* stringMember(const Json& object, const char* key);

void sendJson(httplib::Response& response, int status, const Json& body);
void sendError(httplib::Response& response, int status, const std::string& error);

bool fromLoopback(const httplib::Request& request);

enum class BodyRead { Complete, TooLarge, Unreadable };

// Reads a request's body through its content reader into `into`: the body, or for a multipart
// form its parts. Stops once more than `limit` bytes came, whether the body has a length or is
// chunked (the server's own limit covers only bodies with a length).
BodyRead readBody(const httplib::ContentReader& reader, const httplib::Response& response,
                  size_t limit, httplib::Request& into);

// A handler that reads the body with readBody, answers 413 or 400 when that fails, and else
// passes a copy of the request holding the body on to `handler`.
httplib::Server::HandlerWithContentReader withBody(size_t limit, httplib::Server::Handler handler);

}  // namespace larkspire::server::http

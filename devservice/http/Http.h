#pragma once

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace larkspire::devservice::http {

using Json = nlohmann::json;

// The request body as a JSON object, or nothing when it is not one.
std::optional<Json> objectBody(const httplib::Request& request);

// The member when it is a string, else nullptr.
const std::string* stringMember(const Json& object, const char* key);

void sendJson(httplib::Response& response, int status, const Json& body);
void sendError(httplib::Response& response, int status, const std::string& error);

bool fromLoopback(const httplib::Request& request);

}  // namespace larkspire::devservice::http

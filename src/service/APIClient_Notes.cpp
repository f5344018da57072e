#include "service/APIClient.h"
#include "service/Wire.h"
#include "util/BoundedJson.h"

namespace larkspire {

using nlohmann::json;

std::vector<json> APIClient::fetchNotes(const std::string& since, bool full) {
    const std::string token = ensureToken();
    std::string query;
    if (!since.empty()) {
        query += "since=" + percentEncoded(since);
    }
    if (full) {
        query += query.empty() ? "full=1" : "&full=1";
    }
    HttpRequest request;
    request.url = endpointUrl("/api/notes");
    if (!query.empty()) {
        request.url += "?" + query;
    }
    request.timeout = std::chrono::seconds(60);
    request.headers.emplace_back("Authorization", "Bearer " + token);
    const HttpResponse response = syncRequest(request);

    if (response.status == 200) {
        json root = parseBoundedJson(response.body);
        if (root.is_object()) {
            auto notes = root.find("notes");
            if (notes != root.end() && notes->is_array() &&
                std::all_of(notes->begin(), notes->end(),
                            [](const json& n) { return n.is_object(); })) {
                // Handed over, not copied: a copy recurses once per level of nesting, and a
                // note nested 100,000 deep (a 200 KB answer) overflowed the stack.
                return std::move(notes->get_ref<json::array_t&>());
            }
        }
    }
    if (response.status == 401) {
        dropAccessToken();
    }
    // This endpoint never shows the answer's "error".
    throw APIError::requestFailed("notes fetch HTTP " + std::to_string(response.status));
}

}  // namespace larkspire

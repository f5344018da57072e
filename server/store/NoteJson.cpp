#include "server/store/NoteJson.h"

namespace larkspire::server {

nlohmann::json noteJson(const Note& note, bool withRelated) {
    nlohmann::json j{
        {"id", note.id},
        {"created_at", note.createdAt},
        {"title", note.title},
        {"text", note.text},
        {"cleaned_text", note.cleanedText ? nlohmann::json(*note.cleanedText) : nullptr},
        {"tags", note.tags},
        {"project", note.project ? nlohmann::json(*note.project) : nullptr},
        {"source", note.source},
        {"duration_secs", note.durationSecs ? nlohmann::json(*note.durationSecs) : nullptr},
        {"archived_at", note.archivedAt ? nlohmann::json(*note.archivedAt) : nullptr},
    };
    if (withRelated) {
        auto related = nlohmann::json::array();
        for (const auto& r : note.related) {
            related.push_back({{"id", r.id}, {"title", r.title}, {"created_at", r.createdAt}});
        }
        j["related"] = std::move(related);
    }
    return j;
}

}  // namespace larkspire::server

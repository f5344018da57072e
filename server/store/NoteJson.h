#pragma once

#include <nlohmann/json.hpp>

#include "server/store/Store.h"

namespace larkspire::server {

// A note as the service answers it: "id", "created_at", "title", "text", "cleaned_text",
// "tags", "project", "source", "duration_secs", "archived_at" and, when asked, "related".
nlohmann::json noteJson(const Note& note, bool withRelated);

}  // namespace larkspire::server

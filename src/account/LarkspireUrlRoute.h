#pragma once

#include <string>
#include <vector>

namespace larkspire {

// Where a URL of the agent's own "larkspire" scheme sends the user. Only
// "larkspire://permissions/<name>" is understood: the four permission names open their
// settings pane, any other path opens the service's settings page, and every other URL
// does nothing. Comparisons are exact and case-sensitive.
struct LarkspireUrlRoute {
    enum class Kind { nothing, openPane, showSettings };

    Kind kind = Kind::nothing;
    // The pane URL (util/Preferences.h) for openPane.
    std::string pane;

    // Only the first URL of the list counts.
    static LarkspireUrlRoute of(const std::vector<std::string>& urls);
    bool operator==(const LarkspireUrlRoute&) const = default;
};

}  // namespace larkspire

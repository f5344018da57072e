#include "account/LarkspireUrlRoute.h"

#include <utility>

#include "account/WebUrl.h"
#include "util/Preferences.h"

namespace larkspire {

LarkspireUrlRoute LarkspireUrlRoute::of(const std::vector<std::string>& urls) {
    if (urls.empty()) {
        return {};
    }
    const std::string& text = urls.front();
    const auto url = WebUrl::parse(text);
    // The parser folds the scheme's case; the rule does not.
    if (!url || text.rfind("larkspire:", 0) != 0 || url->scheme != "larkspire" ||
        url->host != "permissions") {
        return {};
    }
    std::string path = url->path;
    const size_t first = path.find_first_not_of('/');
    path = first == std::string::npos ? ""
                                      : path.substr(first, path.find_last_not_of('/') - first + 1);

    static const std::pair<const char*, const char*> kPanes[] = {
        {"microphone", panes::microphone},
        {"accessibility", panes::accessibility},
        {"input-monitoring", panes::inputMonitoring},
        {"screen-recording", panes::screenRecording},
    };
    for (const auto& [name, pane] : kPanes) {
        if (path == name) {
            return {Kind::openPane, pane};
        }
    }
    return {Kind::showSettings, {}};
}

}  // namespace larkspire

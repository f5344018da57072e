#include "context/ScreenAwareMode.h"

#include "util/Text.h"

namespace larkspire::ScreenAwareMode {

std::optional<std::string> feedbackText(const std::string& intent, bool inserted,
                                        const std::string& explanation) {
    const std::string e = text::trimmed(explanation);
    if (inserted) {
        if (!e.empty()) {
            return "I pasted it. " + e;
        }
        return intent == "reply" ? "I pasted your reply." : "I pasted it.";
    }
    if (!e.empty()) {
        return e;
    }
    return std::nullopt;
}

}  // namespace larkspire::ScreenAwareMode

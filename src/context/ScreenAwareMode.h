#pragma once

#include <optional>
#include <string>

namespace larkspire {

// The wording of screen-aware requests.
namespace ScreenAwareMode {

// What the agent says after a draft: "I pasted it. " and the explanation, "I pasted your
// reply." or "I pasted it." when something was pasted, else the explanation alone, and
// nothing when there is nothing to say.
std::optional<std::string> feedbackText(const std::string& intent, bool inserted,
                                        const std::string& explanation);

}  // namespace ScreenAwareMode
}  // namespace larkspire

#include "platform/linux/common/KeyCommand.h"

#include <algorithm>

namespace larkspire::linux_desktop {

bool KeyCommand::requested(const std::vector<std::string>& arguments) {
    return std::any_of(arguments.begin(), arguments.end(), [](const std::string& a) {
        return a == "--key" || a.starts_with("--key=");
    });
}

std::optional<KeyCommand> KeyCommand::parse(const std::vector<std::string>& arguments) {
    std::optional<std::string> action;
    bool control = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--key" && i + 1 < arguments.size() && !action) {
            action = arguments[++i];
        } else if (a.starts_with("--key=") && !action) {
            action = a.substr(6);
        } else if (a == "--control" && !control) {
            control = true;
        } else {
            return std::nullopt;
        }
    }
    if (action == "press") {
        return KeyCommand{true, control};
    }
    // Releasing lets go of Control too: "--control" adds nothing there.
    if (action == "release") {
        return KeyCommand{false, control};
    }
    return std::nullopt;
}

}  // namespace larkspire::linux_desktop

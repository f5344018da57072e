#pragma once

#include <optional>
#include <string>
#include <vector>

namespace larkspire::linux_desktop {

// A transition of the dictation key handed to the running agent on the command line:
// the compositor's key bindings run "larkspire --key press" and "larkspire --key release"
// ("--key press --control" for the gesture with Control), since Wayland gives no
// program the keys of another.
struct KeyCommand {
    bool pressed = false;
    bool control = false;

    bool operator==(const KeyCommand&) const = default;

    // Whether the arguments ask for a key command at all (well-formed or not).
    static bool requested(const std::vector<std::string>& arguments);
    // The command the arguments give; absent unless they are exactly a key command.
    static std::optional<KeyCommand> parse(const std::vector<std::string>& arguments);
};

}  // namespace larkspire::linux_desktop

// larkspire-key press|release [--control]: hands a transition of the dictation key to the
// running agent, for the key bindings of a Wayland compositor. Loads no toolkit, so the
// agent hears the key a few milliseconds after the compositor runs the command.
#include <string>
#include <vector>

#include "platform/linux/common/KeyHandOver.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments{"--key"};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    return larkspire::linux_desktop::runKeyCommand("larkspire-key", arguments);
}

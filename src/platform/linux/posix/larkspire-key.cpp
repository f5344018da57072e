// larkspire-key press|release [--control]: hands a transition of the dictation key to the
// running agent, for the key bindings of a Wayland compositor. Loads no toolkit, so the
// agent hears the key a few milliseconds after the compositor runs the command.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/posix/KeyHandOver.h"
#include "platform/linux/wayland/KeyCommand.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments{"--key"};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    if (!larkspire::desktop::KeyCommand::parse(arguments)) {
        std::fputs("larkspire-key: usage: larkspire-key press|release [--control]\n", stderr);
        return 2;
    }
    if (!larkspire::desktop::handToAgent(arguments)) {
        std::fputs("larkspire-key: no running agent took the key: start larkspire first\n", stderr);
        return 1;
    }
    return 0;
}

#include "platform/linux/common/CommandKeyListener.h"

namespace larkspire::linux_desktop {

bool CommandKeyListener::start(Handler) {
    started_ = true;
    return true;
}

void CommandKeyListener::stop() {
    started_ = false;
    held_ = false;
    control_ = false;
}

void CommandKeyListener::handle(const KeyCommand& command) {
    if (!started_ || !handler_) {
        return;
    }
    if (command.pressed) {
        // A binding without --no-repeat repeats the press while the key is held.
        if (held_) {
            return;
        }
        held_ = true;
        control_ = command.control;
        handler_(platform::DictationKeyEvent{true, control_});
        return;
    }
    if (!held_) {
        return;
    }
    held_ = false;
    handler_(platform::DictationKeyEvent{false, control_});
    control_ = false;
}

}  // namespace larkspire::linux_desktop

#include "platform/linux/wayland/CommandKeyListener.h"

#include <linux/input-event-codes.h>

namespace larkspire::desktop {

bool CommandKeyListener::start(Handler handler) {
    handler_ = std::move(handler);
    return true;
}

void CommandKeyListener::stop() {
    handler_ = nullptr;
    heldKey_ = 0;
    heldControl_ = 0;
}

void CommandKeyListener::transition(int inputCode, bool pressed) {
    // Raw events name keys by X keycode: input code + 8.
    handler_(platform::RawKeyEvent{inputCode + 8, pressed});
}

void CommandKeyListener::handle(const KeyCommand& command, int keyInputCode) {
    if (!handler_) {
        return;
    }
    if (command.pressed) {
        // A binding without --no-repeat repeats the press while the key is held.
        if (heldKey_ != 0) {
            return;
        }
        if (command.control) {
            // Either Control key counts, unless it is the dictation key itself.
            heldControl_ = keyInputCode == KEY_LEFTCTRL ? KEY_RIGHTCTRL : KEY_LEFTCTRL;
            transition(heldControl_, true);
        }
        heldKey_ = keyInputCode;
        transition(heldKey_, true);
        return;
    }
    if (heldKey_ == 0) {
        return;
    }
    transition(heldKey_, false);
    heldKey_ = 0;
    if (heldControl_ != 0) {
        transition(heldControl_, false);
        heldControl_ = 0;
    }
}

}  // namespace larkspire::desktop

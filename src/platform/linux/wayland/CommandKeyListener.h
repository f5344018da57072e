#pragma once

#include "platform/KeyListener.h"
#include "platform/linux/posix/KeyCommand.h"

namespace larkspire::desktop {

// The dictation key as the compositor's key bindings report it through key commands
// (wlroots compositors give no client the keys of another): each command becomes the raw
// transitions of the dictation key, and of a Control key for "--control", in the order a
// keyboard would send them. A repeated press, or a release without a press, sends
// nothing. Main thread: commands arrive through the single-instance channel.
class CommandKeyListener : public platform::KeyListener {
  public:
    bool start(Handler handler) override;
    void stop() override;

    // One command, for the dictation key with Linux input code `keyInputCode`.
    void handle(const KeyCommand& command, int keyInputCode);

  private:
    void transition(int inputCode, bool pressed);

    Handler handler_;
    int heldKey_ = 0;      // input code of the key a press made down; 0 when up
    int heldControl_ = 0;  // input code of the Control key that press made down; 0 when none
};

}  // namespace larkspire::desktop

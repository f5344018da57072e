#pragma once

#include "platform/KeyListener.h"
#include "platform/linux/common/KeyCommand.h"

namespace larkspire::linux_desktop {

// The dictation key as the compositor's key bindings report it through key commands
// (wlroots compositors give no client the keys of another). A repeated press, or a
// release without a press, is dropped; a release ends the gesture its press began, with
// or without Control. Main thread: commands arrive through the single-instance channel.
class CommandKeyListener : public platform::KeyListener {
  public:
    bool start(Handler handler) override;
    void stop() override;
    void onDictationKey(DictationKeyHandler handler) override { handler_ = std::move(handler); }

    void handle(const KeyCommand& command);

  private:
    DictationKeyHandler handler_;
    bool started_ = false;
    bool held_ = false;
    bool control_ = false;  // the press that holds the key came with Control
};

}  // namespace larkspire::linux_desktop

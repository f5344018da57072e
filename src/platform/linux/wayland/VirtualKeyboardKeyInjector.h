#pragma once

#include <xkbcommon/xkbcommon.h>

#include <memory>

#include "platform/KeyInjector.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "util/CHandle.h"

struct zwp_virtual_keyboard_v1;

namespace larkspire::linux_desktop {

// Paste chords through one virtual keyboard of the seat (zwp_virtual_keyboard_v1), made
// once for the agent's lifetime: a keyboard made per paste lost its first key, which
// arrived before the compositor had taken its keymap. The keymap is the user's full
// layout (XKB_DEFAULT_RULES, _MODEL, _LAYOUT, _VARIANT, _OPTIONS, else "us"), and the
// keys sent are real evdev codes: with a minimal keymap GTK saw Ctrl+v and did not paste.
// The compositor hears the user's own keys, so heldModifiers() knows none. Main thread.
class VirtualKeyboardKeyInjector : public platform::KeyInjector {
  public:
    explicit VirtualKeyboardKeyInjector(WaylandConnection& connection);
    ~VirtualKeyboardKeyInjector() override;

    // False when the keyboard could not be made (no keymap for the layout).
    bool available() const { return keyboard_ != nullptr; }

    std::vector<int> heldModifiers() override { return {}; }
    void release(const std::vector<int>&) override {}
    bool sendChord(const std::vector<platform::ChordKey>& keys) override;
    void tapBlankKey() override;

  private:
    // The key of the layout that types `key`'s symbol at its first level, as an X keycode
    // (evdev code + 8); the US key when the layout has none.
    xkb_keycode_t keycodeOf(platform::ChordKey key) const;
    void send(xkb_keycode_t keycode, bool pressed);

    WaylandConnection& connection_;
    CHandle<xkb_context, xkb_context_unref> context_;
    CHandle<xkb_keymap, xkb_keymap_unref> keymap_;
    CHandle<xkb_state, xkb_state_unref> state_;
    struct Destroy {
        void operator()(zwp_virtual_keyboard_v1* keyboard) const;
    };
    std::unique_ptr<zwp_virtual_keyboard_v1, Destroy> keyboard_;
    xkb_keycode_t blankKeycode_ = 0;
};

}  // namespace larkspire::linux_desktop

#pragma once

#include <functional>
#include <string>
#include <vector>

namespace larkspire::platform {

// Keys of the chords the agent sends; the injector maps them to the keys of the
// active layout. `plus` is the key that carries "+" (Shift+= on a US layout).
enum class ChordKey { control, shift, insert, v, y, z, r, o, plus };

// Synthetic keyboard input into the desktop session.
class KeyInjector {
  public:
    virtual ~KeyInjector() = default;
    // Modifier keys (Shift, Control, Alt, AltGr, Super) held right now, as key codes.
    virtual std::vector<int> heldModifiers() = 0;
    // Releases the given held keys, without pressing anything.
    virtual void release(const std::vector<int>& keycodes) = 0;
    // Presses the keys in order, then releases them in reverse order. False when no key
    // went out: the keyboard is gone (no display, the desktop closed its session).
    virtual bool sendChord(const std::vector<ChordKey>& keys) = 0;
    // Presses and releases a key that carries no symbol in the active layout: the
    // application in front sees a key between the press and release of held modifiers,
    // so a held Alt or Super is no longer a lone tap, and nothing is typed.
    virtual void tapBlankKey() = 0;
    // Why keys cannot be sent, as a sentence for the user (the desktop's dialog declined
    // the keyboard for pasting); empty when they can, as far as is known.
    virtual std::string unavailableReason() const { return {}; }
    // Where the desktop asks the user first, `handler` runs on the main thread whenever
    // unavailableReason() changes.
    virtual void onChange(std::function<void()> handler) { (void)handler; }
};

}  // namespace larkspire::platform

#pragma once

#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/FrontmostApp.h"
#include "platform/KeyInjector.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire {

// The desktop services text insertion works through.
struct InsertionServices {
    platform::Clipboard& clipboard;
    platform::KeyInjector& keys;
    platform::FrontmostApp& frontmost;
    platform::Accessibility& accessibility;
    platform::Scheduler& scheduler;
    const platform::Clock& clock;
};

// Pastes through the clipboard and a synthetic paste chord; undoes with Ctrl+Z. Holds no
// state beyond its services; delayed steps go quiet once it is destroyed. Main thread.
class Paster {
  public:
    // The chord follows the clipboard write after this delay.
    static constexpr platform::Duration kChordDelay{0.12};
    // How long the chord waits for the user to let go of modifiers, and how often it looks.
    static constexpr platform::Duration kModifierWait{1.0};
    static constexpr platform::Duration kModifierPoll{0.02};

    explicit Paster(InsertionServices services);

    // Puts `text` on the clipboard now and sends the paste chord to the window in front
    // 0.12 s later: Ctrl+V, or Ctrl+Shift+V into a terminal emulator.
    void paste(const std::string& text);
    // Sends Ctrl+Z to the window in front now, unless it is a terminal emulator.
    void undo();

    const InsertionServices& services() const { return s_; }
    // Runs `task` on the main queue after `delay` while this Paster exists.
    void after(platform::Duration delay, platform::Task task);

  private:
    enum class Chord { paste, undo };
    // The target must see exactly the chord: wait (bounded) until no modifier is held,
    // then release what is still held (never re-pressed: that can leave a key stuck).
    void sendWhenFree(Chord chord, platform::TimePoint deadline);
    void send(Chord chord);

    InsertionServices s_;
    Lifetime lifetime_;
};

}  // namespace larkspire

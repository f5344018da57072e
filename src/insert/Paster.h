#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "insert/PasteMethod.h"
#include "platform/Accessibility.h"
#include "platform/Clipboard.h"
#include "platform/Clock.h"
#include "platform/FrontmostApp.h"
#include "platform/KeyInjector.h"
#include "platform/Scheduler.h"
#include "platform/SystemLog.h"
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
    platform::SystemLog& log;
};

// What a paste does first when its turn comes: bring the target to the front, then
// `delay` later put its focus back; the clipboard is written right after.
struct PastePrelude {
    platform::Task bringToFront;
    platform::Duration delay{0};
    platform::Task restoreFocus;
};

// Pastes through the clipboard and the paste chord of the application in front; undoes
// with its undo chord. Pastes never overtake each other: each owns the clipboard from its
// write until its chord has been delivered and the target has had time to read it; a
// later paste waits in a queue, so every text arrives once, in the order it was given.
// Delayed steps go quiet once the Paster is destroyed. Main thread.
class Paster {
  public:
    // The chord follows the clipboard write after this delay.
    static constexpr platform::Duration kChordDelay{0.12};
    // How long the chord waits for the user to let go of modifiers, and how often it looks.
    static constexpr platform::Duration kModifierWait{1.0};
    static constexpr platform::Duration kModifierPoll{0.02};
    // After its chord a paste keeps the clipboard this long: the target asks for the text
    // only once it has handled the chord, and a write before that would hand it the next
    // paste's text.
    static constexpr platform::Duration kClipboardHold{0.5};

    // Told when the paste's turn ends: whether its chord was sent (when not, the text is
    // only on the clipboard), and whether an undo chord can take the paste back.
    using Pasted = std::function<void(bool sent, bool undoable)>;
    // Told whether an undo chord was sent.
    using Undone = std::function<void(bool sent)>;
    using Prelude = PastePrelude;

    explicit Paster(InsertionServices services);

    // Queues a paste of `text` into the window in front when its turn comes: on the
    // clipboard (and PRIMARY where the chord reads it), then the application's paste
    // chord 0.12 s later.
    void paste(const std::string& text, Pasted pasted = {}, Prelude prelude = {});
    // Sends the undo chord of the window in front now, where it has one.
    void undo(Undone undone = {});
    // Pastes given and not yet finished, the current one included.
    size_t pending() const { return queue_.size(); }
    // Whether a paste chord went to a window of `pid` after `since`.
    bool deliveredInto(platform::ProcessId pid, platform::TimePoint since) const;

    const InsertionServices& services() const { return s_; }
    // Runs `task` on the main queue after `delay` while this Paster exists.
    void after(platform::Duration delay, platform::Task task);

  private:
    struct Job {
        std::string text;
        Pasted pasted;
        Prelude prelude;
        bool primaryOffered = false;
    };
    void startNext();
    void write();
    void sendPasteChord();
    void finish();
    // The target must see exactly the chord: wait (bounded) until no modifier is held,
    // then release what is still held (never re-pressed: that can leave a key stuck).
    void whenModifiersFree(platform::TimePoint deadline, platform::Task then);
    platform::TimePoint modifierDeadline() const;

    InsertionServices s_;
    std::deque<Job> queue_;
    std::vector<Undone> undoAfterPastes_;
    std::map<platform::ProcessId, platform::TimePoint> lastDelivery_;
    bool running_ = false;
    Lifetime lifetime_;
};

}  // namespace larkspire

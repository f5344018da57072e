#pragma once

#include <deque>
#include <mutex>

#include "platform/Clock.h"

namespace larkspire {

// The key events the agent itself injected and has not heard back yet. The injector
// writes each one just before sending it; the key monitor claims synthetic events that
// match, so the agent's own paste chord never reads as a gesture while keys injected
// by anyone else still count. Thread-safe.
class InjectionJournal {
  public:
    // An entry not heard back within `maxAge` (the server may drop a release of a key
    // that is not down) is forgotten.
    explicit InjectionJournal(const platform::Clock& clock,
                              platform::Seconds maxAge = platform::Seconds(1.0));

    void record(int keycode, bool pressed);
    // True when the event is the oldest matching entry still pending; that entry and
    // the older ones (events that never came back) are removed.
    bool claim(int keycode, bool pressed);
    size_t pending() const;

  private:
    struct Entry {
        int keycode;
        bool pressed;
        platform::TimePoint at;
    };
    void forgetOld(platform::TimePoint now);

    const platform::Clock& clock_;
    platform::Seconds maxAge_;
    mutable std::mutex mutex_;
    std::deque<Entry> entries_;
};

}  // namespace larkspire

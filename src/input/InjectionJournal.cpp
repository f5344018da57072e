#include "input/InjectionJournal.h"

#include <algorithm>

namespace larkspire {

InjectionJournal::InjectionJournal(const platform::Clock& clock, platform::Seconds maxAge)
    : clock_(clock), maxAge_(maxAge) {}

void InjectionJournal::record(int keycode, bool pressed) {
    const auto now = clock_.now();
    std::lock_guard lock(mutex_);
    forgetOld(now);
    entries_.push_back(Entry{keycode, pressed, now});
}

bool InjectionJournal::claim(int keycode, bool pressed) {
    const auto now = clock_.now();
    std::lock_guard lock(mutex_);
    forgetOld(now);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.keycode == keycode && e.pressed == pressed;
    });
    if (it == entries_.end()) {
        return false;
    }
    entries_.erase(entries_.begin(), it + 1);
    return true;
}

size_t InjectionJournal::pending() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void InjectionJournal::forgetOld(platform::TimePoint now) {
    while (!entries_.empty() &&
           platform::secondsBetween(entries_.front().at, now) > maxAge_.count()) {
        entries_.pop_front();
    }
}

}  // namespace larkspire

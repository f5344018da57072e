#pragma once

#include <functional>
#include <optional>
#include <set>

#include "input/FnKey.h"
#include "input/InjectionJournal.h"
#include "platform/KeyInjector.h"
#include "platform/KeyListener.h"
#include "platform/Scheduler.h"
#include "util/Lifetime.h"

namespace larkspire {

// Turns the Fn key, alone or with Control, into gesture callbacks: a dictation gesture
// (Fn alone), a contextual gesture (Control+Fn), and an upgrade request when Control
// joins a held Fn. It consumes nothing; its one key of its own is a blank tap when a
// modifier playing Fn goes down, so that the application in front never sees a lone Alt
// or Super tap (Firefox, GTK and KDE applications open their menu bar on one). Main
// thread only; events reach it through the scheduler's main queue in arrival order.
class FnKeyMonitor {
  public:
    enum class ActiveGesture { dictation, contextual };

    FnKeyMonitor(platform::KeyListener& listener, platform::Scheduler& scheduler,
                 InjectionJournal& ownInjections, platform::KeyInjector& keys);
    ~FnKeyMonitor();
    FnKeyMonitor(const FnKeyMonitor&) = delete;
    FnKeyMonitor& operator=(const FnKeyMonitor&) = delete;

    // Callback slots; an empty slot is skipped and the state still moves.
    std::function<void()> onFnDown;
    std::function<void()> onFnUp;
    std::function<void()> onContextDown;
    std::function<void()> onContextUp;
    std::function<bool()> onContextUpgrade;
    // A key that types, or a mouse button (a click or drag with the key held), was
    // pressed while the Fn key was held alone: the chord ends the dictation gesture, which
    // must be dropped like a lone tap without counting as a quick tap. The Fn key's
    // release then calls nothing.
    std::function<void()> onChordCancel;
    // The listener's availability or assigned key changed after start() returned (a
    // desktop that asks the user first answers later).
    std::function<void()> onListenerChange;

    // The physical key that plays Fn; set before start().
    void setFnKey(const FnKey& key) { fnKey_ = key; }
    const FnKey& fnKey() const { return fnKey_; }

    // Starts listening; false when the desktop offers no system-wide key events.
    bool start();
    // Why start() failed, as a sentence for the user; empty when it did not.
    std::string unavailableReason() const { return listener_.unavailableReason(); }
    bool hearsKeys() const { return listener_.hearsKeys(); }
    // The key the desktop assigned to dictation, where it chooses; empty otherwise.
    std::string assignedKey() const { return listener_.assignedKey(); }

    // The gesture state machine over the Fn and Control states after each change.
    void handleFlags(bool fnDown, bool control);
    // The dictation key as a desktop that hears it for the agent reports it.
    void handleDictationKey(const platform::DictationKeyEvent& event);
    // One raw key or button transition: tracks the Fn and Control keys, detects chords,
    // and drops the agent's own injected events.
    void handleKey(const platform::RawKeyEvent& event);

    bool fnIsDown() const { return fnIsDown_; }
    bool controlIsDown() const { return controlIsDown_; }
    std::optional<ActiveGesture> activeGesture() const { return activeGesture_; }

  private:
    static void call(const std::function<void()>& f) {
        if (f) {
            f();
        }
    }
    bool isControlKey(int keycode) const;
    void cancelByChord();

    platform::KeyListener& listener_;
    platform::Scheduler& scheduler_;
    InjectionJournal& ownInjections_;
    platform::KeyInjector& keys_;
    FnKey fnKey_;
    bool started_ = false;

    bool fnIsDown_ = false;
    bool controlIsDown_ = false;
    std::optional<ActiveGesture> activeGesture_;

    // Raw events carry no modifier state: the keys held, as heard.
    bool fnKeyHeld_ = false;
    std::set<int> controlsHeld_;

    Lifetime lifetime_;
};

}  // namespace larkspire

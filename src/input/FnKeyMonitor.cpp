#include "input/FnKeyMonitor.h"

#include <linux/input-event-codes.h>

#include <algorithm>
#include <array>

namespace larkspire {
namespace {

using platform::xKeycodeOf;

// Keys that change what other keys type but type nothing themselves: pressing one while
// Fn is held is no chord.
constexpr std::array kModifierKeys{
    xKeycodeOf(KEY_LEFTSHIFT), xKeycodeOf(KEY_RIGHTSHIFT), xKeycodeOf(KEY_LEFTCTRL),
    xKeycodeOf(KEY_RIGHTCTRL), xKeycodeOf(KEY_LEFTALT),    xKeycodeOf(KEY_RIGHTALT),
    xKeycodeOf(KEY_LEFTMETA),  xKeycodeOf(KEY_RIGHTMETA),  xKeycodeOf(KEY_CAPSLOCK),
    xKeycodeOf(KEY_NUMLOCK),
};

bool isModifierKey(int keycode) {
    return std::find(kModifierKeys.begin(), kModifierKeys.end(), keycode) != kModifierKeys.end();
}

// Buttons 4 to 7 are the wheel: scrolling while dictating reads, it does not click.
bool isClickButton(int button) {
    return button < 4 || button > 7;
}

}  // namespace

FnKeyMonitor::FnKeyMonitor(platform::KeyListener& listener, platform::Scheduler& scheduler,
                           InjectionJournal& ownInjections, platform::KeyInjector& keys)
    : listener_(listener), scheduler_(scheduler), ownInjections_(ownInjections), keys_(keys) {}

FnKeyMonitor::~FnKeyMonitor() {
    if (started_) {
        listener_.stop();
    }
}

bool FnKeyMonitor::start() {
    if (started_) {
        return true;
    }
    // The listener calls from its own thread: hand each event to the main queue, where
    // a gone monitor makes it a no-op.
    auto deliver = lifetime_.guard([this](const platform::RawKeyEvent& e) { handleKey(e); });
    listener_.onChange(lifetime_.guard([this] { call(onListenerChange); }));
    auto dictationKey =
        lifetime_.guard([this](const platform::DictationKeyEvent& e) { handleDictationKey(e); });
    listener_.onDictationKey(
        [&scheduler = scheduler_, dictationKey](const platform::DictationKeyEvent& e) {
            scheduler.post([dictationKey, e] { dictationKey(e); });
        });
    started_ = listener_.start([&scheduler = scheduler_, deliver](const platform::RawKeyEvent& e) {
        scheduler.post([deliver, e] { deliver(e); });
    });
    return started_;
}

bool FnKeyMonitor::isControlKey(int keycode) const {
    const int fnKeycode = xKeycodeOf(fnKey_.inputCode);
    return keycode != fnKeycode &&
           (keycode == xKeycodeOf(KEY_LEFTCTRL) || keycode == xKeycodeOf(KEY_RIGHTCTRL));
}

void FnKeyMonitor::handleDictationKey(const platform::DictationKeyEvent& event) {
    // Control counts only with the key: a release ends the gesture whatever came with it.
    handleFlags(event.pressed, event.pressed && event.control);
}

void FnKeyMonitor::handleKey(const platform::RawKeyEvent& event) {
    if (event.button) {
        if (event.pressed && isClickButton(event.keycode)) {
            cancelByChord();
        }
        return;
    }
    if (event.synthetic && ownInjections_.claim(event.keycode, event.pressed)) {
        return;
    }
    if (event.keycode == xKeycodeOf(fnKey_.inputCode)) {
        if (event.pressed && !fnKeyHeld_ && isModifierKey(event.keycode)) {
            // Before anything slower: the tap must reach the application while the key
            // is still down, even for a quick tap.
            keys_.tapBlankKey();
        }
        fnKeyHeld_ = event.pressed;
    } else if (isControlKey(event.keycode)) {
        if (event.pressed) {
            controlsHeld_.insert(event.keycode);
        } else {
            controlsHeld_.erase(event.keycode);
        }
    } else if (!isModifierKey(event.keycode)) {
        // A key that types, pressed while the Fn key alone holds a dictation gesture, is a
        // keyboard chord (AltGr characters).
        if (event.pressed) {
            cancelByChord();
        }
        return;
    }
    handleFlags(fnKeyHeld_, !controlsHeld_.empty());
}

void FnKeyMonitor::cancelByChord() {
    if (fnIsDown_ && !controlIsDown_ && activeGesture_ == ActiveGesture::dictation) {
        activeGesture_.reset();
        call(onChordCancel);
    }
}

void FnKeyMonitor::handleFlags(bool fnDown, bool control) {
    const bool wasFn = fnIsDown_;
    if (fnDown && control) {
        const bool wasControl = controlIsDown_;
        fnIsDown_ = true;
        controlIsDown_ = true;
        if (!wasFn) {
            activeGesture_ = ActiveGesture::contextual;
            call(onContextDown);
            return;
        }
        if (wasControl || activeGesture_ != ActiveGesture::dictation) {
            return;
        }
        if (onContextUpgrade && onContextUpgrade()) {
            activeGesture_ = ActiveGesture::contextual;
        }
        return;
    }
    if (fnDown) {
        fnIsDown_ = true;
        controlIsDown_ = false;
        if (wasFn) {
            return;
        }
        activeGesture_ = ActiveGesture::dictation;
        call(onFnDown);
        return;
    }
    fnIsDown_ = false;
    controlIsDown_ = control;
    if (!wasFn) {
        return;
    }
    if (activeGesture_ == ActiveGesture::contextual) {
        call(onContextUp);
    } else if (activeGesture_ == ActiveGesture::dictation) {
        call(onFnUp);
    }
    activeGesture_.reset();
}

}  // namespace larkspire

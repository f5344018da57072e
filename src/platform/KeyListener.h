#pragma once

#include <functional>
#include <string>

namespace larkspire::platform {

// X keycodes, which raw events carry, are Linux input codes + 8.
constexpr int xKeycodeOf(int inputCode) {
    return inputCode + 8;
}
constexpr int inputCodeOf(int xKeycode) {
    return xKeycode - 8;
}

// One raw key transition heard system-wide. Raw events carry no modifier state, so the
// listener of these events tracks what is held itself.
struct RawKeyEvent {
    int keycode = 0;  // X keycode (Linux input code + 8)
    bool pressed = false;
    // The event came from the server's synthetic-input (XTest) device: injected by some
    // program, possibly this one.
    bool synthetic = false;
    // A pointer button rather than a key; `keycode` is then the button number.
    bool button = false;

    bool operator==(const RawKeyEvent&) const = default;
};

// The dictation key as reported by a desktop that hears it for the agent (its shortcut
// portal, a compositor's key bindings): down or up, and whether Control goes with it.
// Other keys are not heard then.
struct DictationKeyEvent {
    bool pressed = false;
    bool control = false;

    bool operator==(const DictationKeyEvent&) const = default;
};

// A listen-only source of every key press and release of the desktop session. It never
// grabs, consumes or alters an event.
class KeyListener {
  public:
    using Handler = std::function<void(const RawKeyEvent&)>;
    using DictationKeyHandler = std::function<void(const DictationKeyEvent&)>;

    virtual ~KeyListener() = default;
    // Starts delivering events to `handler`, in arrival order, on a thread of the
    // listener's choosing. False (with the reason logged) when the session offers no
    // system-wide key events; nothing is delivered then.
    virtual bool start(Handler handler) = 0;
    // Stops delivery; no call of the handler is running or will start once it returns.
    virtual void stop() = 0;
    // Why the last start() failed, as a sentence for the user ("There is no X display.");
    // empty when it did not fail.
    virtual std::string unavailableReason() const { return {}; }
    // Whether key events are heard now: false after a failed start, and where the desktop
    // asks the user, until it granted the shortcut and again once it refused it.
    virtual bool hearsKeys() const { return unavailableReason().empty(); }

    // Where the desktop asks the user before it hands over keys, start() returns before
    // the answer: `handler` runs on the main thread whenever unavailableReason() or
    // assignedKey() changes after that.
    virtual void onChange(std::function<void()> handler) { (void)handler; }
    // Where the desktop hears the dictation key itself, its transitions go to `handler`,
    // on the main thread, instead of raw key events; set before start().
    virtual void onDictationKey(DictationKeyHandler handler) { (void)handler; }
    // The key the desktop assigned to dictation, in its own words ("Ctrl+Alt+D"), where
    // the desktop rather than the agent chooses it; empty otherwise.
    virtual std::string assignedKey() const { return {}; }
};

}  // namespace larkspire::platform

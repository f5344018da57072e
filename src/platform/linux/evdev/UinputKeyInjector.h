#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/KeyInjector.h"
#include "util/FileIO.h"

namespace larkspire::linux_desktop {

// Synthetic keys through a virtual keyboard the kernel makes (uinput), made once for the
// agent's lifetime and seen by every session, Wayland included. Keys are sent as evdev
// codes, which name positions on a US keyboard, not symbols: the desktop applies the
// user's layout to them, so on a layout where V is elsewhere (Dvorak) the chord Ctrl+V
// is not Ctrl+V. `beforeSend` hears of every key event just before it is sent, as an X
// keycode (the agent records it, so that its key monitor knows the event for its own).
// Main thread.
class UinputKeyInjector : public platform::KeyInjector {
  public:
    using SendObserver = std::function<void(int keycode, bool pressed)>;
    // The name of the virtual keyboard, by which EvdevKeyListener knows its events.
    static constexpr const char* deviceName = "Larkspire virtual keyboard";

    // Makes the keyboard through the first of `nodes` that exists. A key sent within 1 s
    // of that waits for the rest of the second, until the desktop has opened the keyboard.
    explicit UinputKeyInjector(SendObserver beforeSend,
                               const std::vector<std::filesystem::path>& nodes = {
                                   "/dev/uinput", "/dev/input/uinput"});
    // Writes the events to `events`, which it owns: a keyboard already made, or any
    // descriptor that takes input_event records.
    UinputKeyInjector(SendObserver beforeSend, int events);

    bool available() const { return device_.has_value(); }
    // Why the keyboard could not be made, as a sentence for the user; empty when it was.
    std::string unavailableReason() const { return reason_; }

    // A virtual keyboard knows only its own keys: the user's are on other devices, so
    // what they hold is not known here.
    std::vector<int> heldModifiers() override { return {}; }
    // Releases what this keyboard holds. A key held on the user's keyboard is expected to
    // stay down: X and libinput keep the keys of each device apart.
    void release(const std::vector<int>& keycodes) override;
    bool sendChord(const std::vector<platform::ChordKey>& keys) override;
    void tapBlankKey() override;

  private:
    // Sends key transitions, each followed by its report, as one write.
    bool send(const std::vector<std::pair<int, bool>>& transitions);

    SendObserver beforeSend_;
    std::optional<fileio::FileDescriptor> device_;
    std::chrono::steady_clock::time_point readyAt_;
    std::string reason_;
};

}  // namespace larkspire::linux_desktop

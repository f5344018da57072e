#include "insert/Paster.h"

#include "insert/TerminalEmulators.h"

namespace larkspire {

using platform::ChordKey;

Paster::Paster(InsertionServices services) : s_(services) {}

void Paster::after(platform::Duration delay, platform::Task task) {
    s_.scheduler.postAfter(delay, lifetime_.guard(std::move(task)));
}

void Paster::paste(const std::string& text) {
    s_.clipboard.setText(text);
    after(kChordDelay, [this] {
        sendWhenFree(Chord::paste,
                     s_.clock.now() +
                         std::chrono::duration_cast<platform::TimePoint::duration>(kModifierWait));
    });
}

void Paster::undo() {
    sendWhenFree(
        Chord::undo,
        s_.clock.now() + std::chrono::duration_cast<platform::TimePoint::duration>(kModifierWait));
}

void Paster::sendWhenFree(Chord chord, platform::TimePoint deadline) {
    auto held = s_.keys.heldModifiers();
    if (!held.empty() && s_.clock.now() < deadline) {
        after(kModifierPoll, [this, chord, deadline] { sendWhenFree(chord, deadline); });
        return;
    }
    if (!held.empty()) {
        s_.keys.release(held);
    }
    send(chord);
}

void Paster::send(Chord chord) {
    // Decided where the keys go now: after re-activation that is the target.
    const auto front = s_.frontmost.frontmost();
    const bool terminal = front && isTerminalEmulator(*front);
    if (chord == Chord::undo) {
        if (!terminal) {
            s_.keys.sendChord({ChordKey::control, ChordKey::z});
        }
        return;
    }
    if (terminal) {
        s_.keys.sendChord({ChordKey::control, ChordKey::shift, ChordKey::v});
    } else {
        s_.keys.sendChord({ChordKey::control, ChordKey::v});
    }
}

}  // namespace larkspire

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"
#include "platform/KeyInjector.h"

namespace larkspire {

using Chord = std::vector<platform::ChordKey>;

// How text gets into one kind of application: the chords that paste there, one after the
// other (one for all but gVim), whether they read PRIMARY rather than CLIPBOARD, and the
// chord that undoes it (absent where no chord undoes safely: Ctrl+Z suspends a terminal's
// job and iconifies gVim and Emacs).
struct PasteMethod {
    std::vector<Chord> paste;
    bool offerPrimary = false;
    std::optional<std::vector<platform::ChordKey>> undo;

    bool operator==(const PasteMethod&) const = default;

    // The method for a window, from its WM_CLASS (class or instance) and its process name:
    // Ctrl+V and Ctrl+Z unless the application is known to bind them otherwise; an
    // unlisted terminal emulator (a name with "term" in it) gets Ctrl+Shift+V.
    static PasteMethod forWindow(const platform::FrontWindow& window);
};

// "Ctrl+Shift+V": a chord as the log names it; chords in turn are named one after the
// other ("Ctrl+R, Ctrl+O, Shift+Plus").
std::string chordName(const Chord& keys);
std::string chordName(const std::vector<Chord>& chords);

}  // namespace larkspire

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"
#include "platform/KeyInjector.h"

namespace larkspire {

// How text gets into one kind of application: the chord that pastes there, whether the
// chord reads PRIMARY rather than CLIPBOARD, and the chord that undoes it (absent where
// no chord undoes safely: Ctrl+Z suspends a terminal's job and iconifies gVim and
// Emacs).
struct PasteMethod {
    std::vector<platform::ChordKey> paste;
    bool offerPrimary = false;
    std::optional<std::vector<platform::ChordKey>> undo;

    bool operator==(const PasteMethod&) const = default;

    // The method for a window, from its WM_CLASS (class or instance) and its process name:
    // Ctrl+V and Ctrl+Z unless the application is known to bind them otherwise; an
    // unlisted terminal emulator (a name with "term" in it) gets Ctrl+Shift+V.
    static PasteMethod forWindow(const platform::FrontWindow& window);
};

// "Ctrl+Shift+V": a chord as the log names it.
std::string chordName(const std::vector<platform::ChordKey>& keys);

}  // namespace larkspire

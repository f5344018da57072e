#pragma once

#include <memory>
#include <optional>
#include <string>

#include "insert/Paster.h"
#include "platform/Accessibility.h"
#include "platform/FrontmostApp.h"

namespace larkspire {

// Brings `window` back to the front, or, when it is gone, another window of process `pid`
// (none when `pid` is 0).
void activateWindowOf(platform::FrontmostApp& frontmost, platform::WindowId window,
                      platform::ProcessId pid);

// Where text is to go: the frontmost application and window when recording began, its
// focused element and the selection in it. A value; copies share the element handle.
struct InsertionTarget {
    // Focus and selection are put back this long after the window is re-activated.
    static constexpr platform::Duration kRestoreDelay{0.2};

    platform::ProcessId processIdentifier = 0;
    bool isSecure = false;
    std::shared_ptr<platform::AccessibleElement> focusedElement;
    std::optional<platform::TextRange> selectedRange;
    // One process often owns many windows: the one that was in front.
    platform::FrontWindow window;
    // When it was captured. A paste delivered into the same process after that (an
    // earlier dictation whose text came back meanwhile) left the caret after its text:
    // focus and selection are then not put back, so the texts follow each other.
    platform::TimePoint capturedAt = platform::distantPast();

    // The window in front now and its focus; absent only when no window is in front. When
    // the agent's own window is in front, the last other application window stands in
    // for it; the agent's own process is never asked through accessibility.
    static std::optional<InsertionTarget> capture(platform::FrontmostApp& frontmost,
                                                  platform::Accessibility& accessibility);

    // When the paste's turn comes in the Paster's queue: re-activates the window (or,
    // when it is gone, another of the process), puts focus and selection back 0.2 s later
    // and pastes `text` there.
    void paste(const std::string& text, Paster& paster, Paster::Pasted pasted = {}) const;
};

}  // namespace larkspire

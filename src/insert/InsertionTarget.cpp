#include "insert/InsertionTarget.h"

#include <algorithm>
#include <cctype>

namespace larkspire {
namespace {

bool containsSecure(std::string subrole) {
    std::transform(subrole.begin(), subrole.end(), subrole.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return subrole.find("secure") != std::string::npos;
}

}  // namespace

std::optional<InsertionTarget> InsertionTarget::capture(platform::FrontmostApp& frontmost,
                                                        platform::Accessibility& accessibility) {
    auto front = frontmost.frontmost();
    if (!front) {
        return std::nullopt;
    }
    InsertionTarget target;
    target.processIdentifier = front->processIdentifier;
    if (front->processIdentifier > 0 && frontmost.isAgentProcess(front->processIdentifier)) {
        // The agent's own window (the fallback menu, sign-in, the workspace) took the front to
        // start this: the text is for the application the user was in before.
        // With no other window, there is nothing to write into: no target, never the
        // agent's own window.
        front = frontmost.lastWindowNotOf(frontmost.ownProcess());
        if (!front) {
            return std::nullopt;
        }
    }
    target.processIdentifier = front->processIdentifier;
    target.window = *front;
    if (front->processIdentifier <= 0) {
        return target;
    }
    target.focusedElement = accessibility.focusedElement(front->processIdentifier);
    if (!target.focusedElement) {
        return target;
    }
    const std::string role = target.focusedElement->role();
    target.isSecure = role == "AXTextField" && containsSecure(target.focusedElement->subrole());
    target.selectedRange = target.focusedElement->selectedTextRange();
    return target;
}

void activateWindowOf(platform::FrontmostApp& frontmost, platform::WindowId window,
                      platform::ProcessId pid) {
    if (frontmost.activate(window) || pid <= 0) {
        return;
    }
    if (auto other = frontmost.windowOf(pid)) {
        frontmost.activate(*other);
    }
}

void InsertionTarget::paste(const std::string& text, Paster& paster, Paster::Pasted pasted) const {
    auto& frontmost = paster.services().frontmost;
    Paster::Prelude prelude;
    prelude.bringToFront = [&frontmost, window = window.window, pid = processIdentifier] {
        activateWindowOf(frontmost, window, pid);
    };
    prelude.delay = kRestoreDelay;
    prelude.restoreFocus = [&paster, element = focusedElement, range = selectedRange,
                            pid = processIdentifier, since = capturedAt] {
        if (element && !paster.deliveredInto(pid, since)) {
            element->focus();
            if (range) {
                element->setSelectedTextRange(*range);
            }
        }
    };
    paster.paste(text, std::move(pasted), std::move(prelude));
}

}  // namespace larkspire

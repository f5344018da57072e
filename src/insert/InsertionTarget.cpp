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
    target.window = *front;
    if (front->processIdentifier <= 0 || front->processIdentifier == frontmost.ownProcess()) {
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

void InsertionTarget::paste(const std::string& text, Paster& paster) const {
    auto& frontmost = paster.services().frontmost;
    if (!frontmost.activate(window.window) && processIdentifier > 0) {
        if (auto other = frontmost.windowOf(processIdentifier)) {
            frontmost.activate(*other);
        }
    }
    paster.after(kRestoreDelay, [target = *this, text, &paster] {
        if (target.focusedElement) {
            target.focusedElement->focus();
            if (target.selectedRange) {
                target.focusedElement->setSelectedTextRange(*target.selectedRange);
            }
        }
        paster.paste(text);
    });
}

}  // namespace larkspire

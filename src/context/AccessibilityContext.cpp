#include "context/AccessibilityContext.h"

#include <array>
#include <deque>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "context/Redaction.h"
#include "util/Text.h"

namespace larkspire {
namespace {

// Only elements of these roles contribute window text.
constexpr std::array<std::string_view, 9> kTextBearingRoles{
    "AXStaticText", "AXTextArea", "AXTextField", "AXButton", "AXLink",
    "AXHeading",    "AXGroup",    "AXListItem",  "AXCell",
};

bool isTextBearing(const std::string& role) {
    for (auto r : kTextBearingRoles) {
        if (r == role) {
            return true;
        }
    }
    return false;
}

// A password field: the role is "AXTextField" and the subrole says "secure" in any case.
bool isSecureField(const std::string& role, const std::string& subrole) {
    return role == "AXTextField" && text::lowercased(subrole).find("secure") != std::string::npos;
}

std::string cut(const std::string& s, std::size_t limit) {
    return text::prefixCharacters(s, limit);
}

}  // namespace

std::optional<AccessibilityContext> AccessibilityContext::capture(
    const Config& config, const std::optional<platform::FrontWindow>& front, Services s) {
    const ReadDeadline deadline{
        &s.clock,
        s.clock.now() + std::chrono::duration_cast<platform::TimePoint::duration>(kCaptureBudget)};
    AccessibilityContext c;
    c.application = front && !front->applicationName.empty() ? front->applicationName : "Unknown";
    if (config.excludesContext(c.application)) {
        return std::nullopt;
    }
    c.textOnly = config.requiresTextOnlyContext(c.application);
    if (!front) {
        return c;
    }
    c.window = front->window;
    c.processIdentifier = front->processIdentifier;
    if (c.processIdentifier <= 0) {
        return c;
    }

    // The focused element's role is read whatever the time: a password field is refused
    // however slow the application answers.
    auto focused = s.accessibility.focusedElement(c.processIdentifier);
    std::string subrole;
    if (focused) {
        c.role = cut(focused->role(), kNameLimit);
        subrole = cut(focused->subrole(), kNameLimit);
    }
    if (isSecureField(c.role, subrole)) {
        return std::nullopt;
    }
    auto window = deadline.passed() ? nullptr : s.accessibility.focusedWindow(c.processIdentifier);
    const bool readable = focused != nullptr;
    if (readable && !deadline.passed()) {
        c.surroundingText = redaction::redact(cut(focused->value(kFieldLimit), kFieldLimit));
    }
    if (window && !deadline.passed()) {
        c.windowTitle = cut(window->title(), kNameLimit);
    }
    if (readable && !deadline.passed()) {
        c.selectedText =
            redaction::redact(cut(focused->selectedText(kSelectionLimit), kSelectionLimit));
    }
    c.windowText = collectWindowText(window, c.surroundingText, deadline);
    if (readable && !deadline.passed()) {
        c.selectedRange = range(focused.get());
    }
    c.focusedElement = std::move(focused);
    return c;
}

std::string AccessibilityContext::collectWindowText(
    const std::shared_ptr<platform::AccessibleElement>& window, const std::string& excluding,
    ReadDeadline deadline) {
    if (!window) {
        return {};
    }
    struct Entry {
        std::shared_ptr<platform::AccessibleElement> element;
        std::size_t depth;
    };
    // Breadth-first: entries past the kElementLimit-th are never visited, so children are
    // read only while the queue is shorter than that.
    std::deque<Entry> queue{{window, 0}};
    std::unordered_set<std::string> taken;
    std::string joined;
    std::size_t total = 0;
    std::size_t visited = 0;
    std::size_t queued = 1;
    while (!queue.empty() && !deadline.passed()) {
        Entry entry = std::move(queue.front());
        queue.pop_front();
        ++visited;
        auto& element = *entry.element;
        const std::string role = cut(element.role(), kNameLimit);
        const std::string subrole = cut(element.subrole(), kNameLimit);
        if (!isSecureField(role, subrole) && isTextBearing(role)) {
            for (int attribute = 0; attribute < 3 && total < kWindowTextLimit; ++attribute) {
                if (deadline.passed()) {
                    break;
                }
                std::string piece = attribute == 0   ? element.value(kAttributeLimit)
                                    : attribute == 1 ? element.title()
                                                     : element.description();
                piece = text::trimmed(cut(piece, kAttributeLimit));
                if (!piece.empty()) {
                    piece = redaction::redact(piece);
                }
                const std::size_t length = text::characterCount(piece);
                if (length < 2 || piece == excluding || taken.contains(piece)) {
                    continue;
                }
                if (!joined.empty()) {
                    joined += '\n';
                }
                joined += piece;
                total += length;
                taken.insert(std::move(piece));
            }
        }
        if (visited >= kElementLimit || total >= kWindowTextLimit) {
            break;
        }
        if (entry.depth <= kDeepestParent && queued < kElementLimit && !deadline.passed()) {
            for (auto& child : element.children(kElementLimit - queued)) {
                if (child) {
                    queue.push_back({std::move(child), entry.depth + 1});
                    ++queued;
                }
            }
        }
    }
    return cut(joined, kWindowTextLimit);
}

std::optional<platform::TextRange> AccessibilityContext::range(
    platform::AccessibleElement* element) {
    if (!element) {
        return std::nullopt;
    }
    return element->selectedTextRange();
}

void AccessibilityContext::restoreFocus() const {
    if (!focusedElement) {
        return;
    }
    focusedElement->focus();
    if (selectedRange) {
        focusedElement->setSelectedTextRange(*selectedRange);
    }
}

DraftContext AccessibilityContext::draftContext() const {
    return DraftContext{application, windowTitle, role, selectedText, surroundingText, windowText};
}

}  // namespace larkspire

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"

namespace larkspire::platform {

// A selection in a text element, in characters; length 0 is the caret.
struct TextRange {
    std::int64_t location = 0;
    std::int64_t length = 0;

    bool operator==(const TextRange&) const = default;
};

// An element of another application's user interface. Roles use the names the logic
// knows ("AXTextField", "AXTextArea", "AXStaticText", ...); a password entry is an
// "AXTextField" with the subrole "AXSecureTextField". Every read returns what it could
// read: an attribute that is missing, unreadable or not text reads as the empty string.
// Reads are bounded in time by the implementation. Main thread.
class AccessibleElement {
  public:
    virtual ~AccessibleElement() = default;
    virtual std::string role() = 0;
    virtual std::string subrole() = 0;
    // "AXValue": the element's whole text; a numeric value is no text. An implementation
    // may stop reading once it has at least the first `atLeast` user-perceived characters.
    virtual std::string value(std::size_t atLeast) = 0;
    // "AXTitle": the accessible name.
    virtual std::string title() = 0;
    // "AXDescription": the accessible description.
    virtual std::string description() = 0;
    // "AXSelectedText": the selected text, empty at a caret; `atLeast` as for value().
    virtual std::string selectedText(std::size_t atLeast) = 0;
    // The selection, else the caret as an empty range; absent for elements without text.
    virtual std::optional<TextRange> selectedTextRange() = 0;
    // "AXChildren" in order, at most the first `atMost`; none when they cannot be read.
    virtual std::vector<std::shared_ptr<AccessibleElement>> children(std::size_t atMost) = 0;
    // Results of the setters are not reported: the element may be gone.
    virtual void focus() = 0;
    virtual void setSelectedTextRange(TextRange range) = 0;
};

// The desktop's accessibility service. Both lookups answer null for the agent's own
// process, which is never asked (it would block its own main thread).
class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // The focused element of the application of process `pid`; null when it cannot be
    // read. While another application's window is active (the agent's own dialog, say),
    // the element that last had the focus there.
    virtual std::shared_ptr<AccessibleElement> focusedElement(ProcessId pid) = 0;
    // "AXFocusedWindow": the window of process `pid` that holds its focus (the window of
    // its focused element, else its active window); null when there is none.
    virtual std::shared_ptr<AccessibleElement> focusedWindow(ProcessId pid) = 0;
};

}  // namespace larkspire::platform

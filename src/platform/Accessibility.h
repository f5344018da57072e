#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
// "AXTextField" with the subrole "AXSecureTextField".
class AccessibleElement {
  public:
    virtual ~AccessibleElement() = default;
    virtual std::string role() = 0;
    virtual std::string subrole() = 0;
    // The selection, else the caret as an empty range; absent for elements without text.
    virtual std::optional<TextRange> selectedTextRange() = 0;
    // Results of the setters are not reported: the element may be gone.
    virtual void focus() = 0;
    virtual void setSelectedTextRange(TextRange range) = 0;
};

// The desktop's accessibility service.
class Accessibility {
  public:
    virtual ~Accessibility() = default;
    // The focused element of the application of process `pid`; null when it cannot be
    // read. Bounded in time; answers null for the agent's own process.
    virtual std::shared_ptr<AccessibleElement> focusedElement(ProcessId pid) = 0;
};

}  // namespace larkspire::platform

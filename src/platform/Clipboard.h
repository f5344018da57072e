#pragma once

#include <optional>
#include <string>

namespace larkspire::platform {

// The desktop's clipboard (plain text). Writing makes the agent the owner that serves
// the text to other applications.
class Clipboard {
  public:
    virtual ~Clipboard() = default;
    // Replaces the whole content with `text`.
    virtual void setText(const std::string& text) = 0;
    // The plain text the clipboard holds now, if any.
    virtual std::optional<std::string> text() = 0;
};

}  // namespace larkspire::platform

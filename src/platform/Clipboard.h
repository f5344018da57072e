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
    // Offers `text` as the PRIMARY selection too (what Shift+Insert pastes in xterm and
    // its kin). Applications may drop their own selection when they lose PRIMARY, so
    // only for targets that read it.
    virtual void setPrimaryText(const std::string& text) = 0;
    // The plain text the clipboard holds now, if any.
    virtual std::optional<std::string> text() = 0;
};

}  // namespace larkspire::platform

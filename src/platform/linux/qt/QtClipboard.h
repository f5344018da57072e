#pragma once

#include "platform/Clipboard.h"

namespace larkspire::linux_desktop {

// The CLIPBOARD (and, on request, PRIMARY) selection through Qt: after a write the agent owns it
// and serves the text from its event loop. Main thread; needs a QGuiApplication.
class QtClipboard : public platform::Clipboard {
  public:
    void setText(const std::string& text) override;
    void setPrimaryText(const std::string& text) override;
    std::optional<std::string> text() override;
};

}  // namespace larkspire::linux_desktop

#pragma once

#include <optional>
#include <string>

#include "platform/Clipboard.h"
#include "platform/SystemLog.h"
#include "platform/linux/portal/Portal.h"
#include "platform/linux/portal/PortalRemoteDesktop.h"

namespace larkspire::linux_desktop {

// The clipboard through the desktop portal's Clipboard interface, attached to the
// remote-desktop session (GNOME offers no other way for a program in the background):
// the agent announces its text, and writes it whenever the desktop asks for it on behalf
// of a pasting application. There is no primary selection through the portal. Main
// thread.
class PortalClipboard : public platform::Clipboard {
  public:
    PortalClipboard(Portal& portal, PortalRemoteDesktop& session, platform::SystemLog& log);
    ~PortalClipboard() override;

    void setText(const std::string& text) override;
    void setPrimaryText(const std::string&) override {}
    std::optional<std::string> text() override;

  private:
    void transfer(GVariant* parameters);
    bool usable() const;

    Portal& portal_;
    PortalRemoteDesktop& session_;
    platform::SystemLog& log_;
    std::string text_;
    bool owner_ = false;  // the agent's text is the clipboard's
};

}  // namespace larkspire::linux_desktop

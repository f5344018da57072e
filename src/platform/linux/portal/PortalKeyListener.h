#pragma once

#include <linux/input-event-codes.h>

#include <functional>
#include <string>

#include "platform/KeyListener.h"
#include "platform/SystemLog.h"
#include "platform/linux/portal/Portal.h"
#include "platform/linux/wayland/CommandKeyListener.h"

namespace larkspire::desktop {

class PortalRemoteDesktop;

// The dictation key as a global shortcut of the desktop portal (GNOME 48+, KDE Plasma,
// Hyprland): the agent proposes two shortcuts, the desktop (and the user, in its dialog)
// chooses their keys, and reports each one's press (Activated) and release (Deactivated).
// They become the raw transitions of the dictation key, alone or with Control, so the
// gesture logic is the same as with a keyboard. The answer comes after start() returns;
// a refusal, or a paste session the user declined, becomes unavailableReason().
// Main thread.
class PortalKeyListener : public platform::KeyListener {
  public:
    // `typing`, when given, is the session through which the agent pastes: its problem is
    // reported here too, so that the warning says why.
    PortalKeyListener(Portal& portal, platform::SystemLog& log, PortalRemoteDesktop* typing);
    // The Linux input code of the configured dictation key, whose transitions the
    // shortcuts stand for (Right Alt until set).
    void setKeyInputCode(std::function<int()> keyInputCode) {
        keyInputCode_ = std::move(keyInputCode);
    }
    ~PortalKeyListener() override;

    bool start(Handler handler) override;
    void stop() override;
    std::string unavailableReason() const override;
    bool hearsKeys() const override;
    void onChange(std::function<void()> handler) override { changed_ = std::move(handler); }
    std::string assignedKey() const override { return assigned_; }

    // The shortcut ids and the keys the agent proposes (the desktop may choose others).
    static constexpr const char* kDictate = "dictate";
    static constexpr const char* kDictateWithContext = "dictate-with-context";

  private:
    void created(Portal::Response response);
    void bound(Portal::Response response);
    void take(GVariant* shortcuts);
    void shortcut(GVariant* parameters, bool pressed);
    void fail(std::string reason, const std::string& logLine);
    void changed();

    Portal& portal_;
    platform::SystemLog& log_;
    std::function<int()> keyInputCode_ = [] { return KEY_RIGHTALT; };
    PortalRemoteDesktop* typing_;
    CommandKeyListener keys_;
    std::string session_;
    std::string assigned_;
    std::string reason_;
    std::function<void()> changed_;
    bool started_ = false;
    bool bound_ = false;  // the desktop granted the shortcut
};

}  // namespace larkspire::desktop

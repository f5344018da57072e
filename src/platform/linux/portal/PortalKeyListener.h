#pragma once

#include <functional>
#include <string>

#include "platform/KeyListener.h"
#include "platform/SystemLog.h"
#include "platform/linux/common/CommandKeyListener.h"
#include "platform/linux/portal/Portal.h"

namespace larkspire::linux_desktop {

// The dictation key as a global shortcut of the desktop portal (GNOME 48+, KDE Plasma,
// Hyprland): the agent proposes two shortcuts, the desktop (and the user, in its dialog)
// chooses their keys, and reports each one's press (Activated) and release (Deactivated).
// They are the dictation key's transitions, alone or with Control, as the gesture logic
// takes them from any desktop that hears the key for the agent. The answer comes after
// start() returns; a refusal becomes unavailableReason() (the keyboard for pasting, which
// the same dialog may grant, reports its own). Main thread.
class PortalKeyListener : public platform::KeyListener {
  public:
    PortalKeyListener(Portal& portal, platform::SystemLog& log);
    ~PortalKeyListener() override;

    bool start(Handler handler) override;
    void stop() override;
    std::string unavailableReason() const override;
    bool hearsKeys() const override;
    void onChange(std::function<void()> handler) override { changed_ = std::move(handler); }
    std::string assignedKey() const override { return assigned_; }
    void onDictationKey(DictationKeyHandler handler) override {
        keys_.onDictationKey(std::move(handler));
    }

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
    CommandKeyListener keys_;
    std::string session_;
    std::string assigned_;
    std::string reason_;
    std::function<void()> changed_;
    bool started_ = false;
    bool bound_ = false;  // the desktop granted the shortcut
};

}  // namespace larkspire::linux_desktop

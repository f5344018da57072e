#pragma once

#include "platform/KeyInjector.h"
#include "platform/linux/portal/PortalRemoteDesktop.h"

namespace larkspire::linux_desktop {

// Paste chords through the keyboard of the desktop portal's remote-desktop session, as
// Linux input codes (chordInputCode). Before the session has started (or when the user declined it)
// nothing is sent.
class PortalKeyInjector : public platform::KeyInjector {
  public:
    explicit PortalKeyInjector(PortalRemoteDesktop& session) : session_(session) {}

    // The portal does not tell which keys the user holds.
    std::vector<int> heldModifiers() override { return {}; }
    void release(const std::vector<int>& keycodes) override;
    bool sendChord(const std::vector<platform::ChordKey>& keys) override;
    // The portal's dictation key is a chord the desktop consumes, never a lone modifier
    // tap that an application would act on: there is nothing to cover.
    void tapBlankKey() override {}
    // The session's problem: declined by the user, ended from the desktop, failed.
    std::string unavailableReason() const override { return session_.problem(); }
    void onChange(std::function<void()> handler) override { session_.onChange(std::move(handler)); }

  private:
    PortalRemoteDesktop& session_;
};

}  // namespace larkspire::linux_desktop

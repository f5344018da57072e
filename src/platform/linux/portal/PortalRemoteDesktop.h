#pragma once

#include <functional>
#include <string>

#include "platform/SystemLog.h"
#include "platform/linux/portal/Portal.h"

namespace larkspire::linux_desktop {

// One remote-desktop session of the desktop portal, for the keyboard only: the desktop
// asks the user once, and with a restore token (portal version 2) not again at later
// starts. The same session carries the clipboard where the desktop offers no other way
// (the Clipboard portal, which must be asked for before the session starts). Main thread.
class PortalRemoteDesktop {
  public:
    // Where the restore token lives between runs of the agent.
    struct TokenStore {
        std::function<std::string()> load;
        std::function<void(const std::string&)> save;
    };
    enum class State { idle, starting, started, refused, failed };

    PortalRemoteDesktop(Portal& portal, platform::SystemLog& log, TokenStore tokens,
                        bool withClipboard);
    ~PortalRemoteDesktop();
    PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
    PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

    // Creates and starts the session; the desktop may show its approval dialog. Once.
    void start();
    State state() const { return state_; }
    const std::string& session() const { return session_; }
    bool clipboardEnabled() const { return clipboardEnabled_; }
    // Why the session did not start, as a sentence for the user; empty otherwise.
    const std::string& problem() const { return problem_; }
    // Called after each change of state.
    void onChange(std::function<void()> handler) { changed_ = std::move(handler); }

    // A key by its Linux input code (KEY_LEFTCTRL), as a keyboard of the session sends it.
    // False when the session is not (or no longer) started: nothing was sent.
    bool notifyKeycode(int inputCode, bool pressed);

  private:
    void created(Portal::Response response);
    void selected(Portal::Response response);
    void started(Portal::Response response);
    void fail(State state, std::string problem, const std::string& logLine);
    void set(State state);

    Portal& portal_;
    platform::SystemLog& log_;
    TokenStore tokens_;
    bool withClipboard_;
    State state_ = State::idle;
    std::string session_;
    bool clipboardEnabled_ = false;
    std::string problem_;
    std::function<void()> changed_;
};

}  // namespace larkspire::linux_desktop

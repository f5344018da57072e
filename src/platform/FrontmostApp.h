#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace larkspire::platform {

using WindowId = std::uint64_t;
using ProcessId = std::int32_t;

// The window in front, its process and what names it.
struct FrontWindow {
    WindowId window = 0;
    ProcessId processIdentifier = 0;  // 0 when the window names no process
    std::string windowClass;          // the class part of WM_CLASS ("XTerm")
    std::string windowInstance;       // the instance part of WM_CLASS ("xterm")
    std::string applicationName;      // desktop entry name, else WM_CLASS, else the command
    std::string processName;          // the process's command name (/proc/PID/comm)

    bool operator==(const FrontWindow&) const = default;
};

// The frontmost application and its activation.
class FrontmostApp {
  public:
    virtual ~FrontmostApp() = default;
    // The active window; absent when no window is active.
    virtual std::optional<FrontWindow> frontmost() = 0;
    // Asks the window manager to bring `window` to the front and give it focus; false
    // when the window no longer exists.
    virtual bool activate(WindowId window) = 0;
    // The top-most window of a running process; absent when it has none (or has quit).
    virtual std::optional<WindowId> windowOf(ProcessId pid) = 0;
    // The window most recently in front (the top-most in stacking order) that belongs
    // to another process than `pid` and its helpers and is an ordinary application window.
    virtual std::optional<FrontWindow> lastWindowNotOf(ProcessId pid) = 0;
    // The agent's own process.
    virtual ProcessId ownProcess() const = 0;
    // The agent's process or one it started (the workspace window runs in its own).
    virtual bool isAgentProcess(ProcessId pid) const = 0;
};

}  // namespace larkspire::platform

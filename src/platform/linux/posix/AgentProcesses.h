#pragma once

#include <string>

#include "platform/FrontmostApp.h"

namespace larkspire::linux_desktop {

// Whether `pid` is a helper that `parent` started and that is ours by name (the workspace
// window, "larkspire-workspace"). The name matters: a browser that the desktop opener
// started for the agent can also be its child, and it is an application like any other.
bool isAgentHelperOf(platform::ProcessId pid, platform::ProcessId parent);

// Whether `pid` is this process or one of its helpers.
bool isThisAgent(platform::ProcessId pid);

// The process's command name (/proc/PID/comm); empty when it is gone.
std::string commandName(platform::ProcessId pid);

}  // namespace larkspire::linux_desktop

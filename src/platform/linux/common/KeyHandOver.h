#pragma once

#include <string>
#include <vector>

namespace larkspire::linux_desktop {

// Hands command-line arguments to the running agent over its single-instance socket,
// without Qt: a compositor runs the key command at every press and release, and loading
// Qt for it cost some 45 ms before the agent heard the key.

// The agent's socket, where Qt's local server puts it: in $XDG_RUNTIME_DIR, else
// /run/user/UID, else /tmp/runtime-USER.
std::string agentSocketPath();

// The arguments as Qt's QDataStream writes a QStringList, which is what the agent reads:
// a 32-bit count, then each string as its UTF-16 byte length and code units, big-endian.
// Only ASCII arguments are encoded (the key command's words); others give "".
std::string encodeArguments(const std::vector<std::string>& arguments);

// Sends the arguments and closes; false when no agent listens.
bool handToAgent(const std::vector<std::string>& arguments);

// The key command of `program` ("larkspire --key", "larkspire-key"): checks the arguments
// ("--key ACTION [--control]"), hands them over and says on stderr what went wrong; the
// exit status (0 handed over, 1 no agent, 2 wrong arguments).
int runKeyCommand(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace larkspire::linux_desktop

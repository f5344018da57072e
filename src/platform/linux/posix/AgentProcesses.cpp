#include "platform/linux/posix/AgentProcesses.h"

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

namespace larkspire::linux_desktop {

bool isAgentHelperOf(platform::ProcessId pid, platform::ProcessId parent) {
    // /proc/PID/stat gives the name in parentheses (which may hold spaces), then the
    // state and the parent.
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = stat.find('(');
    const auto close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) {
        return false;
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string state;
    long ppid = 0;
    fields >> state >> ppid;
    return fields && static_cast<platform::ProcessId>(ppid) == parent &&
           stat.compare(open + 1, 10, "larkspire-") == 0;
}

std::string commandName(platform::ProcessId pid) {
    std::string name;
    if (pid > 0) {
        std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
        std::getline(comm, name);
    }
    return name;
}

bool isThisAgent(platform::ProcessId pid) {
    const auto own = static_cast<platform::ProcessId>(getpid());
    return pid > 0 && (pid == own || isAgentHelperOf(pid, own));
}

}  // namespace larkspire::linux_desktop

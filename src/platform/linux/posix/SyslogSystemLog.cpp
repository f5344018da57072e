#include "platform/linux/posix/SyslogSystemLog.h"

#include <syslog.h>

#include <cstdio>

#include "util/Text.h"

namespace larkspire::linux_desktop {

SyslogSystemLog::SyslogSystemLog() {
    ::openlog("larkspire", LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
    ::closelog();
}

void SyslogSystemLog::log(const std::string& line) {
    // Whoever calls: a window class, a desktop entry's name or a portal's reply inside a
    // line never starts a line of its own, nor turns the rest of it around.
    const std::string safe = text::forDisplay(line, kMaxCharacters);
    ::syslog(LOG_NOTICE, "%s", safe.c_str());
    std::fprintf(stderr, "larkspire: %s\n", safe.c_str());
}

}  // namespace larkspire::linux_desktop

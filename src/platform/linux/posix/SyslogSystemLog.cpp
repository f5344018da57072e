#include "platform/linux/posix/SyslogSystemLog.h"

#include <syslog.h>

#include <cstdio>

namespace larkspire::desktop {

SyslogSystemLog::SyslogSystemLog() {
    ::openlog("larkspire", LOG_PID, LOG_USER);
}

SyslogSystemLog::~SyslogSystemLog() {
    ::closelog();
}

void SyslogSystemLog::log(const std::string& line) {
    ::syslog(LOG_NOTICE, "%s", line.c_str());
    std::fprintf(stderr, "larkspire: %s\n", line.c_str());
}

}  // namespace larkspire::desktop

#pragma once

#include "platform/SystemLog.h"

namespace larkspire::desktop {

// The journal, through syslog(3), under the identifier "larkspire"; also on standard
// error for a user who started the agent from a terminal.
class SyslogSystemLog : public platform::SystemLog {
  public:
    SyslogSystemLog();
    ~SyslogSystemLog() override;
    SyslogSystemLog(const SyslogSystemLog&) = delete;
    SyslogSystemLog& operator=(const SyslogSystemLog&) = delete;
    void log(const std::string& line) override;
};

}  // namespace larkspire::desktop

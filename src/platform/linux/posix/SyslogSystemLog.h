#pragma once

#include <cstddef>

#include "platform/SystemLog.h"

namespace larkspire::linux_desktop {

// The journal, through syslog(3), under the identifier "larkspire"; also on standard
// error for a user who started the agent from a terminal. Every line goes out as one
// line: control characters, line and paragraph separators and bidirectional controls
// become spaces, and a line longer than kMaxCharacters ends in "…".
class SyslogSystemLog : public platform::SystemLog {
  public:
    static constexpr size_t kMaxCharacters = 4000;

    SyslogSystemLog();
    ~SyslogSystemLog() override;
    SyslogSystemLog(const SyslogSystemLog&) = delete;
    SyslogSystemLog& operator=(const SyslogSystemLog&) = delete;
    void log(const std::string& line) override;
};

}  // namespace larkspire::linux_desktop

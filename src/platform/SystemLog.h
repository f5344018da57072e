#pragma once

#include <string>

namespace larkspire::platform {

// The system log (the journal on Linux). Lines are written exactly as given.
class SystemLog {
  public:
    virtual ~SystemLog() = default;
    virtual void log(const std::string& line) = 0;
};

}  // namespace larkspire::platform

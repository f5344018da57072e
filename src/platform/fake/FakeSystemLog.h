#pragma once

#include <string>
#include <vector>

#include "platform/SystemLog.h"

namespace larkspire::fake {

// Keeps every line, in order.
class FakeSystemLog : public platform::SystemLog {
  public:
    void log(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

}  // namespace larkspire::fake

#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace larkspire::server {

// Whole lines to one stream from many request threads.
class Log {
  public:
    explicit Log(std::ostream& out) : out_(out) {}
    void line(const std::string& text);

  private:
    std::mutex mutex_;
    std::ostream& out_;
};

}  // namespace larkspire::server

#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

namespace larkspire::server {

// Stands in for an e-mail gateway: every message is appended to one text file in the data
// folder and repeated on the log, so a developer (or a test) can read the code.
class Outbox {
  public:
    using Log = std::function<void(const std::string&)>;

    Outbox(std::filesystem::path file, Log log);

    void send(const std::string& to, const std::string& subject, const std::string& body,
              const std::string& date);

    const std::filesystem::path& file() const { return file_; }

  private:
    std::filesystem::path file_;
    Log log_;
    std::mutex mutex_;
};

}  // namespace larkspire::server

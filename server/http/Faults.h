#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace larkspire::server {

// One injected failure: requests to `path` are held for `delay`, then answered with
// `status` and `body` instead of the real handler (or passed on when status is 0).
struct FaultRule {
    std::string path;
    int status = 0;
    std::optional<std::string> body;  // default: {"error":"Injected failure"}
    bool malformed = false;           // answer a truncated JSON text
    std::chrono::milliseconds delay{0};
    int remaining = -1;  // requests still affected; -1 for every request
};

struct FaultAction {
    int status = 0;  // 0: carry on with the real handler after the delay
    std::string body;
    std::string contentType;
    std::chrono::milliseconds delay{0};
};

class Faults {
  public:
    void add(FaultRule rule);
    void clear();
    std::vector<FaultRule> rules() const;

    // The first live rule for the path, counted as used.
    std::optional<FaultAction> take(const std::string& path);

    // "PATH=STATUS[xCOUNT]", e.g. "/api/transcribe=500" or "/api/transcribe=503x2".
    static std::optional<FaultRule> parseFailOption(const std::string& option);
    // "PATH=MILLISECONDS[xCOUNT]".
    static std::optional<FaultRule> parseDelayOption(const std::string& option);

  private:
    mutable std::mutex mutex_;
    std::vector<FaultRule> rules_;
};

}  // namespace larkspire::server

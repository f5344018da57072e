#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/Http.h"

namespace larkspire::testing {

// An in-memory HttpTransport for tests where the bytes on the wire do not matter (the
// transport's own tests cover those): answers by path from a script and records every
// request as the client built it, time-out included. A path without an answer fails as
// a refused connection does. Safe from any thread.
class ScriptedTransport : public HttpTransport {
  public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    HttpResponse send(const HttpRequest& request) override;

    // The answer to every request to `path` (the URL's path, without the query).
    void on(const std::string& path, int status, std::string body);
    void on(const std::string& path, Handler handler);
    // A one-time answer, used before the standing one; several queue up in order.
    void once(const std::string& path, int status, std::string body);

    std::vector<HttpRequest> sent() const;
    std::vector<HttpRequest> sentTo(const std::string& path) const;
    // The paths of every request, in order.
    std::vector<std::string> paths() const;
    int count(const std::string& path) const;

    // The path of `url`: from the first slash after the host, without the query.
    static std::string pathOf(std::string_view url);

  private:
    mutable std::mutex mutex_;
    // Shared, so a handler keeps its state across calls made outside the lock.
    std::map<std::string, std::shared_ptr<Handler>> standing_;
    std::map<std::string, std::deque<HttpResponse>> pending_;
    std::vector<HttpRequest> sent_;
};

// The first header of that name (case-insensitive), and how many there are.
std::optional<std::string> headerOf(const HttpRequest& request, std::string_view name);
size_t headerCount(const HttpRequest& request, std::string_view name);

}  // namespace larkspire::testing

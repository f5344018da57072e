#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace larkspire::testing {

// One request as it arrived on the socket.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;    // target without the query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The first header of that name (case-insensitive), if any.
    std::optional<std::string> header(const std::string& name) const;
    size_t headerCount(const std::string& name) const;
};

struct CannedResponse {
    int status = 200;
    std::string body;
    // Sent as given, Location included.
    std::vector<std::pair<std::string, std::string>> headers = {};
    // Streams the body without announcing its length.
    bool omitContentLength = false;
    // Reads the request and never answers (until the client gives up).
    bool noAnswer = false;
    // Sends the body a byte at a time with this pause between bytes.
    int trickleMs = 0;
};

// An HTTP/1.1 server (cpp-httplib) on 127.0.0.1 with a kernel-chosen port, on threads of
// its own, for tests of what really crosses the socket. It records every request and
// answers from canned responses; unknown paths get a 404.
class LoopbackServer {
  public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:PORT"
    std::string url() const;
    int port() const;

    // The answer for every request to `path` (without query) from now on.
    void on(const std::string& path, CannedResponse response);
    // A one-time answer for the next request to `path`, used before the standing one.
    void once(const std::string& path, CannedResponse response);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace larkspire::testing

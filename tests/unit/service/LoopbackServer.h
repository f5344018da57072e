#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace larkspire::testing {

// One request exactly as it arrived on the socket.
struct RecordedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;    // target without the query
    std::string query;   // after "?", empty when none
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // raw bytes
    std::string raw;   // the whole request, head and body

    // The first header of that name (case-insensitive), if any.
    std::optional<std::string> header(const std::string& name) const;
    size_t headerCount(const std::string& name) const;
};

struct CannedResponse {
    int status = 200;
    std::string body;
    // Sends the body without a Content-Length and ends it by closing the connection.
    bool omitContentLength = false;
    // Reads the request and never answers (until the client gives up).
    bool noAnswer = false;
    // Sends the body a byte at a time with this pause between bytes.
    int trickleMs = 0;
};

// An HTTP/1.1 server on 127.0.0.1 with a kernel-chosen port, run on its own thread, that
// records the raw bytes of every request and answers from canned responses. It reads the
// body itself (Content-Length), so multipart uploads are seen byte for byte.
class LoopbackServer {
  public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // "http://127.0.0.1:PORT"
    std::string url() const;
    int port() const { return port_; }

    // The answer for every request to `path` (without query) from now on.
    void on(const std::string& path, CannedResponse response);
    // A one-time answer for the next request to `path`, used before the standing one.
    void once(const std::string& path, CannedResponse response);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string& path) const;
    std::vector<std::string> paths() const;
    void clearRequests();

  private:
    void serve();
    void handle(int fd);
    CannedResponse responseFor(const std::string& path);

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<RecordedRequest> requests_;
    std::map<std::string, CannedResponse> standing_;
    std::map<std::string, std::deque<CannedResponse>> pending_;
    std::thread thread_;
};

}  // namespace larkspire::testing

#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>

namespace larkspire::server::http {

// Cuts a connection that has not delivered a request's head within a deadline. The HTTP
// library's time-out bounds one read only: a client that drips its request a byte at a
// time holds a worker as long as it likes, and as many such clients as there are workers
// shut everyone else out. The library hands its accepted sockets to no hook, so a watcher
// looks at the process's connections to the service's port a few times a second. A
// connection whose bytes wait unread is queued for a worker, not slow, and is left alone.
// The body is bounded by readBody's own rule, the handler's work by nothing.
class RequestDeadline {
  public:
    explicit RequestDeadline(std::chrono::milliseconds limit);
    ~RequestDeadline();
    RequestDeadline(const RequestDeadline&) = delete;
    RequestDeadline& operator=(const RequestDeadline&) = delete;

    // Starts watching the connections accepted on `listenSocket`.
    void watch(int listenSocket);
    // The head of `request` has arrived: its connection is no longer watched.
    void arrived(const httplib::Request& request);
    // The answer to `request` is ready; the next request on that connection (kept alive)
    // has a deadline of its own.
    void answered(const httplib::Request& request);

  private:
    // A connection as the library reports it in a request: the peer's address and port.
    using Peer = std::pair<std::string, int>;
    struct Connection {
        int socket;
        std::chrono::steady_clock::time_point deadline;
        bool watched;
    };

    void run(int listenSocket);
    void look(int listenSocket, std::chrono::steady_clock::time_point now);

    const std::chrono::milliseconds limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::map<Peer, Connection> connections_;
    std::thread watcher_;
};

}  // namespace larkspire::server::http

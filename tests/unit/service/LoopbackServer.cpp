#include "unit/service/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace larkspire::testing {
namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

const char* reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

}  // namespace

std::optional<std::string> RecordedRequest::header(const std::string& name) const {
    const std::string wanted = lower(name);
    for (const auto& [n, v] : headers) {
        if (lower(n) == wanted) {
            return v;
        }
    }
    return std::nullopt;
}

size_t RecordedRequest::headerCount(const std::string& name) const {
    const std::string wanted = lower(name);
    return static_cast<size_t>(std::count_if(
        headers.begin(), headers.end(), [&](const auto& h) { return lower(h.first) == wanted; }));
}

LoopbackServer::LoopbackServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error("socket failed");
    }
    int yes = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        ::close(listenFd_);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    ::close(listenFd_);
}

std::string LoopbackServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::on(const std::string& path, CannedResponse response) {
    std::lock_guard lock(mutex_);
    standing_[path] = std::move(response);
}

void LoopbackServer::once(const std::string& path, CannedResponse response) {
    std::lock_guard lock(mutex_);
    pending_[path].push_back(std::move(response));
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> LoopbackServer::requestsTo(const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> out;
    for (const auto& r : requests_) {
        if (r.path == path) {
            out.push_back(r);
        }
    }
    return out;
}

std::vector<std::string> LoopbackServer::paths() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : requests_) {
        out.push_back(r.path);
    }
    return out;
}

void LoopbackServer::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

CannedResponse LoopbackServer::responseFor(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (auto it = pending_.find(path); it != pending_.end() && !it->second.empty()) {
        CannedResponse r = std::move(it->second.front());
        it->second.pop_front();
        return r;
    }
    if (auto it = standing_.find(path); it != standing_.end()) {
        return it->second;
    }
    return CannedResponse{404, R"({"error":"no handler in the test server"})"};
}

void LoopbackServer::serve() {
    while (!stopping_) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (stopping_) {
                return;
            }
            continue;
        }
        handle(fd);
        ::close(fd);
    }
}

void LoopbackServer::handle(int fd) {
    std::string data;
    char buffer[65536];
    size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return;
        }
        data.append(buffer, static_cast<size_t>(n));
        headEnd = data.find("\r\n\r\n");
    }
    RecordedRequest request;
    const std::string head = data.substr(0, headEnd);
    size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const size_t sp1 = requestLine.find(' ');
    const size_t sp2 = requestLine.rfind(' ');
    request.method = requestLine.substr(0, sp1);
    request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    const size_t q = request.target.find('?');
    request.path = request.target.substr(0, q);
    request.query = q == std::string::npos ? "" : request.target.substr(q + 1);
    size_t contentLength = 0;
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos) {
            end = head.size();
        }
        const std::string line = head.substr(pos, end - pos);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(' '));
            if (lower(name) == "content-length") {
                contentLength = std::stoul(value);
            }
            request.headers.emplace_back(std::move(name), std::move(value));
        }
        pos = end + 2;
    }
    const size_t bodyStart = headEnd + 4;
    while (data.size() < bodyStart + contentLength) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
    }
    request.body = data.substr(bodyStart, contentLength);
    request.raw = data;
    const std::string path = request.path;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }

    const CannedResponse response = responseFor(path);
    if (response.noAnswer) {
        // Hold the connection until the client closes it or the server stops.
        pollfd p{fd, POLLIN, 0};
        while (!stopping_) {
            int ready = ::poll(&p, 1, 20);
            if (ready > 0) {
                if (::recv(fd, buffer, sizeof buffer, 0) <= 0) {
                    return;
                }
            }
        }
        return;
    }
    std::string out = "HTTP/1.1 " + std::to_string(response.status) + " " +
                      reason(response.status) + "\r\nConnection: close\r\n";
    if (!response.omitContentLength) {
        out += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    }
    out += "\r\n";
    if (response.trickleMs > 0) {
        sendAll(fd, out);
        for (const char c : response.body) {
            sendAll(fd, std::string(1, c));
            std::this_thread::sleep_for(std::chrono::milliseconds(response.trickleMs));
        }
        return;
    }
    out += response.body;
    sendAll(fd, out);
}

}  // namespace larkspire::testing

#include "server/http/RequestDeadline.h"

#include <arpa/inet.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <set>

namespace larkspire::server::http {
namespace {

constexpr auto kLookInterval = std::chrono::milliseconds(200);

// An address as the library writes it in Request::remote_addr, and its port.
std::optional<std::pair<std::string, int>> addressOf(const sockaddr_storage& address) {
    char host[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
        return std::pair<std::string, int>{host, ntohs(in->sin_port)};
    }
    if (address.ss_family == AF_INET6) {
        const auto* in = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &in->sin6_addr, host, sizeof host);
        return std::pair<std::string, int>{host, ntohs(in->sin6_port)};
    }
    return std::nullopt;
}

std::optional<std::pair<std::string, int>> localOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return addressOf(address);
}

std::optional<std::pair<std::string, int>> peerOf(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return std::nullopt;
    }
    return addressOf(address);
}

}  // namespace

RequestDeadline::RequestDeadline(std::chrono::milliseconds limit) : limit_(limit) {}

RequestDeadline::~RequestDeadline() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (watcher_.joinable()) {
        watcher_.join();
    }
}

void RequestDeadline::watch(int listenSocket) {
    watcher_ = std::thread([this, listenSocket] { run(listenSocket); });
}

void RequestDeadline::arrived(const httplib::Request& request) {
    std::lock_guard lock(mutex_);
    if (auto it = connections_.find({request.remote_addr, request.remote_port});
        it != connections_.end()) {
        it->second.watched = false;
    }
}

void RequestDeadline::answered(const httplib::Request& request) {
    std::lock_guard lock(mutex_);
    if (auto it = connections_.find({request.remote_addr, request.remote_port});
        it != connections_.end()) {
        it->second.deadline = std::chrono::steady_clock::now() + limit_;
        it->second.watched = true;
    }
}

void RequestDeadline::run(int listenSocket) {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kLookInterval, [this] { return stopping_; })) {
        look(listenSocket, std::chrono::steady_clock::now());
    }
}

// Lock held. Connections are the sockets whose local end is the listening socket's port.
void RequestDeadline::look(int listenSocket, std::chrono::steady_clock::time_point now) {
    const auto listening = localOf(listenSocket);
    if (!listening) {
        return;
    }
    std::set<Peer> present;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        struct stat info {};
        if (fd == listenSocket || fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) {
            continue;
        }
        const auto local = localOf(fd);
        const auto peer = peerOf(fd);
        if (!local || !peer || local->second != listening->second) {
            continue;
        }
        present.insert(*peer);
        auto [it, added] = connections_.try_emplace(*peer, Connection{fd, now + limit_, true});
        if (added || it->second.socket != fd) {
            it->second = {fd, now + limit_, true};
        }
        // Bytes still unread mean no worker has taken the connection yet: the wait is the
        // service's, not the client's.
        int unread = 0;
        if (it->second.watched && it->second.deadline <= now &&
            (ioctl(fd, FIONREAD, &unread) != 0 || unread == 0)) {
            // The worker's read fails at once and it closes the connection.
            ::shutdown(fd, SHUT_RDWR);
            it->second.watched = false;
        }
    }
    std::erase_if(connections_, [&present](const auto& c) { return !present.contains(c.first); });
}

}  // namespace larkspire::server::http

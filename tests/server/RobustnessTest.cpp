// The service under load, slow clients and hostile requests: it keeps answering everyone,
// bounds what one request may cost, and refuses test controls that a web page could send.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>

#include "ServiceProcess.h"

namespace larkspire::server::testing {
namespace {

using Clock = std::chrono::steady_clock;

// A loopback connection that the test writes raw bytes to.
class RawConnection {
  public:
    explicit RawConnection(int port, bool blocking = true)
        : fd_(socket(AF_INET, SOCK_STREAM | (blocking ? 0 : SOCK_NONBLOCK), 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    ~RawConnection() { close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    int fd() const { return fd_; }
    bool send(const std::string& bytes) const {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // Everything the service sends until it closes the connection or the deadline passes.
    std::string answer(Clock::time_point deadline = Clock::now() + std::chrono::seconds(30)) const {
        std::string all;
        char buffer[4096];
        for (pollfd p{fd_, POLLIN, 0};;) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            ssize_t n = left.count() > 0 && poll(&p, 1, static_cast<int>(left.count())) > 0
                            ? recv(fd_, buffer, sizeof buffer, 0)
                            : 0;
            if (n <= 0) {
                return all;
            }
            all.append(buffer, static_cast<size_t>(n));
        }
    }

  private:
    int fd_;
};

const std::string kPlainGet = "GET /api/nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";

long peakMemoryKiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

TEST(UnderLoad, TwoHundredSimultaneousConnectionsAreAllAnswered) {
    ServiceProcess service;
    // All connects leave at once; then every connection sends its request and waits.
    std::vector<std::unique_ptr<RawConnection>> connections;
    for (int i = 0; i < 200; ++i) {
        connections.push_back(std::make_unique<RawConnection>(service.port(), false));
    }
    auto deadline = Clock::now() + std::chrono::seconds(10);
    for (const auto& c : connections) {
        pollfd connected{c->fd(), POLLOUT, 0};
        poll(&connected, 1, 10000);
        c->send(kPlainGet);
    }
    size_t notFound = std::count_if(connections.begin(), connections.end(), [&](const auto& c) {
        return c->answer(deadline).rfind("HTTP/1.1 404", 0) == 0;
    });
    EXPECT_EQ(notFound, connections.size());
}

TEST(UnderLoad, SlowClientsDoNotHoldUpOtherRequests) {
    ServiceProcess service({"--request-deadline", "1"});
    // Each slow client sends its request one byte at a time, often enough to beat any
    // per-read time-out; there are as many as the service has workers.
    const std::string slowRequest = "POST /api/native-auth/request HTTP/1.1\r\nHost: x\r\n";
    std::vector<std::unique_ptr<RawConnection>> slow;
    for (int i = 0; i < 64; ++i) {
        slow.push_back(std::make_unique<RawConnection>(service.port()));
    }
    auto start = Clock::now();
    auto normal = std::async(std::launch::async, [&] {
        RawConnection c(service.port());
        c.send(kPlainGet);
        return c.answer();
    });
    for (size_t sentBytes = 0;
         sentBytes < slowRequest.size() &&
         normal.wait_for(std::chrono::milliseconds(500)) == std::future_status::timeout &&
         Clock::now() - start < std::chrono::seconds(8);
         ++sentBytes) {
        for (const auto& c : slow) {
            c->send(slowRequest.substr(sentBytes, 1));
        }
    }
    auto waited = Clock::now() - start;
    slow.clear();
    EXPECT_EQ(normal.get().rfind("HTTP/1.1 404", 0), 0u);
    // Their connections are cut at the deadline, a second, which frees the workers.
    EXPECT_LT(waited, std::chrono::seconds(4));
}

TEST(HostileBodies, DeeplyNestedJsonIsRefusedWithoutBuildingIt) {
    ServiceProcess service;
    const size_t depth = 4 << 20;
    std::string body = "{\"email\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
    auto r = service.client().Post("/api/native-auth/request", body, "application/json");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 400);
    // The body itself is 8 MiB; a parsed tree of four million arrays takes hundreds.
    EXPECT_LT(peakMemoryKiB(service.pid()), 64 * 1024);
}

TEST(HostileBodies, AChunkedBodyOverTheLimitIsRefusedWith413) {
    ServiceProcess service;
    RawConnection c(service.port());
    c.send(
        "POST /api/native-auth/request HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
        "Transfer-Encoding: chunked\r\n\r\n");
    const std::string chunk = "100000\r\n" + std::string(1 << 20, ' ') + "\r\n";
    for (int mebibytes = 0; mebibytes < 65 && c.send(chunk); ++mebibytes) {
    }
    c.send("0\r\n\r\n");
    std::string answer = c.answer();
    EXPECT_EQ(answer.rfind("HTTP/1.1 413", 0), 0u) << answer.substr(0, 200);
}

TEST(AdminControls, RefuseWhatAWebPageCouldSendAndClockMovesThatOverflow) {
    ServiceProcess service;
    const std::string port = std::to_string(service.port());
    const std::string fault = R"({"path":"/api/projects","status":500})";
    const auto clock = [](const char* seconds) {
        return std::string(R"({"advanceSeconds":)") + seconds + "}";
    };
    struct Case {
        const char* what;
        std::string path, body, contentType;
        httplib::Headers headers;
        int status;
    };
    const std::string json = "application/json";
    const std::vector<Case> cases{
        {"a form post", "/__admin/fail", fault, "application/x-www-form-urlencoded", {}, 403},
        {"a text post", "/__admin/fail", fault, "text/plain", {}, 403},
        {"another origin", "/__admin/fail", fault, json, {{"Origin", "http://evil.example"}}, 403},
        {"a rebound host name",
         "/__admin/clock",
         clock("1"),
         json,
         {{"Origin", "http://evil.example:" + port}, {"Host", "evil.example:" + port}},
         403},
        {"the service's own page",
         "/__admin/clock",
         clock("1"),
         json,
         {{"Origin", "http://127.0.0.1:" + port}},
         200},
        {"a move too large to count", "/__admin/clock", clock("1e300"), json, {}, 400},
        {"a move within four-digit years", "/__admin/clock", clock("2e11"), json, {}, 200},
        {"a second one that adds up past them", "/__admin/clock", clock("2e11"), json, {}, 400},
    };
    for (const auto& c : cases) {
        auto r = service.client().Post(c.path, c.headers, c.body, c.contentType.c_str());
        ASSERT_TRUE(r) << c.what;
        EXPECT_EQ(r->status, c.status) << c.what << ": " << r->body;
    }
    // None of the refused faults took hold.
    const std::string token = service.signIn("admin@example.com")["accessToken"];
    EXPECT_EQ(service.get("/api/projects", token)->status, 200);
}

}  // namespace
}  // namespace larkspire::server::testing

#include <gtest/gtest.h>

#include <curl/curl.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "service/Http.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

namespace larkspire::testing {
namespace {

using std::string;

class CurlTransportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { initHttp(); }
    LoopbackServer server;
};

HttpRequest get(const string& url) {
    HttpRequest r;
    r.url = url;
    return r;
}

TEST_F(CurlTransportTest, EveryStatusIsReturnedWithItsBody) {
    server.on("/a", {503, "busy"});
    server.on("/b", {200, ""});
    CurlTransport curl;
    const HttpResponse a = curl.send(get(server.url() + "/a"));
    EXPECT_EQ(a.status, 503);
    EXPECT_EQ(a.body, "busy");
    const HttpResponse b = curl.send(get(server.url() + "/b"));
    EXPECT_EQ(b.status, 200);
    EXPECT_EQ(b.body, "");
}

TEST_F(CurlTransportTest, SendsOnlyTheGivenHeadersAndTheBodyUnchanged) {
    server.on("/p", {200, "ok"});
    CurlTransport curl;
    HttpRequest r;
    r.method = "POST";
    r.url = server.url() + "/p";
    r.headers = {{"Authorization", "Bearer x"}, {"Content-Type", "application/json"}};
    r.body = string("{\"a\":\"\0\xff\"}", 9);
    curl.send(r);
    const RecordedRequest seen = server.requests().at(0);
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.body, r.body);
    EXPECT_EQ(seen.header("Authorization"), "Bearer x");
    EXPECT_EQ(seen.headerCount("User-Agent"), 0u);
    EXPECT_EQ(seen.headerCount("Expect"), 0u);
    EXPECT_EQ(seen.headerCount("Content-Type"), 1u);
}

TEST_F(CurlTransportTest, OversizedAnswersFailInAnOrderlyWay) {
    const string big(64 * 1024, 'x');
    server.on("/announced", {200, big});
    server.on("/streamed", {200, big, {}, /*omitContentLength=*/true});
    server.on("/fits", {200, string(4096, 'y')});
    CurlTransport curl(4096);
    for (const string path : {"/announced", "/streamed"}) {
        try {
            curl.send(get(server.url() + path));
            ADD_FAILURE() << path << " was accepted";
        } catch (const TransportError& e) {
            EXPECT_EQ(string(e.what()),
                      "The service’s answer was larger than the limit of 4096 bytes")
                << path;
        }
    }
    EXPECT_EQ(curl.send(get(server.url() + "/fits")).body.size(), 4096u);
}

TEST_F(CurlTransportTest, TimeOutIsATransportError) {
    server.on("/silent", {.noAnswer = true});
    CurlTransport curl;
    HttpRequest r = get(server.url() + "/silent");
    r.timeout = std::chrono::milliseconds(200);
    try {
        curl.send(r);
        ADD_FAILURE() << "no time-out";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.code(), CURLE_OPERATION_TIMEDOUT);
        EXPECT_NE(string(e.what()).find("timed out"), string::npos) << e.what();
    }
}

TEST_F(CurlTransportTest, RedirectsAreNotFollowed) {
    server.on("/elsewhere", {200, "followed"});
    CurlTransport curl;
    for (int status : {301, 302, 303, 307, 308}) {
        server.on("/moved", {status, "", {{"Location", server.url() + "/elsewhere"}}});
        const HttpResponse answer = curl.send(get(server.url() + "/moved"));
        EXPECT_EQ(answer.status, status);
        EXPECT_EQ(answer.body, "");
    }
    EXPECT_TRUE(server.requestsTo("/elsewhere").empty());
}

TEST_F(CurlTransportTest, OnlyHttpAndHttpsAreSpoken) {
    CurlTransport curl;
    EXPECT_THROW(curl.send(get("file:///etc/hostname")), TransportError);
    EXPECT_FALSE(isUsableHttpUrl("file:///etc/hostname"));
    EXPECT_FALSE(isUsableHttpUrl("http://"));
    EXPECT_FALSE(isUsableHttpUrl("http://exa mple.com"));
    EXPECT_FALSE(isUsableHttpUrl("localhost:3000"));
    EXPECT_TRUE(isUsableHttpUrl("http://127.0.0.1:3000"));
    EXPECT_TRUE(isUsableHttpUrl("https://api.example.com/base/"));
}

// `openssl s_server` with a self-signed certificate on a loopback port, for as long as
// the object lives.
class SelfSignedTlsServer {
  public:
    SelfSignedTlsServer() {
        const string key = dir_.path() / "key.pem";
        const string cert = dir_.path() / "cert.pem";
        const string make =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
            "-keyout " +
            key + " -out " + cert + " >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0) {
            return;
        }
        // Port 0 is not accepted by s_server: take a free port from the kernel.
        LoopbackServer probe;
        port_ = probe.port();
    }
    bool start() {
        if (port_ == 0) {
            return false;
        }
        int out[2];
        if (pipe(out) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const string accept = "127.0.0.1:" + std::to_string(port_);
        const string key = dir_.path() / "key.pem";
        const string cert = dir_.path() / "cert.pem";
        std::vector<string> args = {"openssl", "s_server", "-accept", accept, "-cert",
                                    cert,      "-key",     key,       "-www"};
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int rc = posix_spawnp(&pid_, "openssl", &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            pid_ = -1;
            return false;
        }
        // s_server prints ACCEPT once it listens.
        string seen;
        char c;
        while (seen.find("ACCEPT") == string::npos && read(out[0], &c, 1) == 1) {
            seen.push_back(c);
        }
        close(out[0]);
        return seen.find("ACCEPT") != string::npos;
    }
    ~SelfSignedTlsServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    int port() const { return port_; }

  private:
    TempDir dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

TEST_F(CurlTransportTest, UntrustedCertificateIsRefused) {
    SelfSignedTlsServer tls;
    if (!tls.start()) {
        GTEST_SKIP() << "openssl s_server is not available";
    }
    CurlTransport curl;
    try {
        curl.send(get("https://127.0.0.1:" + std::to_string(tls.port()) + "/"));
        ADD_FAILURE() << "a self-signed certificate was accepted";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.code(), CURLE_PEER_FAILED_VERIFICATION) << e.what();
    }
}

TEST(PercentEncodingTest, KeepsUnreservedCharactersOnly) {
    EXPECT_EQ(percentEncoded("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(percentEncoded("a b+c&d=é"), "a%20b%2Bc%26d%3D%C3%A9");
}

}  // namespace
}  // namespace larkspire::testing

#include <gtest/gtest.h>

#include <curl/curl.h>

#include <atomic>
#include <thread>

#include "service/Http.h"
#include "support/ChildProcess.h"
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

// The time-out bounds a stretch without progress, not the whole exchange.
TEST_F(CurlTransportTest, ASlowAnswerThatKeepsMovingArrivesAndAStalledOneTimesOut) {
    const string body(100, 'x');
    server.on("/slow", {.body = body, .trickleMs = 25});
    server.on("/silent", {.noAnswer = true});
    CurlTransport curl;
    HttpRequest slow = get(server.url() + "/slow");  // about 2.5 s in all
    slow.timeout = std::chrono::milliseconds(1000);
    EXPECT_EQ(curl.send(slow).body, body);

    HttpRequest silent = get(server.url() + "/silent");
    silent.timeout = std::chrono::milliseconds(1000);
    try {
        curl.send(silent);
        ADD_FAILURE() << "no time-out";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.code(), CURLE_OPERATION_TIMEDOUT) << e.what();
    }
}

TEST_F(CurlTransportTest, ACancelledAnswerStopsDownloadingWithinASecondAndTheRetryAfterIsKept) {
    server.on("/drip", {.body = string(600, 'x'), .trickleMs = 100});  // a minute in all
    CurlTransport curl;
    HttpRequest drip = get(server.url() + "/drip");
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    drip.cancelled = cancelled;
    std::thread stopper([cancelled] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        *cancelled = true;
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(curl.send(drip), TransportError);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1800));

    server.on("/busy", {.status = 429, .headers = {{"Retry-After", "3"}}});
    EXPECT_EQ(curl.send(get(server.url() + "/busy")).retryAfter, "3");
}

TEST_F(CurlTransportTest, AStreamedBodyArrivesInPiecesAndARefusedPieceEndsIt) {
    server.on("/long", {.body = "abcdefgh", .omitContentLength = true, .trickleMs = 5});
    server.on("/busy", {503, "busy"});
    CurlTransport curl;
    HttpRequest r = get(server.url() + "/long");
    std::vector<string> pieces;
    r.onBody = [&pieces](std::string_view piece) {
        pieces.emplace_back(piece);
        return true;
    };
    EXPECT_EQ(curl.send(r).body, "");
    EXPECT_GT(pieces.size(), 1u);
    string joined;
    for (const string& p : pieces) {
        joined += p;
    }
    EXPECT_EQ(joined, "abcdefgh");

    pieces.clear();
    r.url = server.url() + "/busy";  // an error's text is kept, not streamed
    EXPECT_EQ(curl.send(r).body, "busy");
    EXPECT_TRUE(pieces.empty());

    r.url = server.url() + "/long";
    r.onBody = [](std::string_view) { return false; };
    EXPECT_THROW(curl.send(r), TransportError);
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

TEST_F(CurlTransportTest, UntrustedCertificateIsRefused) {
    TempDir dir;
    const string key = dir.path() / "key.pem";
    const string cert = dir.path() / "cert.pem";
    if (std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
                     "-keyout " +
                     key + " -out " + cert + " >/dev/null 2>&1")
                        .c_str()) != 0) {
        GTEST_SKIP() << "openssl is not available";
    }
    // s_server takes no port 0: use one the kernel just handed out and took back.
    const string port = std::to_string(LoopbackServer().port());
    // Serves one connection, then ends; it prints ACCEPT once it listens.
    ChildProcess tls({"openssl", "s_server", "-naccept", "1", "-www", "-accept",
                      "127.0.0.1:" + port, "-cert", cert, "-key", key},
                     "/dev/null");
    ASSERT_TRUE(tls.waitForLineStartingWith("ACCEPT", 10));
    try {
        CurlTransport().send(get("https://127.0.0.1:" + port + "/"));
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

#include <gtest/gtest.h>

#include <curl/curl.h>

#include "service/Http.h"
#include "unit/service/LoopbackServer.h"

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
    server.on("/streamed", {200, big, /*omitContentLength=*/true});
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
    server.on("/silent", {200, "", false, /*noAnswer=*/true});
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
    server.on("/moved", {302, ""});
    CurlTransport curl;
    EXPECT_EQ(curl.send(get(server.url() + "/moved")).status, 302);
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

TEST(PercentEncodingTest, KeepsUnreservedCharactersOnly) {
    EXPECT_EQ(percentEncoded("aZ09-._~"), "aZ09-._~");
    EXPECT_EQ(percentEncoded("a b+c&d=é"), "a%20b%2Bc%26d%3D%C3%A9");
}

}  // namespace
}  // namespace larkspire::testing

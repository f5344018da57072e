#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace larkspire {

// One HTTP request as the service client builds it.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    // Sent in this order, exactly as given.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // Bounds connecting, and every stretch of the exchange in which nothing moves: a slow
    // upload that keeps moving finishes however long it takes, a stalled one ends. (A cap
    // on the whole exchange made a 3 MiB piece undeliverable below about 26 KB/s.)
    std::chrono::milliseconds timeout{std::chrono::seconds(60)};
    // When given, setting it true from any thread ends the exchange within about a
    // second with a TransportError: an answer no longer wanted stops downloading.
    std::shared_ptr<const std::atomic<bool>> cancelled;
    // When given, the body of a 200 answer is handed here piece by piece as it arrives
    // (on the sending thread) instead of being kept in HttpResponse::body; returning false
    // ends the exchange with a TransportError. A long answer is then used before its end.
    std::function<bool(std::string_view piece)> onBody;
};

struct HttpResponse {
    std::string body;
    // The HTTP status code; every status is returned, 4xx and 5xx included.
    int status = 0;
    // The Retry-After header as sent, empty without one.
    std::string retryAfter;
};

// A failure below HTTP (no network, time-out, TLS, an oversized answer). Its text is the
// transport's own description and is shown to the user unchanged.
class TransportError : public std::runtime_error {
  public:
    TransportError(int code, const std::string& description)
        : std::runtime_error(description), code_(code) {}
    // The libcurl result code, or 0 for failures found before sending.
    int code() const { return code_; }

  private:
    int code_;
};

// Sends one request and blocks the calling thread until the exchange ends.
class HttpTransport {
  public:
    virtual ~HttpTransport() = default;
    // Throws TransportError; never throws for an HTTP status.
    virtual HttpResponse send(const HttpRequest& request) = 0;
};

// libcurl, one transfer per call on the caller's thread. TLS peer and host verification
// stay on; only http and https are spoken; redirects are not followed (a redirected
// request would carry the bearer token to a place the configuration never named).
class CurlTransport : public HttpTransport {
  public:
    // The largest answer kept in memory: speech audio of a long text fits comfortably.
    static constexpr size_t kDefaultMaxResponseBytes = 64u * 1024u * 1024u;

    explicit CurlTransport(size_t maxResponseBytes = kDefaultMaxResponseBytes);
    HttpResponse send(const HttpRequest& request) override;

  private:
    size_t maxResponseBytes_;
};

// Process-wide libcurl set-up. Call once from the process entry before any thread starts.
void initHttp();

// True when `url` is an absolute http or https URL with a host.
bool isUsableHttpUrl(const std::string& url);

// Percent-encodes everything but the unreserved characters of RFC 3986.
std::string percentEncoded(const std::string& text);

}  // namespace larkspire

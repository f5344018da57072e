#include "service/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

#include "util/CHandle.h"

namespace larkspire {
namespace {

using CurlHandle = CHandle<CURL, curl_easy_cleanup>;
using HeaderList = CHandle<curl_slist, curl_slist_free_all>;
using CurlString = CHandle<char, curl_free>;

struct Sink {
    std::string* body;
    size_t limit;
    CURL* curl;
    const std::function<bool(std::string_view)>* onBody;
    size_t received = 0;
    bool overflowed = false;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const size_t n = size * count;
    if (sink->received + n > sink->limit) {
        // Returning less than given aborts the transfer with CURLE_WRITE_ERROR.
        sink->overflowed = true;
        return 0;
    }
    sink->received += n;
    if (*sink->onBody) {
        // The status line has been read by the time the body arrives.
        long status = 0;
        curl_easy_getinfo(sink->curl, CURLINFO_RESPONSE_CODE, &status);
        if (status == 200) {
            return (*sink->onBody)(std::string_view(data, n)) ? n : 0;
        }
    }
    sink->body->append(data, n);
    return n;
}

void appendHeader(HeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown) {
        throw TransportError(CURLE_OUT_OF_MEMORY, curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    }
    (void)list.release();
    list.reset(grown);
}

// libcurl asks at least once a second, stalled or not; non-zero ends the transfer.
int progress(void* cancelled, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(cancelled)->load() ? 1 : 0;
}

std::string oversizeText(size_t limit) {
    return "The service’s answer was larger than the limit of " + std::to_string(limit) + " bytes";
}

}  // namespace

void initHttp() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

bool isUsableHttpUrl(const std::string& url) {
    CHandle<CURLU, curl_url_cleanup> parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    char* raw = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw, 0) != CURLUE_OK) {
        return false;
    }
    CurlString scheme(raw);
    const std::string s = scheme.get();
    if (s != "http" && s != "https") {
        return false;
    }
    raw = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_HOST, &raw, 0) != CURLUE_OK) {
        return false;
    }
    CurlString host(raw);
    return host && *host.get() != '\0';
}

std::string percentEncoded(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

CurlTransport::CurlTransport(size_t maxResponseBytes) : maxResponseBytes_(maxResponseBytes) {}

HttpResponse CurlTransport::send(const HttpRequest& request) {
    CurlHandle curl(curl_easy_init());
    if (!curl) {
        throw TransportError(CURLE_FAILED_INIT, curl_easy_strerror(CURLE_FAILED_INIT));
    }
    CURL* h = curl.get();
    HttpResponse response;
    Sink sink{&response.body, maxResponseBytes_, h, &request.onBody};
    char errorText[CURL_ERROR_SIZE] = {0};

    HeaderList headers;
    for (const auto& [name, value] : request.headers) {
        appendHeader(headers, name + ": " + value);
    }
    // libcurl would otherwise wait for "100 Continue" before sending a large body.
    appendHeader(headers, "Expect:");

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.timeout.count()));
    // Less than a byte a second, either way, for the whole time-out: no progress. libcurl
    // counts this in whole seconds.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME,
                     std::max(1L, static_cast<long>((request.timeout.count() + 999) / 1000)));
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &writeBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    // Refuse an announced oversized answer before reading it.
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxResponseBytes_));
    if (request.cancelled) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, request.cancelled.get());
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    if (request.method == "POST") {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
    } else if (request.method != "GET") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        }
    }

    const CURLcode result = curl_easy_perform(h);
    if (result != CURLE_OK) {
        if (sink.overflowed || result == CURLE_FILESIZE_EXCEEDED) {
            throw TransportError(result, oversizeText(maxResponseBytes_));
        }
        // libcurl's own detail ("Failed to connect to … port …") says more than the
        // generic text of the code.
        throw TransportError(result, errorText[0] != '\0'
                                         ? std::string(errorText)
                                         : std::string(curl_easy_strerror(result)));
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    curl_header* retryAfter = nullptr;
    if (curl_easy_header(h, "Retry-After", 0, CURLH_HEADER, -1, &retryAfter) == CURLHE_OK) {
        response.retryAfter = retryAfter->value;
    }
    return response;
}

}  // namespace larkspire

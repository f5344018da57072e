#include "account/WebUrl.h"

#include <curl/curl.h>

#include "util/CHandle.h"

namespace larkspire {
namespace {

using Url = CHandle<CURLU, curl_url_cleanup>;
constexpr unsigned kAnyScheme = CURLU_NON_SUPPORT_SCHEME;

std::string part(CURLU* url, CURLUPart which, unsigned flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(url, which, &raw, flags) != CURLUE_OK || !raw) {
        return {};
    }
    std::string out(raw);
    curl_free(raw);
    return out;
}

}  // namespace

std::optional<WebUrl> WebUrl::parse(const std::string& text) {
    Url url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), kAnyScheme) != CURLUE_OK) {
        return std::nullopt;
    }
    return WebUrl{part(url.get(), CURLUPART_SCHEME), part(url.get(), CURLUPART_HOST),
                  part(url.get(), CURLUPART_PORT),
                  part(url.get(), CURLUPART_PATH, CURLU_URLDECODE)};
}

std::optional<std::string> WebUrl::resolve(const std::string& base, const std::string& reference) {
    Url url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, base.c_str(), kAnyScheme) != CURLUE_OK ||
        curl_url_set(url.get(), CURLUPART_URL, reference.c_str(), kAnyScheme) != CURLUE_OK) {
        return std::nullopt;
    }
    std::string out = part(url.get(), CURLUPART_URL);
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}

}  // namespace larkspire

#include "account/WorkspaceController.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <vector>

#include "account/WebUrl.h"
#include "service/SessionStore.h"

namespace larkspire {
namespace {

std::string hostOf(const std::string& url) {
    const auto parsed = WebUrl::parse(url);
    return parsed ? parsed->host : std::string();
}

// Standard Base64 without line breaks.
std::string base64(const std::string& bytes) {
    std::vector<unsigned char> out(4 * ((bytes.size() + 2) / 3) + 1);
    const int written =
        EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<int>(bytes.size()));
    return std::string(reinterpret_cast<const char*>(out.data()), static_cast<size_t>(written));
}

}  // namespace

WorkspaceController::WorkspaceController(std::shared_ptr<APIClient> api, std::string baseUrl,
                                         Services services)
    : api_(std::move(api)), baseUrl_(std::move(baseUrl)), s_(services) {}

std::optional<std::string> WorkspaceController::baseUrlFor(const std::string& apiUrl,
                                                           const std::string& productionOrigin) {
    const auto url = WebUrl::parse(apiUrl);
    if (!url) {
        return std::nullopt;
    }
    if (url->host == "localhost" || url->host == "127.0.0.1") {
        return apiUrl;
    }
    return productionOrigin;
}

std::optional<std::string> WorkspaceController::handOverScript(const std::string& baseUrl,
                                                               const NativeSession& session) {
    std::string json;
    try {
        json = nlohmann::json{{"access_token", session.accessToken},
                              {"refresh_token", session.refreshToken}}
                   .dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;  // tokens that are not UTF-8
    }
    const auto url = WebUrl::parse(baseUrl);
    const std::string scheme = url && !url->scheme.empty() ? url->scheme : "https";
    const std::string origin = scheme + "://" + (url ? url->host : std::string());
    return "if (window.location.origin === '" + origin +
           "') { window.sessionStorage.setItem('larkspire.native-session', window.atob('" +
           base64(json) + "')); }";
}

void WorkspaceController::rebuildWebView(const std::string& path) {
    const std::uint64_t generation = ++generation_;
    const std::string absolutePath = path.rfind('/', 0) == 0 ? path : "/" + path;
    auto done = lifetime_.guard([this, generation](const std::optional<std::string>& url,
                                                   const std::optional<std::string>& script) {
        // A newer request replaces this web view before anyone could see it.
        if (generation != generation_ || !view_) {
            return;
        }
        if (!url) {
            view_->load(Page{baseUrl_, "", script});  // the window stays empty
            return;
        }
        view_->load(Page{baseUrl_, *url, script});
    });
    s_.scheduler.runInBackground(
        platform::Priority::userInitiated,
        [api = api_, &keychain = s_.keychain, &scheduler = s_.scheduler, base = baseUrl_,
         absolutePath, done]() mutable {
            try {
                api->ensureToken();  // renews and stores an expired session
            } catch (const std::exception&) {
                // Without a session the page signs in by itself.
            }
            std::optional<std::string> script;
            if (auto session = SessionStore::load(keychain)) {
                script = handOverScript(base, *session);
            }
            auto url = WebUrl::resolve(base, absolutePath);
            scheduler.post([done, url, script]() mutable { done(url, script); });
        });
}

void WorkspaceController::present() {
    if (view_) {
        view_->present();
    }
}

bool WorkspaceController::staysInWindow(const std::string& baseUrl, const std::string& url) {
    return !url.empty() && hostOf(url) == hostOf(baseUrl);
}

bool WorkspaceController::allowNavigation(const std::string& url) {
    if (url.empty()) {
        return false;
    }
    if (staysInWindow(baseUrl_, url)) {
        return true;
    }
    // Only what a browser, a mail program or the agent itself opens goes to the desktop:
    // never a file, a script or a share a page could point at.
    std::string scheme = url.substr(0, url.find(':'));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "larkspire") {
        s_.desktop.openUrl(url);
    }
    return false;
}

}  // namespace larkspire

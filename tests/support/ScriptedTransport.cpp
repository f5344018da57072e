#include "support/ScriptedTransport.h"

#include <strings.h>
#include <algorithm>

namespace larkspire::testing {

HttpResponse ScriptedTransport::send(const HttpRequest& request) {
    const std::string path = pathOf(request.url);
    std::shared_ptr<Handler> handler;
    {
        std::lock_guard lock(mutex_);
        sent_.push_back(request);
        if (auto it = pending_.find(path); it != pending_.end() && !it->second.empty()) {
            HttpResponse answer = std::move(it->second.front());
            it->second.pop_front();
            return answer;
        }
        if (auto it = standing_.find(path); it != standing_.end()) {
            handler = it->second;
        }
    }
    if (!handler) {
        throw TransportError(7, "Could not connect to server");
    }
    return (*handler)(request);
}

void ScriptedTransport::on(const std::string& path, int status, std::string body) {
    on(path, [status, body = std::move(body)](const HttpRequest&) {
        return HttpResponse{body, status};
    });
}

void ScriptedTransport::on(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    standing_[path] = std::make_shared<Handler>(std::move(handler));
}

void ScriptedTransport::once(const std::string& path, int status, std::string body) {
    std::lock_guard lock(mutex_);
    pending_[path].push_back(HttpResponse{std::move(body), status});
}

std::vector<HttpRequest> ScriptedTransport::sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::vector<HttpRequest> ScriptedTransport::sentTo(const std::string& path) const {
    std::vector<HttpRequest> out = sent();
    std::erase_if(out, [&](const HttpRequest& r) { return pathOf(r.url) != path; });
    return out;
}

std::vector<std::string> ScriptedTransport::paths() const {
    std::vector<std::string> out;
    for (const HttpRequest& r : sent()) {
        out.push_back(pathOf(r.url));
    }
    return out;
}

int ScriptedTransport::count(const std::string& path) const {
    return static_cast<int>(sentTo(path).size());
}

std::string ScriptedTransport::pathOf(std::string_view url) {
    const size_t host = url.find("//");
    const size_t slash = url.find('/', host == std::string_view::npos ? 0 : host + 2);
    if (slash == std::string_view::npos) {
        return "/";
    }
    const std::string_view path = url.substr(slash);
    return std::string(path.substr(0, path.find('?')));
}

std::optional<std::string> headerOf(const HttpRequest& request, std::string_view name) {
    for (const auto& [n, v] : request.headers) {
        if (n.size() == name.size() && strncasecmp(n.data(), name.data(), n.size()) == 0) {
            return v;
        }
    }
    return std::nullopt;
}

size_t headerCount(const HttpRequest& request, std::string_view name) {
    return static_cast<size_t>(
        std::count_if(request.headers.begin(), request.headers.end(), [&](const auto& h) {
            return h.first.size() == name.size() &&
                   strncasecmp(h.first.data(), name.data(), name.size()) == 0;
        }));
}

}  // namespace larkspire::testing

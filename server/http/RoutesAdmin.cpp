// Test controls: injected failures and the service clock. They answer only on loopback.
#include "server/http/Http.h"
#include "server/http/Service.h"

namespace larkspire::server {
namespace {

bool loopbackName(std::string_view host) {
    return host == "127.0.0.1" || host == "localhost" || host == "[::1]";
}

// The Host header without its port.
std::string_view hostName(std::string_view host) {
    auto end = host.rfind(':');
    if (end == std::string_view::npos || (host.front() == '[' && host.back() == ']')) {
        return host;
    }
    return host.substr(0, end);
}

// Any web page can make a browser send a "simple" cross-origin POST (form or text body, no
// preflight) to loopback. So a POST must carry JSON, which a page can send cross-origin only
// after a preflight that the service never grants, and a request with an Origin must come from
// a page of the service itself on a loopback name (a rebound DNS name shows in Host).
bool sentByAPage(const httplib::Request& req) {
    if (req.method == "POST" &&
        req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
        return true;
    }
    if (!req.has_header("Origin")) {
        return false;
    }
    std::string host = req.get_header_value("Host");
    return !loopbackName(hostName(host)) || req.get_header_value("Origin") != "http://" + host;
}

}  // namespace

void Service::registerAdminRoutes() {
    auto loopbackOnly = [](httplib::Server::Handler handler) {
        return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            if (!http::fromLoopback(req)) {
                http::sendError(res, 403, "Admin endpoints answer only on loopback");
                return;
            }
            if (sentByAPage(req)) {
                http::sendError(res, 403, "Admin endpoints take JSON from tools, not web pages");
                return;
            }
            handler(req, res);
        };
    };

    post("/__admin/fail", loopbackOnly([this](const httplib::Request& req, httplib::Response& res) {
             auto body = http::objectBody(req);
             const std::string* path = body ? http::stringMember(*body, "path") : nullptr;
             if (path == nullptr || path->empty() || (*path)[0] != '/') {
                 http::sendError(res, 400, "path must be a text starting with /");
                 return;
             }
             FaultRule rule;
             rule.path = *path;
             try {
                 rule.status = body->value("status", 0);
                 rule.malformed = body->value("malformed", false);
                 rule.delay = std::chrono::milliseconds(body->value("delayMs", 0));
                 rule.remaining = body->value("count", -1);
                 if (auto it = body->find("body"); it != body->end()) {
                     rule.body = it->is_string() ? it->get<std::string>() : it->dump();
                 }
             } catch (const nlohmann::json::exception&) {
                 http::sendError(res, 400, "status, delayMs and count must be numbers");
                 return;
             }
             if ((rule.status != 0 && (rule.status < 100 || rule.status > 599)) ||
                 rule.remaining == 0 || rule.delay.count() < 0) {
                 http::sendError(res, 400, "Invalid fault");
                 return;
             }
             faults_.add(rule);
             log_.line("fault added for " + rule.path);
             http::sendJson(res, 200, {{"ok", true}, {"faults", faults_.rules().size()}});
         }));

    remove("/__admin/fail", loopbackOnly([this](const httplib::Request&, httplib::Response& res) {
               faults_.clear();
               http::sendJson(res, 200, {{"ok", true}});
           }));

    server_.Get("/__admin/contextual",
                loopbackOnly([this](const httplib::Request&, httplib::Response& res) {
                    std::lock_guard lock(lastDraftMutex_);
                    if (lastDraftRequest_.empty()) {
                        http::sendError(res, 404, "No contextual request yet");
                        return;
                    }
                    http::sendJson(res, 200,
                                   {{"request", http::Json::parse(lastDraftRequest_)},
                                    {"answer", http::Json::parse(lastDraftAnswer_)}});
                }));

    post("/__admin/clock",
         loopbackOnly([this](const httplib::Request& req, httplib::Response& res) {
             auto body = http::objectBody(req);
             if (!body || !body->contains("advanceSeconds") ||
                 !(*body)["advanceSeconds"].is_number() ||
                 !clock_.advance((*body)["advanceSeconds"].get<double>())) {
                 http::sendError(res, 400,
                                 "advanceSeconds must be a number of seconds, not "
                                 "negative, that keeps the clock before the year 10000");
                 return;
             }
             http::sendJson(res, 200, {{"now", clock_.now()}, {"offset", clock_.offset()}});
         }));
}

}  // namespace larkspire::server

// Test controls: injected failures and the service clock. They answer only on loopback.
#include "Http.h"
#include "Service.h"

namespace larkspire::devservice {

void Service::registerAdminRoutes() {
    auto loopbackOnly = [](httplib::Server::Handler handler) {
        return [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            if (!http::fromLoopback(req)) {
                http::sendError(res, 403, "Admin endpoints answer only on loopback");
                return;
            }
            handler(req, res);
        };
    };

    server_.Post("/__admin/fail",
                 loopbackOnly([this](const httplib::Request& req, httplib::Response& res) {
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

    server_.Delete("/__admin/fail",
                   loopbackOnly([this](const httplib::Request&, httplib::Response& res) {
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

    server_.Post("/__admin/clock",
                 loopbackOnly([this](const httplib::Request& req, httplib::Response& res) {
                     auto body = http::objectBody(req);
                     if (!body || !body->contains("advanceSeconds") ||
                         !(*body)["advanceSeconds"].is_number() ||
                         (*body)["advanceSeconds"].get<double>() < 0) {
                         http::sendError(
                             res, 400, "advanceSeconds must be a number of seconds, not negative");
                         return;
                     }
                     clock_.advance((*body)["advanceSeconds"].get<double>());
                     http::sendJson(res, 200, {{"now", clock_.now()}, {"offset", clock_.offset()}});
                 }));
}

}  // namespace larkspire::devservice

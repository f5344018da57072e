#include "devservice/http/Service.h"

#include <thread>

#include "devservice/http/Http.h"

namespace larkspire::devservice {
namespace {

constexpr size_t kMaxBody = 64 * 1024 * 1024;

AuthSettings authSettings(const Options& options) {
    AuthSettings s;
    s.accessLifetime = options.tokenLifetime;
    return s;
}

}  // namespace

Service::Service(const Options& options, Log& log)
    : options_(options),
      log_(log),
      clock_(options.clockOffset),
      store_(options.dataDir / "larkspire.sqlite3"),
      outbox_(options.dataDir / "outbox.txt", [&log](const std::string& l) { log.line(l); }),
      auth_(store_, clock_, outbox_, authSettings(options)),
      recognizer_(RecognizerSettings{LARKSPIRE_POCKETSPHINX_MODELDIR, options.grammar,
                                     options.dataDir / "pocketsphinx.log"}) {
    for (const auto& rule : options.faults) {
        faults_.add(rule);
    }
    server_.set_payload_max_length(kMaxBody);
    installHooks();
    registerAuthRoutes();
    registerSpeechRoutes();
    registerAccountRoutes();
    registerNotesRoutes();
    registerAdminRoutes();
    registerWebRoutes();
    if (options.preload) {
        recognizer_.load();
    }
}

int Service::bind() {
    if (options_.port == 0) {
        return server_.bind_to_any_port(options_.host);
    }
    return server_.bind_to_port(options_.host, options_.port) ? options_.port : -1;
}

bool Service::run() {
    return server_.listen_after_bind();
}

void Service::stop() {
    server_.stop();
}

httplib::Server::Handler Service::authed(AuthedHandler handler) {
    return
        [this, handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            if (!req.has_header("Authorization")) {
                http::sendError(res, 401, "Missing access token");
                return;
            }
            auto user = auth_.userForBearer(req.get_header_value("Authorization"));
            if (!user) {
                http::sendError(res, 401, "Invalid or expired access token");
                return;
            }
            handler(req, res, *user);
        };
}

void Service::installHooks() {
    server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (req.path.rfind("/__admin/", 0) == 0) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        auto fault = faults_.take(req.path);
        if (!fault) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        if (fault->delay.count() > 0) {
            std::this_thread::sleep_for(fault->delay);
        }
        if (fault->status == 0) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        log_.line("injected " + std::to_string(fault->status) + " for " + req.path);
        res.status = fault->status;
        res.set_content(fault->body, fault->contentType.c_str());
        return httplib::Server::HandlerResponse::Handled;
    });
    server_.set_exception_handler(
        [this](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            log_.line("error in " + req.method + " " + req.path + ": " + what);
            http::sendError(res, 500, "Internal service error");
        });
    server_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        // Only fill answers that no handler wrote.
        if (res.body.empty()) {
            http::sendError(res, res.status, res.status == 404 ? "Not found" : "Request failed");
        }
    });
    server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        log_.line(req.method + " " + req.path + " " + std::to_string(res.status));
    });
}

}  // namespace larkspire::devservice

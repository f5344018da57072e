#include "server/http/Service.h"

#include <sys/socket.h>

#include <cmath>
#include <thread>

#include "server/http/Http.h"

namespace larkspire::server {
namespace {

constexpr size_t kMaxBody = 64 * 1024 * 1024;
// A slow client holds a worker for as long as it keeps sending, however slowly: with the
// library's default of 8 workers, 8 clients sending a byte every half second held up every
// other request for as long as they lasted.
constexpr size_t kWorkers = 64;
// The library listens with a queue of 5; a burst of 200 connections lost 150 of them.
constexpr int kListenBacklog = SOMAXCONN;

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
                                     options.dataDir / "pocketsphinx.log"}),
      deadline_(std::chrono::milliseconds(std::llround(options.requestDeadline * 1000))) {
    const auto& e = options.engines;
    if (e.stt) {
        stt_.emplace("Speech engine", *e.stt, e.stall);
    }
    if (e.llm) {
        llm_.emplace("Language model", *e.llm, e.stall);
    }
    if (e.tts) {
        tts_.emplace("Voice engine", *e.tts, e.stall);
    }
    for (const auto& rule : options.faults) {
        faults_.add(rule);
    }
    server_.set_payload_max_length(kMaxBody);
    // The library takes ownership of the queue it is handed.
    server_.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server_.set_socket_options([this](socket_t sock) {
        httplib::default_socket_options(sock);
        listenSocket_ = sock;
    });
    installHooks();
    registerAuthRoutes();
    registerSpeechRoutes();
    registerAccountRoutes();
    registerNotesRoutes();
    registerAdminRoutes();
    registerWebRoutes();
    registerEngineRoutes();
    // Last, so they catch only what no route took: a body sent to an unknown path is read
    // under the same limit before the 404.
    auto notFound = [](const httplib::Request&, httplib::Response& res) {
        http::sendError(res, 404, "Not found");
    };
    post(".*", notFound);
    patch(".*", notFound);
    remove(".*", notFound);
    server_.Put(".*", http::withBody(kMaxBody, notFound));
    if (options.preload && !stt_) {
        recognizer_.load();
    }
}

int Service::bind() {
    int port = options_.port == 0 ? server_.bind_to_any_port(options_.host)
               : server_.bind_to_port(options_.host, options_.port) ? options_.port
                                                                    : -1;
    // Listening again on the bound socket only lengthens its queue of pending connections.
    if (port > 0 && ::listen(listenSocket_, kListenBacklog) != 0) {
        return -1;
    }
    if (port > 0) {
        deadline_.watch(listenSocket_);
    }
    return port;
}

bool Service::run() {
    return server_.listen_after_bind();
}

void Service::stop() {
    server_.stop();
}

void Service::post(const std::string& pattern, httplib::Server::Handler handler) {
    server_.Post(pattern, http::withBody(kMaxBody, std::move(handler)));
}

void Service::patch(const std::string& pattern, httplib::Server::Handler handler) {
    server_.Patch(pattern, http::withBody(kMaxBody, std::move(handler)));
}

void Service::remove(const std::string& pattern, httplib::Server::Handler handler) {
    server_.Delete(pattern, http::withBody(kMaxBody, std::move(handler)));
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
        deadline_.arrived(req);
        // The library reads the body of a method it knows but no route takes (PRI) with no
        // limit when it is chunked; refuse it before any of the body is read.
        if (req.method == "PRI") {
            http::sendError(res, 405, "Method not allowed");
            return httplib::Server::HandlerResponse::Handled;
        }
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
    // Called once the whole answer has been written: an answer sent as it is made (speech)
    // takes longer than the deadline, which applies to the next request only.
    server_.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        deadline_.answered(req);
        log_.line(req.method + " " + req.path + " " + std::to_string(res.status));
    });
}

}  // namespace larkspire::server

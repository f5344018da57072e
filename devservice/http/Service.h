#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "devservice/app/Clock.h"
#include "devservice/app/Log.h"
#include "devservice/app/Options.h"
#include "devservice/auth/Auth.h"
#include "devservice/auth/Outbox.h"
#include "devservice/http/Faults.h"
#include "devservice/speech/Recognizer.h"
#include "devservice/speech/Synthesizer.h"
#include "devservice/store/Store.h"

namespace larkspire::devservice {

// The whole service: storage, sign-in, recognition, synthesis, drafting and the web pages,
// behind one HTTP server.
class Service {
  public:
    Service(const Options& options, Log& log);

    // Binds the socket; returns the port actually bound (useful with port 0), or -1.
    int bind();
    // Serves until stop() is called from another thread.
    bool run();
    void stop();

  private:
    using AuthedHandler =
        std::function<void(const httplib::Request&, httplib::Response&, const std::string&)>;
    httplib::Server::Handler authed(AuthedHandler handler);

    // Routes whose request body is read under the service's size limit, chunked or not.
    void post(const std::string& pattern, httplib::Server::Handler handler);
    void patch(const std::string& pattern, httplib::Server::Handler handler);
    void remove(const std::string& pattern, httplib::Server::Handler handler);

    void registerAuthRoutes();
    void registerSpeechRoutes();
    void registerAccountRoutes();
    void registerNotesRoutes();
    void registerAdminRoutes();
    void registerWebRoutes();
    void installHooks();

    Options options_;
    Log& log_;
    Clock clock_;
    Store store_;
    Outbox outbox_;
    Auth auth_;
    Faults faults_;
    Recognizer recognizer_;
    Synthesizer synthesizer_;
    // The last contextual draft request as received and the service's answer, for tests
    // to inspect (GET /__admin/contextual).
    std::mutex lastDraftMutex_;
    std::string lastDraftRequest_;
    std::string lastDraftAnswer_;
    httplib::Server server_;
    int listenSocket_ = -1;
};

}  // namespace larkspire::devservice

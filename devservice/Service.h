#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Auth.h"
#include "Clock.h"
#include "Faults.h"
#include "Log.h"
#include "Options.h"
#include "Outbox.h"
#include "Recognizer.h"
#include "Store.h"
#include "Synthesizer.h"

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
};

}  // namespace larkspire::devservice

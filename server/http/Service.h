#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "server/app/Clock.h"
#include "server/app/Log.h"
#include "server/app/Options.h"
#include "server/auth/Auth.h"
#include "server/auth/Outbox.h"
#include "server/engines/OpenAIEngine.h"
#include "server/http/Faults.h"
#include "server/http/RequestDeadline.h"
#include "server/speech/Recognizer.h"
#include "server/speech/Synthesizer.h"
#include "server/store/Store.h"

namespace larkspire::server {

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
    void registerEngineRoutes();
    void installHooks();

    // The raw transcript of an upload from the speech engine or PocketSphinx, without the
    // texts engines invent on silence; throws EngineError or RecognizerError.
    std::string transcribe(const httplib::Request& req, const std::vector<int16_t>& samples,
                           const std::vector<std::string>& vocabulary);
    // Answers with eSpeak NG's reading of `text`, sent block by block as it is made, so that
    // the agent plays a long text before its synthesis has ended.
    void speakAsMade(httplib::Response& res, const std::string& text);
    // Logs an engine's failure and answers the agent with its text.
    void engineFailed(httplib::Response& res, const char* task, const EngineError& e);
    // The cleaned transcript, by the language model or the rules; throws EngineError.
    std::string clean(const std::string& raw, const std::vector<std::string>& vocabulary);

    Options options_;
    Log& log_;
    Clock clock_;
    Store store_;
    Outbox outbox_;
    Auth auth_;
    Faults faults_;
    Recognizer recognizer_;
    Synthesizer synthesizer_;
    // Outside engines; an empty one is served by the embedded engine.
    std::optional<OpenAIEngine> stt_;
    std::optional<OpenAIEngine> llm_;
    std::optional<OpenAIEngine> tts_;
    // The last contextual draft request as received and the service's answer, for tests
    // to inspect (GET /__admin/contextual).
    std::mutex lastDraftMutex_;
    std::string lastDraftRequest_;
    std::string lastDraftAnswer_;
    httplib::Server server_;
    http::RequestDeadline deadline_;
    int listenSocket_ = -1;
};

}  // namespace larkspire::server

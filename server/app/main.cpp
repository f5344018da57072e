// larkspire-server: the local service, or one of its account commands.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>

#include "server/app/Clock.h"
#include "server/app/Log.h"
#include "server/app/Options.h"
#include "server/auth/Auth.h"
#include "server/auth/Crypto.h"
#include "server/engines/OpenAIEngine.h"
#include "server/http/Service.h"
#include "server/speech/Wav.h"
#include "server/store/Store.h"

namespace ds = larkspire::server;

namespace {

int addUser(const ds::Options& o) {
    std::string email = ds::Auth::normaliseEmail(o.arguments[0]);
    if (!ds::Auth::plausibleEmail(email) || o.arguments[1].empty()) {
        std::cerr << "larkspire-server: add-user needs an e-mail address and a password\n";
        return 2;
    }
    ds::Store store(o.dataDir / "larkspire.sqlite3");
    auto user = store.setPassword(email, ds::crypto::hashPassword(o.arguments[1]),
                                  ds::Clock(o.clockOffset).now());
    std::cout << "account " << user.email << " (" << user.id << ") can sign in with its password"
              << std::endl;
    return 0;
}

int addProject(const ds::Options& o) {
    std::string email = ds::Auth::normaliseEmail(o.arguments[0]);
    ds::Store store(o.dataDir / "larkspire.sqlite3");
    ds::Clock clock(o.clockOffset);
    auto user = store.findOrCreateUser(email, clock.now());
    auto project = store.addProject(user.id, o.arguments[1], ds::crypto::uuid(),
                                    ds::Clock::iso8601(clock.now()));
    std::cout << "project " << project.name << " (" << project.id << ") added for " << user.email
              << std::endl;
    return 0;
}

int addWord(const ds::Options& o) {
    std::string email = ds::Auth::normaliseEmail(o.arguments[0]);
    std::string word = o.arguments[1];
    if (word.empty() || word.size() > 100 || word.find('\n') != std::string::npos) {
        std::cerr << "larkspire-server: add-word needs a word or name of 1 to 100 characters\n";
        return 2;
    }
    ds::Store store(o.dataDir / "larkspire.sqlite3");
    ds::Clock clock(o.clockOffset);
    auto user = store.findOrCreateUser(email, clock.now());
    const bool added = store.addWord(user.id, word, clock.now());
    std::cout << "\"" << word << "\" " << (added ? "added to" : "already in")
              << " the vocabulary of " << user.email << std::endl;
    return 0;
}

// Asks each configured engine once, with the smallest request of its kind.
int check(const ds::Options& o) {
    const auto& e = o.engines;
    if (!e.stt && !e.llm && !e.tts) {
        std::cout << "No engines configured: recognition by PocketSphinx, cleanup and drafts by "
                     "rules, speech by eSpeak NG (all embedded)."
                  << std::endl;
        return 0;
    }
    int failed = 0;
    auto ask = [&](const std::optional<ds::EngineEndpoint>& endpoint, const char* name,
                   const std::function<std::string(const ds::OpenAIEngine&)>& request) {
        if (!endpoint) {
            return;
        }
        ds::OpenAIEngine engine(name, *endpoint, e.stall);
        try {
            std::cout << engine.who() << " (model " << endpoint->model << "): answered "
                      << request(engine) << std::endl;
        } catch (const ds::EngineError& error) {
            std::cout << error.what() << std::endl;
            ++failed;
        }
    };
    ask(e.stt, "Speech engine", [&](const ds::OpenAIEngine& engine) {
        // Half a second of silence: any answer with a "text" will do.
        auto text = engine.transcribe(ds::wav::encode(std::vector<int16_t>(8000), 16000),
                                      e.sttLanguage, "");
        return "\"" + text + "\" to half a second of silence";
    });
    ask(e.llm, "Language model", [&](const ds::OpenAIEngine& engine) {
        auto text = engine.chat({{{"role", "user"}, {"content", "Say ready."}}}, 16);
        return "\"" + text + "\"";
    });
    ask(e.tts, "Voice engine", [&](const ds::OpenAIEngine& engine) {
        return std::to_string(engine.speak("Ready.", e.ttsVoice).size()) + " bytes of audio";
    });
    return failed == 0 ? 0 : 1;
}

int serve(const ds::Options& o) {
    // Termination signals are taken by one thread with sigwait, so no handler needs global
    // state; every thread started later inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    ds::Log log(std::cerr);
    ds::Service service(o, log);
    int port = service.bind();
    if (port < 0) {
        std::cerr << "larkspire-server: cannot listen on " << o.host << ":" << o.port << "\n";
        return 1;
    }
    log.line("data folder " + o.dataDir.string() + "; outbox " +
             (o.dataDir / "outbox.txt").string());
    log.line(o.grammar ? "recognition restricted to the grammar " + o.grammar->string()
                       : "recognition with the general en-US model (poor on synthetic voices; "
                         "use --grammar for known sentences)");
    for (const auto& d : ds::describe(o.engines)) {
        log.line(d.task + ": " + d.engine + (d.url.empty() ? "" : " at " + d.url) +
                 (d.model.empty() ? "" : ", model " + d.model));
    }
    std::cout << "larkspire-server listening on http://" << o.host << ":" << port << std::endl;

    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        log.line("stopping on signal " + std::to_string(signal));
        service.stop();
    });
    bool ok = service.run();
    // run() also ends when the server fails; wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    auto options = ds::parseOptions(argc, argv, error);
    if (!options) {
        std::cerr << "larkspire-server: " << error << "\n\n" << ds::usage();
        return 2;
    }
    if (options->command == ds::Options::Command::Help) {
        std::cout << ds::usage();
        return 0;
    }
    try {
        std::filesystem::create_directories(options->dataDir);
        switch (options->command) {
            case ds::Options::Command::AddUser:
                return addUser(*options);
            case ds::Options::Command::AddProject:
                return addProject(*options);
            case ds::Options::Command::AddWord:
                return addWord(*options);
            case ds::Options::Command::Check:
                return check(*options);
            default:
                return serve(*options);
        }
    } catch (const std::exception& e) {
        std::cerr << "larkspire-server: " << e.what() << "\n";
        return 1;
    }
}

// larkspire-devservice: the local reference service, or one of its account commands.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "devservice/app/Clock.h"
#include "devservice/app/Log.h"
#include "devservice/app/Options.h"
#include "devservice/auth/Auth.h"
#include "devservice/auth/Crypto.h"
#include "devservice/http/Service.h"
#include "devservice/store/Store.h"

namespace ds = larkspire::devservice;

namespace {

int addUser(const ds::Options& o) {
    std::string email = ds::Auth::normaliseEmail(o.arguments[0]);
    if (!ds::Auth::plausibleEmail(email) || o.arguments[1].empty()) {
        std::cerr << "larkspire-devservice: add-user needs an e-mail address and a password\n";
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
        std::cerr << "larkspire-devservice: cannot listen on " << o.host << ":" << o.port << "\n";
        return 1;
    }
    log.line("data folder " + o.dataDir.string() + "; outbox " +
             (o.dataDir / "outbox.txt").string());
    log.line(o.grammar ? "recognition restricted to the grammar " + o.grammar->string()
                       : "recognition with the general en-US model (poor on synthetic voices; "
                         "use --grammar for known sentences)");
    std::cout << "larkspire-devservice listening on http://" << o.host << ":" << port << std::endl;

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
        std::cerr << "larkspire-devservice: " << error << "\n\n" << ds::usage();
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
            default:
                return serve(*options);
        }
    } catch (const std::exception& e) {
        std::cerr << "larkspire-devservice: " << e.what() << "\n";
        return 1;
    }
}

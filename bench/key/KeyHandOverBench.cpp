// How soon the running agent hears a key the compositor hands over: from starting
// `larkspire-key press` to the agent's single-instance socket delivering the message, 30
// times, against `larkspire --key press` (which loads Qt) in the same run. Goal: at most
// 10 ms at the median. Exit status 1 when the goal is missed.
//   bench_key [RUNS]
#include <spawn.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/linux/qt/SingleInstance.h"

extern char** environ;

namespace {

struct Times {
    double median;
    double worst;
};

// Milliseconds from spawning `program --key press`-style arguments to the message.
Times measure(larkspire::linux_desktop::SingleInstance& agent, std::vector<std::string> command,
              int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        bool heard = false;
        agent.onMessage([&](const QStringList&) {
            heard = true;
            loop.quit();
        });
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        std::vector<char*> argv;
        for (auto& a : command) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        QElapsedTimer clock;
        clock.start();
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            std::fprintf(stderr, "cannot start %s\n", argv[0]);
            std::exit(2);
        }
        if (!heard) {
            loop.exec();
        }
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        waitpid(pid, nullptr, 0);
        if (!heard) {
            std::fprintf(stderr, "%s: the agent heard nothing\n", argv[0]);
            std::exit(2);
        }
        ms.push_back(elapsed);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    // A socket of its own, so a running agent is never disturbed.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QCoreApplication application(argc, argv);
    larkspire::linux_desktop::SingleInstance agent("larkspire");
    if (!agent.claim({})) {
        std::fprintf(stderr, "cannot listen as the agent\n");
        return 2;
    }
    const Times key = measure(agent, {KEY_COMMAND, "press"}, runs);
    const Times reference = measure(agent, {AGENT_COMMAND, "--key", "press"}, runs);
    std::printf("key hand-over, %d runs (ms)      median   worst\n", runs);
    std::printf("  larkspire-key press            %6.1f  %6.1f   goal: median <= 10\n", key.median,
                key.worst);
    std::printf("  larkspire --key press (ref.)   %6.1f  %6.1f\n", reference.median,
                reference.worst);
    std::printf("  ratio                          %6.2f\n", key.median / reference.median);
    return key.median <= 10.0 ? 0 : 1;
}

#pragma once

// A test application in its own process, its stdout read line by line, and the Qt event
// loop pumped while waiting for it. Header-only: each integration test compiles it.
#include <unistd.h>
#include <QCoreApplication>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/FrontmostApp.h"
#include "support/ChildProcess.h"

namespace larkspire::testing {

// Runs the event loop until `done` or the time is up.
inline bool pumpUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(2000);
    }
    return true;
}

inline void pumpFor(double seconds) {
    pumpUntil([] { return false; }, seconds);
}

// Until the front window belongs to `pid`: the window manager maps a new window late on a
// loaded machine.
inline bool waitFront(platform::FrontmostApp& frontmost, pid_t pid) {
    return pumpUntil(
        [&] {
            auto front = frontmost.frontmost();
            return front && front->processIdentifier == pid;
        },
        5);
}

// The program prints "ready PID" once it can be used; it is ended with SIGTERM.
class TargetApp : public ChildProcess {
  public:
    TargetApp(std::string program, std::vector<std::string> args)
        : ChildProcess([&] {
              args.insert(args.begin(), std::move(program));
              return args;
          }()) {}

    // Waits for a line equal to `line`, running the event loop meanwhile.
    bool waitFor(const std::string& line, double seconds = 5) {
        return pumpUntil([&] { return seen(line); }, seconds);
    }
    bool waitReady() { return waitFor("ready " + std::to_string(pid()), 10); }
};

}  // namespace larkspire::testing

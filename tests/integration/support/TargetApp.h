#pragma once

// A test application in its own process, its stdout read line by line, and the Qt event
// loop pumped while waiting for it. Header-only: each integration test compiles it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

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

// The program prints "ready PID" once it can be used; it is ended with SIGTERM.
class TargetApp {
  public:
    TargetApp(std::string program, std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = 0;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        fd_ = fds[0];
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~TargetApp() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    TargetApp(const TargetApp&) = delete;
    TargetApp& operator=(const TargetApp&) = delete;

    pid_t pid() const { return pid_; }

    // Waits for a line equal to `line`.
    bool waitFor(const std::string& line, double seconds = 5) {
        return pumpUntil([&] { return seen(line); }, seconds);
    }
    bool seen(const std::string& line) {
        read();
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }
    std::vector<std::string> lines() {
        read();
        return lines_;
    }
    bool waitReady() { return waitFor("ready " + std::to_string(pid_), 10); }

  private:
    void read() {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(fd_, chunk, sizeof(chunk))) > 0) {
            buffer_.append(chunk, static_cast<size_t>(n));
        }
        size_t end;
        while ((end = buffer_.find('\n')) != std::string::npos) {
            lines_.push_back(buffer_.substr(0, end));
            buffer_.erase(0, end + 1);
        }
    }
    pid_t pid_ = 0;
    int fd_ = -1;
    std::string buffer_;
    std::vector<std::string> lines_;
};

}  // namespace larkspire::testing

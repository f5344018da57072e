#include "support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace larkspire::testing {

ChildProcess::ChildProcess(std::vector<std::string> args, const std::string& stderrFile) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (!stderrFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int error = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    fd_ = out[0];
    if (error != 0) {
        ::close(fd_);
        throw std::runtime_error("cannot run " + args[0]);
    }
    ::fcntl(fd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (!reaped_) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    ::close(fd_);
}

void ChildProcess::read(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return;
    }
    char chunk[4096];
    ssize_t n;
    while ((n = ::read(fd_, chunk, sizeof chunk)) > 0) {
        partial_.append(chunk, static_cast<size_t>(n));
    }
    for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
        lines_.push_back(partial_.substr(0, end));
        partial_.erase(0, end + 1);
    }
}

std::vector<std::string> ChildProcess::lines() {
    read(0);
    return lines_;
}

bool ChildProcess::seen(const std::string& line) {
    read(0);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

bool ChildProcess::waitForLine(const std::string& line, double seconds) {
    return waitFor(line, true, seconds).has_value();
}

std::optional<std::string> ChildProcess::waitForLineStartingWith(const std::string& prefix,
                                                                 double seconds) {
    return waitFor(prefix, false, seconds);
}

std::optional<std::string> ChildProcess::waitFor(const std::string& prefix, bool whole,
                                                 double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (size_t checked = 0;;) {
        read(0);
        for (; checked < lines_.size(); ++checked) {
            const std::string& l = lines_[checked];
            if (whole ? l == prefix : l.starts_with(prefix)) {
                return l.substr(prefix.size());
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        read(static_cast<int>(left.count()));
    }
}

int ChildProcess::wait(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (std::chrono::steady_clock::now() > end) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            reaped_ = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ChildProcess::readBytes(int timeoutMs) {
    read(timeoutMs);
    std::string bytes;
    for (const auto& line : lines_) {
        bytes += line + '\n';
    }
    lines_.clear();
    return bytes + std::exchange(partial_, {});
}

void ChildProcess::signal(int number) {
    ::kill(pid_, number);
}

}  // namespace larkspire::testing

#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Scheduler.h"
#include "platform/linux/posix/SystemClock.h"
#include "util/ThreadSerialQueue.h"

extern char** environ;

namespace larkspire::testing {

inline double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Starts a program found on PATH; its process id.
inline pid_t spawn(const std::vector<std::string>& args,
                   posix_spawn_file_actions_t* actions = nullptr) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot run " + args[0]);
    }
    return pid;
}

// Waits at most `limit` seconds for the process; its exit status, or -1 after killing it.
inline int waitFor(pid_t pid, double limit) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (secondsSince(start) > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

using larkspire::ThreadSerialQueue;
using larkspire::desktop::SystemClock;

// Serial queues on real threads; main-queue tasks wait until the test runs them.
class ThreadScheduler : public platform::Scheduler {
  public:
    void post(platform::Task task) override {
        std::lock_guard lock(mutex_);
        main_.push_back(std::move(task));
    }
    void postAfter(platform::Duration, platform::Task) override {
        throw std::logic_error("not used by these tests");
    }
    std::unique_ptr<platform::RepeatingTimer> repeat(platform::Duration, platform::Task) override {
        throw std::logic_error("not used by these tests");
    }
    void runInBackground(platform::Priority, platform::Task) override {
        throw std::logic_error("not used by these tests");
    }
    std::shared_ptr<platform::SerialQueue> serialQueue(const std::string& name) override {
        std::lock_guard lock(mutex_);
        auto& q = queues_[name];
        if (!q) {
            q = std::make_shared<ThreadSerialQueue>();
        }
        return q;
    }
    int runMain() {
        std::deque<platform::Task> tasks;
        {
            std::lock_guard lock(mutex_);
            tasks.swap(main_);
        }
        for (auto& t : tasks) {
            t();
        }
        return static_cast<int>(tasks.size());
    }

  private:
    std::mutex mutex_;
    std::deque<platform::Task> main_;
    std::map<std::string, std::shared_ptr<ThreadSerialQueue>> queues_;
};

}  // namespace larkspire::testing

#pragma once

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
#include "platform/linux/common/ThreadSerialQueue.h"
#include "platform/linux/posix/SystemClock.h"

namespace larkspire::testing {

inline double secondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

using larkspire::linux_desktop::SystemClock;
using larkspire::linux_desktop::ThreadSerialQueue;

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

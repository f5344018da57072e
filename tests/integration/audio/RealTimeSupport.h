#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/Clock.h"
#include "platform/Scheduler.h"

namespace larkspire::testing {

class SystemClock : public platform::Clock {
  public:
    platform::TimePoint now() const override { return std::chrono::system_clock::now(); }
};

// A serial queue on its own thread, as the agent's real scheduler provides.
class ThreadSerialQueue : public platform::SerialQueue {
  public:
    ThreadSerialQueue() : worker_([this] { run(); }) {}
    ~ThreadSerialQueue() override {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }
    void async(platform::Task task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        wake_.notify_all();
    }
    void sync(platform::Task task) override {
        std::mutex doneMutex;
        std::condition_variable doneCondition;
        bool done = false;
        async([&] {
            task();
            std::lock_guard lock(doneMutex);
            done = true;
            doneCondition.notify_all();
        });
        std::unique_lock lock(doneMutex);
        doneCondition.wait(lock, [&] { return done; });
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            platform::Task task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<platform::Task> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

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

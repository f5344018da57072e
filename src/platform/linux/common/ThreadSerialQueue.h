#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/Scheduler.h"

namespace larkspire::linux_desktop {

// A serial queue on a worker thread of its own: tasks run one at a time, in order.
// Destruction runs what is already queued, then joins the thread.
class ThreadSerialQueue : public platform::SerialQueue {
  public:
    ThreadSerialQueue();
    ~ThreadSerialQueue() override;
    ThreadSerialQueue(const ThreadSerialQueue&) = delete;
    ThreadSerialQueue& operator=(const ThreadSerialQueue&) = delete;

    // Safe from any thread (the capture thread queues audio blocks here).
    void async(platform::Task task) override;
    // From the queue's own thread the task runs at once, which keeps order and cannot
    // deadlock.
    void sync(platform::Task task) override;

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<platform::Task> tasks_;
    bool stopping_ = false;
    std::thread worker_;
};

}  // namespace larkspire::linux_desktop

#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace larkspire::platform {

using Task = std::function<void()>;
using Duration = std::chrono::duration<double>;

enum class Priority { userInitiated, utility, background };

// A repeating timer; it stops when invalidated or destroyed.
class RepeatingTimer {
  public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

// A queue that runs its tasks one at a time, in order, off the main thread.
class SerialQueue {
  public:
    virtual ~SerialQueue() = default;
    virtual void async(Task task) = 0;
    // Runs the task on the queue and returns when it has finished.
    virtual void sync(Task task) = 0;
};

// Where the logic runs work: the main queue (now, later, repeatedly), background
// threads by priority, and named serial queues. The logic never calls the toolkit
// to schedule anything; this is the only door.
class Scheduler {
  public:
    virtual ~Scheduler() = default;
    virtual void post(Task task) = 0;
    virtual void postAfter(Duration delay, Task task) = 0;
    virtual std::unique_ptr<RepeatingTimer> repeat(Duration interval, Task task) = 0;
    virtual void runInBackground(Priority priority, Task task) = 0;
    virtual std::shared_ptr<SerialQueue> serialQueue(const std::string& name) = 0;
};

}  // namespace larkspire::platform

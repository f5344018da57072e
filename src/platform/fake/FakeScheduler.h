#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Scheduler.h"
#include "platform/fake/VirtualClock.h"

namespace larkspire::fake {

// Deterministic scheduler over a VirtualClock. Nothing runs until the test drives it:
// main-queue tasks run in due order as time advances, background work and serial
// queues run when the test drains them, so interleavings are chosen, not raced.
class FakeScheduler : public platform::Scheduler {
  public:
    explicit FakeScheduler(VirtualClock& clock);
    ~FakeScheduler() override;

    void post(platform::Task task) override;
    void postAfter(platform::Duration delay, platform::Task task) override;
    std::unique_ptr<platform::RepeatingTimer> repeat(platform::Duration interval,
                                                     platform::Task task) override;
    void runInBackground(platform::Priority priority, platform::Task task) override;
    std::shared_ptr<platform::SerialQueue> serialQueue(const std::string& name) override;

    // Runs the main-queue tasks due now, including those they post for now.
    void runDue();
    // Moves the clock forward by `d`, running each main-queue task at its due time.
    void advance(platform::Duration d);
    // Runs the oldest background task; false when there is none.
    bool runOneBackground();
    // Runs background tasks until none is left; returns how many ran.
    int runBackground();
    // Runs every pending task of every serial queue.
    int runSerialQueues();
    // Alternates main (due now), background and serial work until all are empty.
    void runUntilIdle();

    size_t pendingBackground() const { return background_.size(); }
    size_t pendingMain() const { return main_.size(); }
    std::vector<platform::Priority> backgroundPriorities() const;

  private:
    struct Entry {
        platform::TimePoint due;
        platform::Task task;
        std::shared_ptr<bool> repeatValid;  // set for repeating timers
        platform::Duration interval{0};
    };
    class Timer;
    class Queue;

    void schedule(platform::TimePoint due, Entry entry);
    bool runNextDueBy(platform::TimePoint limit);

    VirtualClock& clock_;
    std::multimap<std::pair<platform::TimePoint, uint64_t>, Entry> main_;
    uint64_t sequence_ = 0;
    std::deque<std::pair<platform::Priority, platform::Task>> background_;
    std::map<std::string, std::shared_ptr<Queue>> queues_;
};

}  // namespace larkspire::fake

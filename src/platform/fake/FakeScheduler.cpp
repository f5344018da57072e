#include "platform/fake/FakeScheduler.h"

namespace larkspire::fake {

using platform::Duration;
using platform::Task;
using platform::TimePoint;

class FakeScheduler::Timer : public platform::RepeatingTimer {
  public:
    explicit Timer(std::shared_ptr<bool> valid) : valid_(std::move(valid)) {}
    ~Timer() override { *valid_ = false; }
    void invalidate() override { *valid_ = false; }
    bool isValid() const override { return *valid_; }

  private:
    std::shared_ptr<bool> valid_;
};

class FakeScheduler::Queue : public platform::SerialQueue {
  public:
    void async(Task task) override { tasks_.push_back(std::move(task)); }
    void sync(Task task) override {
        drain();
        task();
    }
    int drain() {
        int ran = 0;
        while (!tasks_.empty()) {
            Task t = std::move(tasks_.front());
            tasks_.pop_front();
            t();
            ++ran;
        }
        return ran;
    }

  private:
    std::deque<Task> tasks_;
};

FakeScheduler::FakeScheduler(VirtualClock& clock) : clock_(clock) {}
FakeScheduler::~FakeScheduler() = default;

void FakeScheduler::schedule(TimePoint due, Entry entry) {
    entry.due = due;
    main_.emplace(std::make_pair(due, sequence_++), std::move(entry));
}

void FakeScheduler::post(Task task) {
    schedule(clock_.now(), Entry{{}, std::move(task), {}, {}});
}

void FakeScheduler::postAfter(Duration delay, Task task) {
    schedule(clock_.now() + std::chrono::duration_cast<TimePoint::duration>(delay),
             Entry{{}, std::move(task), {}, {}});
}

std::unique_ptr<platform::RepeatingTimer> FakeScheduler::repeat(Duration interval, Task task) {
    auto valid = std::make_shared<bool>(true);
    schedule(clock_.now() + std::chrono::duration_cast<TimePoint::duration>(interval),
             Entry{{}, std::move(task), valid, interval});
    return std::make_unique<Timer>(valid);
}

void FakeScheduler::runInBackground(platform::Priority priority, Task task) {
    background_.emplace_back(priority, std::move(task));
}

std::shared_ptr<platform::SerialQueue> FakeScheduler::serialQueue(const std::string& name) {
    auto& q = queues_[name];
    if (!q) {
        q = std::make_shared<Queue>();
    }
    return q;
}

bool FakeScheduler::runNextDueBy(TimePoint limit) {
    if (main_.empty() || main_.begin()->first.first > limit) {
        return false;
    }
    auto node = main_.extract(main_.begin());
    Entry entry = std::move(node.mapped());
    if (entry.due > clock_.now()) {
        clock_.set(entry.due);
    }
    if (entry.repeatValid) {
        if (!*entry.repeatValid) {
            return true;
        }
        // Re-arm before running so that the task may invalidate its own timer.
        Entry next = entry;
        schedule(entry.due + std::chrono::duration_cast<TimePoint::duration>(entry.interval),
                 std::move(next));
    }
    entry.task();
    return true;
}

void FakeScheduler::runDue() {
    while (runNextDueBy(clock_.now())) {
    }
}

void FakeScheduler::advance(Duration d) {
    const TimePoint target = clock_.now() + std::chrono::duration_cast<TimePoint::duration>(d);
    while (runNextDueBy(target)) {
    }
    clock_.set(target);
}

bool FakeScheduler::runOneBackground() {
    if (background_.empty()) {
        return false;
    }
    Task t = std::move(background_.front().second);
    background_.pop_front();
    t();
    return true;
}

int FakeScheduler::runBackground() {
    int ran = 0;
    while (runOneBackground()) {
        ++ran;
    }
    return ran;
}

int FakeScheduler::runSerialQueues() {
    int ran = 0;
    for (auto& [name, q] : queues_) {
        ran += q->drain();
    }
    return ran;
}

void FakeScheduler::runUntilIdle() {
    for (;;) {
        runDue();
        int ran = runBackground() + runSerialQueues();
        if (ran == 0 && (main_.empty() || main_.begin()->first.first > clock_.now())) {
            return;
        }
    }
}

std::vector<platform::Priority> FakeScheduler::backgroundPriorities() const {
    std::vector<platform::Priority> out;
    for (const auto& [p, t] : background_) {
        out.push_back(p);
    }
    return out;
}

}  // namespace larkspire::fake

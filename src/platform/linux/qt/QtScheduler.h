#pragma once

#include <QObject>
#include <QThreadPool>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Scheduler.h"

namespace larkspire::linux_desktop {

// Main-queue work goes through the Qt event loop of `context`'s thread; serial queues are
// threads of their own. Background work runs on a pool of its own, wide enough that each
// submission runs at once: Qt's global pool runs as many jobs as there are cores, so on
// two cores a third upload waited up to 120 s behind two slow ones. Destruction waits
// for background work still running.
class QtScheduler : public platform::Scheduler {
  public:
    explicit QtScheduler(QObject* context);
    ~QtScheduler() override;

    void post(platform::Task task) override;
    void postAfter(platform::Duration delay, platform::Task task) override;
    std::unique_ptr<platform::RepeatingTimer> repeat(platform::Duration interval,
                                                     platform::Task task) override;
    void runInBackground(platform::Priority priority, platform::Task task) override;
    std::shared_ptr<platform::SerialQueue> serialQueue(const std::string& name) override;

    static constexpr int kMaxBackgroundThreads = 64;

  private:
    QObject* context_;
    QThreadPool pool_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<platform::SerialQueue>> queues_;
};

}  // namespace larkspire::linux_desktop

#pragma once

#include <QObject>
#include <map>
#include <memory>
#include <mutex>

#include "platform/Scheduler.h"

namespace larkspire::desktop {

// Main-queue work goes through the Qt event loop of `context`'s thread; background work
// to Qt's global thread pool; serial queues are threads of their own.
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

  private:
    QObject* context_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<platform::SerialQueue>> queues_;
};

}  // namespace larkspire::desktop

#include "platform/linux/qt/QtScheduler.h"

#include "platform/linux/common/ThreadSerialQueue.h"

#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

namespace larkspire::linux_desktop {
namespace {

int milliseconds(platform::Duration d) {
    return static_cast<int>(std::max(0.0, d.count() * 1000.0 + 0.5));
}

class QtRepeatingTimer : public platform::RepeatingTimer {
  public:
    QtRepeatingTimer(QObject* context, platform::Duration interval, platform::Task task)
        : timer_(new QTimer(context)) {  // owned by `context`; we only keep a guarded handle
        timer_->setInterval(milliseconds(interval));
        QObject::connect(timer_, &QTimer::timeout, timer_, std::move(task));
        timer_->start();
    }
    ~QtRepeatingTimer() override { invalidate(); }
    void invalidate() override {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
            timer_.clear();
        }
    }
    bool isValid() const override { return !timer_.isNull() && timer_->isActive(); }

  private:
    QPointer<QTimer> timer_;
};

}  // namespace

QtScheduler::QtScheduler(QObject* context) : context_(context) {
    pool_.setMaxThreadCount(kMaxBackgroundThreads);
}
QtScheduler::~QtScheduler() = default;

void QtScheduler::post(platform::Task task) {
    QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void QtScheduler::postAfter(platform::Duration delay, platform::Task task) {
    QTimer::singleShot(milliseconds(delay), Qt::PreciseTimer, context_, std::move(task));
}

std::unique_ptr<platform::RepeatingTimer> QtScheduler::repeat(platform::Duration interval,
                                                              platform::Task task) {
    return std::make_unique<QtRepeatingTimer>(context_, interval, std::move(task));
}

void QtScheduler::runInBackground(platform::Priority priority, platform::Task task) {
    const int qtPriority = priority == platform::Priority::userInitiated ? 2
                           : priority == platform::Priority::utility     ? 1
                                                                         : 0;
    pool_.start(std::move(task), qtPriority);
}

std::shared_ptr<platform::SerialQueue> QtScheduler::serialQueue(const std::string& name) {
    std::lock_guard lock(mutex_);
    auto& q = queues_[name];
    if (!q) {
        q = std::make_shared<ThreadSerialQueue>();
    }
    return q;
}

}  // namespace larkspire::linux_desktop

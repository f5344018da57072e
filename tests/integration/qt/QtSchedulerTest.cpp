#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/linux/qt/QtScheduler.h"

namespace larkspire::linux_desktop {
namespace {

// Uploads, sign-ins and reports each run at once, however many are already running:
// tasks that wait for each other all get to run.
TEST(QtScheduler, BackgroundTasksRunAtOnceWhateverIsAlreadyRunning) {
    constexpr int kTasks = 6;  // more than the cores of any machine this runs on
    std::mutex mutex;
    std::condition_variable changed;
    int running = 0, sawAll = 0, finished = 0;
    {
        QtScheduler scheduler(nullptr);
        for (int i = 0; i < kTasks; ++i) {
            scheduler.runInBackground(platform::Priority::userInitiated, [&] {
                std::unique_lock lock(mutex);
                ++running;
                changed.notify_all();
                if (changed.wait_for(lock, std::chrono::seconds(5),
                                     [&] { return running == kTasks; })) {
                    ++sawAll;
                }
                ++finished;
            });
        }
    }  // waits for the tasks
    EXPECT_EQ(finished, kTasks);
    EXPECT_EQ(sawAll, kTasks);
}

}  // namespace
}  // namespace larkspire::linux_desktop

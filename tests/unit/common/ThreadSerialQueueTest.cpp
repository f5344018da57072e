#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "platform/linux/common/ThreadSerialQueue.h"

namespace larkspire::linux_desktop {
namespace {

TEST(ThreadSerialQueue, RunsTasksFromManyThreadsOneAtATimeInQueueOrder) {
    std::vector<int> seen;  // touched only on the queue's thread
    std::atomic<int> running{0};
    bool overlapped = false;
    {
        ThreadSerialQueue queue;
        std::vector<std::thread> producers;
        for (int p = 0; p < 4; ++p) {
            producers.emplace_back([&, p] {
                for (int i = 0; i < 100; ++i) {
                    queue.async([&, value = p * 1000 + i] {
                        overlapped |= running.fetch_add(1) != 0;
                        seen.push_back(value);
                        running.fetch_sub(1);
                    });
                }
            });
        }
        for (auto& t : producers) {
            t.join();
        }
    }
    ASSERT_EQ(seen.size(), 400u);
    EXPECT_FALSE(overlapped);
    // Each producer's tasks keep their order.
    std::vector<int> last(4, -1);
    for (int v : seen) {
        EXPECT_GT(v % 1000, last[v / 1000]);
        last[v / 1000] = v % 1000;
    }
}

TEST(ThreadSerialQueue, SyncWaitsForEarlierTasksAndMayBeCalledFromTheQueue) {
    ThreadSerialQueue queue;
    std::vector<int> order;
    queue.async([&] { order.push_back(1); });
    queue.sync([&] {
        order.push_back(2);
        queue.sync([&] { order.push_back(3); });  // from the queue itself: runs at once
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(ThreadSerialQueue, DestructionRunsEveryTaskStillQueued) {
    constexpr int kQueued = 50;
    std::latch started(1);
    std::latch release(1);
    int ran = 0;  // touched only on the queue's thread, read after it is joined
    auto queue = std::make_unique<ThreadSerialQueue>();
    queue->async([&] {
        started.count_down();
        release.wait();
    });
    started.wait();
    // The worker is held inside the first task: all of these are still queued when the
    // destructor begins, which joins the worker only after running them.
    for (int i = 0; i < kQueued; ++i) {
        queue->async([&] { ++ran; });
    }
    release.count_down();
    queue.reset();
    EXPECT_EQ(ran, kQueued);
}

}  // namespace
}  // namespace larkspire::linux_desktop

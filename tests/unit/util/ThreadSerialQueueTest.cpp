#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "util/ThreadSerialQueue.h"

namespace larkspire {
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
        // Destruction runs everything already queued.
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

}  // namespace
}  // namespace larkspire

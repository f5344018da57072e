#include "unit/vault/VaultFixture.h"

namespace larkspire::testing {
namespace {

using VaultTimerTest = VaultTest;

TEST_F(VaultTimerTest, StartPassesAtOnceThenEveryFiveMinutes) {
    auto vault = makeVault();
    vault->start();
    // Queued, not run: the pass belongs to the "vault-sync" queue.
    EXPECT_EQ(server.requestCount(), 0u);
    scheduler.serialQueue("vault-sync")->sync([] {});
    EXPECT_EQ(server.requestCount(), 1u);

    scheduler.advance(platform::Duration(299.9));
    scheduler.runSerialQueues();
    EXPECT_EQ(server.requestCount(), 1u);
    scheduler.advance(platform::Duration(0.1));
    scheduler.runSerialQueues();
    EXPECT_EQ(server.requestCount(), 2u);
    scheduler.advance(platform::Duration(900));
    scheduler.runSerialQueues();
    EXPECT_EQ(server.requestCount(), 5u);
}

TEST_F(VaultTimerTest, EachSyncSoonQueuesItsOwnPass) {
    auto vault = makeVault();
    vault->syncSoon();
    vault->syncSoon();
    vault->syncSoon();
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(scheduler.runSerialQueues(), 3);
    EXPECT_EQ(server.requestCount(), 3u);
    EXPECT_EQ(scheduler.pendingMain(), 0u);  // no timer without start()
}

TEST_F(VaultTimerTest, NeitherTimerNorQueuedPassKeepsTheSynchroniserAlive) {
    auto vault = makeVault();
    vault->start();
    vault->syncSoon();
    vault.reset();
    scheduler.runSerialQueues();
    scheduler.advance(platform::Duration(1200));
    scheduler.runSerialQueues();
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_FALSE(fs::exists(notesDir()));
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace larkspire::testing

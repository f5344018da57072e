#include "unit/vault/VaultFixture.h"

namespace larkspire::testing {
namespace {

using VaultTimerTest = VaultTest;

TEST_F(VaultTimerTest, StartPassesAtOnceThenEveryFiveMinutes) {
    auto vault = makeVault();
    vault->start();
    // Queued, not run: the pass belongs to the "vault-sync" queue.
    EXPECT_EQ(fetches(), 0);
    scheduler.serialQueue("vault-sync")->sync([] {});
    EXPECT_EQ(fetches(), 1);

    scheduler.advance(platform::Duration(299.9));
    scheduler.runSerialQueues();
    EXPECT_EQ(fetches(), 1);
    scheduler.advance(platform::Duration(0.1));
    scheduler.runSerialQueues();
    EXPECT_EQ(fetches(), 2);
    scheduler.advance(platform::Duration(900));
    scheduler.runSerialQueues();
    EXPECT_EQ(fetches(), 5);
}

TEST_F(VaultTimerTest, EachSyncSoonQueuesItsOwnPass) {
    auto vault = makeVault();
    vault->syncSoon();
    vault->syncSoon();
    vault->syncSoon();
    EXPECT_EQ(fetches(), 0);
    EXPECT_EQ(scheduler.runSerialQueues(), 3);
    EXPECT_EQ(fetches(), 3);
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
    EXPECT_EQ(fetches(), 0);
    EXPECT_FALSE(fs::exists(notesDir()));
    EXPECT_TRUE(log.lines.empty());
}

}  // namespace
}  // namespace larkspire::testing

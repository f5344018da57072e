#include "audio/RecoveryStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "audio/CafSpoolFile.h"
#include "audio/WAV.h"
#include "support/ScopedEnv.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using testing::namesIn;
using testing::readFile;
using testing::readText;
using testing::TempDir;
using testing::writeFile;

class RecoveryStoreTest : public ::testing::Test {
  protected:
    fs::path pending() const { return dir.path() / "Larkspire" / "Pending Recordings"; }
    fs::path legacy() const { return dir.path() / "Vantrel" / "Pending Recordings"; }
    void touch(const fs::path& p, int secondsAgo) {
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
    }

    TempDir dir;
    RecoveryStore store{dir.path()};
};

TEST_F(RecoveryStoreTest, ThePendingFolderIsMadeInsideTheDataFolderOrNothingIsListed) {
    writeFile(dir.path() / "file", "not a folder");
    struct Case {
        fs::path data;
        bool usable;
    };
    for (const Case& c : {Case{dir.path(), true}, Case{dir.path() / "a" / "b", true},
                          Case{dir.path() / "file", false}}) {
        RecoveryStore s(c.data);
        const fs::path expected = c.data / "Larkspire" / "Pending Recordings";
        if (c.usable) {
            EXPECT_EQ(s.recoveryDirectory(), expected);
            EXPECT_TRUE(fs::is_directory(expected));
            EXPECT_TRUE(namesIn(expected).empty());
        } else {
            EXPECT_THROW(s.recoveryDirectory(), fs::filesystem_error);
            EXPECT_THROW(s.newRecoveryURL("caf"), fs::filesystem_error);
        }
        EXPECT_TRUE(s.pendingRecordings().empty()) << c.data;
        EXPECT_FALSE(s.hasPendingRecordings()) << c.data;
    }
    EXPECT_FALSE(fs::exists(legacy())) << "no legacy folder is made";
}

TEST_F(RecoveryStoreTest, MigrationMovesFreeNamesAndLeavesCollisions) {
    fs::create_directories(legacy() / "Silent Recordings");
    fs::create_directories(pending());
    writeFile(legacy() / "A.wav", "legacy A");
    writeFile(legacy() / "B.wav", "legacy B");
    writeFile(legacy() / ".hidden.wav", "hidden");
    writeFile(legacy() / "Silent Recordings" / "s.wav", "silent");
    writeFile(pending() / "B.wav", "current B");

    store.recoveryDirectory();

    EXPECT_EQ(namesIn(pending()),
              (std::vector<std::string>{"A.wav", "B.wav", "Silent Recordings"}));
    EXPECT_EQ(readText(pending() / "A.wav"), "legacy A");
    EXPECT_EQ(readText(pending() / "B.wav"), "current B");
    EXPECT_TRUE(fs::exists(pending() / "Silent Recordings" / "s.wav"));
    EXPECT_EQ(namesIn(legacy()), (std::vector<std::string>{".hidden.wav", "B.wav"}));

    // The entry left behind is tried again on every later use.
    fs::remove(pending() / "B.wav");
    store.pendingRecordings();
    EXPECT_EQ(namesIn(legacy()), (std::vector<std::string>{".hidden.wav"}));
    EXPECT_EQ(readText(pending() / "B.wav"), "legacy B");
    EXPECT_TRUE(fs::is_directory(legacy()));
}

TEST_F(RecoveryStoreTest, NewRecoveryURLIsAFreshLowerCaseUuidName) {
    const fs::path a = store.newRecoveryURL("caf");
    const fs::path b = store.newRecoveryURL("caf");
    EXPECT_EQ(a.parent_path(), pending());
    const std::string name = a.filename().string();
    EXPECT_EQ(name.size(), 48u);
    EXPECT_TRUE(std::regex_match(
        name,
        std::regex(
            "pending-[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}\\.caf")))
        << name;
    EXPECT_NE(a, b);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(store.newRecoveryURL("wav").extension(), ".wav");
}

TEST_F(RecoveryStoreTest, PersistWritesTheWavAndRemovesTheSpool) {
    const fs::path spool = store.newRecoveryURL("caf");
    writeFile(spool, "spool");
    const Bytes wav = WAV::wrap(Bytes(1000, 3));
    const fs::path written = RecoveryStore::persistForRecovery(wav, spool);
    EXPECT_EQ(written, fs::path(spool).replace_extension("wav"));
    EXPECT_EQ(readFile(written), wav);
    EXPECT_FALSE(fs::exists(spool));
    // No temporary file is left beside it.
    EXPECT_EQ(namesIn(pending()), std::vector<std::string>{written.filename().string()});
}

TEST_F(RecoveryStoreTest, FailedPersistKeepsTheSpoolAndLeavesNoTemporary) {
    const fs::path spool = store.newRecoveryURL("caf");
    writeFile(spool, "spool");
    // A folder where the WAV should go: the final rename cannot replace it.
    fs::create_directory(fs::path(spool).replace_extension("wav"));
    EXPECT_THROW(RecoveryStore::persistForRecovery(WAV::wrap({}), spool), std::system_error);
    EXPECT_TRUE(fs::exists(spool));
    EXPECT_EQ(namesIn(pending()).size(), 2u);
    EXPECT_THROW(RecoveryStore::persistForRecovery(WAV::wrap({}), dir.path() / "none" / "x.caf"),
                 std::system_error);
}

TEST_F(RecoveryStoreTest, PendingListsWavAndCafNewestFirst) {
    fs::create_directories(pending() / "Silent Recordings");
    writeFile(pending() / "old.caf", "c");
    writeFile(pending() / "NEW.WAV", "w");
    writeFile(pending() / "mid.wav", "m");
    writeFile(pending() / "notes.txt", "t");
    writeFile(pending() / ".hidden.wav", "h");
    writeFile(pending() / "Silent Recordings" / "quiet.wav", "q");
    touch(pending() / "old.caf", 300);
    touch(pending() / "NEW.WAV", 10);
    touch(pending() / "mid.wav", 100);
    touch(pending() / "notes.txt", 1);
    touch(pending() / ".hidden.wav", 1);

    EXPECT_EQ(store.pendingRecordings(),
              (std::vector<fs::path>{pending() / "NEW.WAV", pending() / "mid.wav",
                                     pending() / "old.caf"}));
    EXPECT_TRUE(store.hasPendingRecordings());

    touch(pending() / "old.caf", 0);
    EXPECT_EQ(store.pendingRecordings().front(), pending() / "old.caf");
}

TEST_F(RecoveryStoreTest, RecoverReturnsWavFilesAsTheyAreWithTheirDuration) {
    struct Case {
        std::string name;
        Bytes bytes;
        std::optional<std::int64_t> seconds;  // nullopt: refused, the file stays
    };
    const std::vector<Case> cases = {
        {"1s.wav", WAV::wrap(Bytes(48000, 1)), 1}, {"3s.wav", WAV::wrap(Bytes(100000, 1)), 3},
        {"short.wav", WAV::wrap(Bytes(20, 1)), 1}, {"2s.wav", WAV::wrap(Bytes(64000, 1)), 2},
        {"text.wav", Bytes(100, 'z'), 1},  // not checked for a header: returned as it is
        {"bare.wav", WAV::wrap({}), std::nullopt},
    };
    for (const Case& c : cases) {
        const fs::path p = pending() / c.name;
        writeFile(p, c.bytes);
        const auto r = store.recover(p);
        ASSERT_EQ(r.has_value(), c.seconds.has_value()) << c.name;
        EXPECT_TRUE(fs::exists(p)) << c.name;
        if (r) {
            EXPECT_EQ(r->durationSeconds, c.seconds) << c.name;
            EXPECT_EQ(r->wav, c.bytes) << c.name;
            EXPECT_EQ(r->recoveryURL, p) << c.name;
        }
    }
    EXPECT_FALSE(store.recover(pending() / "missing.wav").has_value());
    EXPECT_FALSE(store.recover(pending()).has_value());  // a folder cannot be read
}

TEST_F(RecoveryStoreTest, RecoverOfASpoolFileReplacesItByItsWav) {
    const fs::path spool = store.newRecoveryURL("caf");
    {
        auto file = CafSpoolFile::create(spool, platform::AudioFormat{48000, 2});
        const auto tone = testing::sine(48000, 96000, 500, 0.4, {1.0f, 1.0f});
        for (std::size_t at = 0; at < tone.size(); at += 8192) {
            ASSERT_TRUE(file->append(
                std::span(tone).subspan(at, std::min<std::size_t>(8192, tone.size() - at))));
        }
    }
    const auto r = store.recover(spool);
    ASSERT_TRUE(r.has_value());
    const fs::path wavPath = fs::path(spool).replace_extension("wav");
    EXPECT_EQ(r->recoveryURL, wavPath);
    EXPECT_FALSE(fs::exists(spool));
    EXPECT_EQ(readFile(wavPath), r->wav);
    EXPECT_EQ(WAV::pcmData(r->wav)->size(), 64000u);
    EXPECT_EQ(r->durationSeconds, 2);
    EXPECT_EQ(store.pendingRecordings(), std::vector<fs::path>{wavPath});
}

TEST_F(RecoveryStoreTest, RecoverOfAnEmptyOrBrokenSpoolKeepsIt) {
    const fs::path empty = store.newRecoveryURL("caf");
    CafSpoolFile::create(empty, platform::AudioFormat{48000, 2});
    EXPECT_FALSE(store.recover(empty).has_value());
    EXPECT_TRUE(fs::exists(empty));
    const fs::path junk = store.newRecoveryURL("CAF");
    writeFile(junk, "not audio");
    EXPECT_FALSE(store.recover(junk).has_value());
    EXPECT_TRUE(fs::exists(junk));
    // A header claiming a rate no microphone has would resample into gigabytes.
    const fs::path slow = store.newRecoveryURL("caf");
    CafSpoolFile::create(slow, platform::AudioFormat{1, 1})->append(std::vector<float>(1000, 0.1f));
    EXPECT_FALSE(store.recover(slow).has_value());
    EXPECT_TRUE(fs::exists(slow));
    EXPECT_EQ(store.pendingRecordings().size(), 3u);
}

TEST_F(RecoveryStoreTest, DiscardDeletesAndIgnoresMissingFiles) {
    fs::create_directories(pending());
    Recording r{WAV::wrap(Bytes(10, 1)), 1, pending() / "d.wav"};
    writeFile(r.recoveryURL, r.wav);
    r.discardRecoveryCopy();
    EXPECT_FALSE(fs::exists(r.recoveryURL));
    r.discardRecoveryCopy();  // already gone: nothing happens
    EXPECT_FALSE(store.hasPendingRecordings());
}

TEST_F(RecoveryStoreTest, ArchiveSilentMovesAsideButNeverOverwrites) {
    fs::create_directories(pending());
    Recording r{WAV::wrap(Bytes(10, 0)), 1, pending() / "s.wav"};
    writeFile(r.recoveryURL, r.wav);
    const auto moved = r.archiveSilentCopy();
    ASSERT_TRUE(moved.has_value());
    EXPECT_EQ(*moved, pending() / "Silent Recordings" / "s.wav");
    EXPECT_EQ(readFile(*moved), r.wav);
    EXPECT_FALSE(store.hasPendingRecordings());

    // A second recording of the same name stays pending; the archived one is untouched.
    Recording again{WAV::wrap(Bytes(20, 5)), 1, pending() / "s.wav"};
    writeFile(again.recoveryURL, again.wav);
    EXPECT_FALSE(again.archiveSilentCopy().has_value());
    EXPECT_EQ(readFile(pending() / "s.wav"), again.wav);
    EXPECT_EQ(readFile(*moved), r.wav);
    EXPECT_EQ(store.pendingRecordings(), std::vector<fs::path>{pending() / "s.wav"});
}

TEST(RecoveryStoreLocation, XdgDataHomeWhenAbsoluteElseLocalShare) {
    TempDir dir;
    testing::ScopedEnv home("HOME", "/home/someone");
    const fs::path share = "/home/someone/.local/share";
    for (const auto& [value, expected] :
         std::vector<std::pair<std::optional<std::string>, fs::path>>{
             {dir.path().string(), dir.path()},
             {"relative/path", share},
             {"", share},
             {std::nullopt, share}}) {
        testing::ScopedEnv xdg("XDG_DATA_HOME", value);
        EXPECT_EQ(RecoveryStore::userDataDirectory(), expected) << value.value_or("unset");
    }
    testing::ScopedEnv xdg("XDG_DATA_HOME", dir.path().string());
    EXPECT_EQ(RecoveryStore().recoveryDirectory(), dir.path() / "Larkspire" / "Pending Recordings");
}

}  // namespace
}  // namespace larkspire

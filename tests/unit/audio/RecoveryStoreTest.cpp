#include "audio/RecoveryStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "audio/CafSpoolFile.h"
#include "audio/WAV.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class RecoveryStoreTest : public ::testing::Test {
  protected:
    fs::path pending() const { return dir.path() / "Larkspire" / "Pending Recordings"; }
    fs::path legacy() const { return dir.path() / "Vantrel" / "Pending Recordings"; }
    std::vector<std::string> namesIn(const fs::path& folder) const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder)) {
            names.push_back(e.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    static std::string textOf(const fs::path& p) {
        const auto bytes = readFile(p);
        return std::string(bytes.begin(), bytes.end());
    }
    void touch(const fs::path& p, int secondsAgo) {
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
    }

    TempDir dir;
    RecoveryStore store{dir.path()};
};

TEST_F(RecoveryStoreTest, CreatesThePendingFolderAndMovesNothingWithoutLegacy) {
    EXPECT_EQ(store.recoveryDirectory(), pending());
    EXPECT_TRUE(fs::is_directory(pending()));
    EXPECT_TRUE(namesIn(pending()).empty());
    EXPECT_FALSE(fs::exists(dir.path() / "Vantrel"));
}

TEST_F(RecoveryStoreTest, CreatesAMissingDataDirectory) {
    RecoveryStore nested(dir.path() / "a" / "b");
    EXPECT_EQ(nested.recoveryDirectory(),
              dir.path() / "a" / "b" / "Larkspire" / "Pending Recordings");
}

TEST_F(RecoveryStoreTest, UnusableDataDirectoryThrowsAndListsNothing) {
    writeFile(dir.path() / "file", "not a folder");
    RecoveryStore broken(dir.path() / "file");
    EXPECT_THROW(broken.recoveryDirectory(), fs::filesystem_error);
    EXPECT_THROW(broken.newRecoveryURL("caf"), fs::filesystem_error);
    EXPECT_TRUE(broken.pendingRecordings().empty());
    EXPECT_FALSE(broken.hasPendingRecordings());
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
    EXPECT_EQ(textOf(pending() / "A.wav"), "legacy A");
    EXPECT_EQ(textOf(pending() / "B.wav"), "current B");
    EXPECT_TRUE(fs::exists(pending() / "Silent Recordings" / "s.wav"));
    EXPECT_EQ(namesIn(legacy()), (std::vector<std::string>{".hidden.wav", "B.wav"}));

    // The entry left behind is tried again on every later use.
    fs::remove(pending() / "B.wav");
    store.pendingRecordings();
    EXPECT_EQ(namesIn(legacy()), (std::vector<std::string>{".hidden.wav"}));
    EXPECT_EQ(textOf(pending() / "B.wav"), "legacy B");
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

TEST_F(RecoveryStoreTest, NothingPendingInAnEmptyStore) {
    EXPECT_TRUE(store.pendingRecordings().empty());
    EXPECT_FALSE(store.hasPendingRecordings());
    // A silent recording does not count.
    fs::create_directories(pending() / "Silent Recordings");
    writeFile(pending() / "Silent Recordings" / "a.wav", "q");
    EXPECT_FALSE(store.hasPendingRecordings());
}

TEST_F(RecoveryStoreTest, RecoverReadsWavFilesAndComputesDuration) {
    fs::create_directories(pending());
    struct Case {
        std::size_t pcmBytes;
        std::int64_t seconds;
    };
    for (const Case c : {Case{48000, 1}, Case{100000, 3}, Case{20, 1}, Case{64000, 2}}) {
        const fs::path p = pending() / ("r" + std::to_string(c.pcmBytes) + ".wav");
        const Bytes wav = WAV::wrap(Bytes(c.pcmBytes, 1));
        writeFile(p, wav);
        const auto r = store.recover(p);
        ASSERT_TRUE(r.has_value()) << c.pcmBytes;
        EXPECT_EQ(r->durationSeconds, c.seconds) << c.pcmBytes;
        EXPECT_EQ(r->wav, wav);
        EXPECT_EQ(r->recoveryURL, p);
    }
}

TEST_F(RecoveryStoreTest, RecoverRefusesHeaderOnlyFilesAndKeepsThem) {
    fs::create_directories(pending());
    const fs::path bare = pending() / "bare.wav";
    writeFile(bare, WAV::wrap({}));
    EXPECT_FALSE(store.recover(bare).has_value());
    EXPECT_TRUE(fs::exists(bare));
    EXPECT_FALSE(store.recover(pending() / "missing.wav").has_value());
    EXPECT_FALSE(store.recover(pending()).has_value());  // a folder cannot be read
}

TEST_F(RecoveryStoreTest, RecoverReturnsEvenTextAsIs) {
    fs::create_directories(pending());
    const fs::path p = pending() / "text.wav";
    writeFile(p, std::string(100, 'z'));
    const auto r = store.recover(p);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->wav, Bytes(100, 'z'));
    EXPECT_EQ(r->durationSeconds, 1);
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(r->wav));
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
    EXPECT_EQ(store.pendingRecordings().size(), 2u);
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

class EnvironmentVariable {
  public:
    explicit EnvironmentVariable(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) {
            saved_ = v;
        }
    }
    ~EnvironmentVariable() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    void set(const char* value) { ::setenv(name_, value, 1); }
    void unset() { ::unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

TEST(RecoveryStoreLocation, XdgDataHomeWhenAbsoluteElseLocalShare) {
    EnvironmentVariable xdg("XDG_DATA_HOME");
    EnvironmentVariable home("HOME");
    home.set("/home/someone");
    xdg.set("/data/xdg");
    EXPECT_EQ(RecoveryStore::userDataDirectory(), fs::path("/data/xdg"));
    xdg.set("relative/path");
    EXPECT_EQ(RecoveryStore::userDataDirectory(), fs::path("/home/someone/.local/share"));
    xdg.set("");
    EXPECT_EQ(RecoveryStore::userDataDirectory(), fs::path("/home/someone/.local/share"));
    xdg.unset();
    EXPECT_EQ(RecoveryStore::userDataDirectory(), fs::path("/home/someone/.local/share"));
}

TEST(RecoveryStoreLocation, DefaultStoreFollowsTheEnvironment) {
    TempDir dir;
    EnvironmentVariable xdg("XDG_DATA_HOME");
    xdg.set(dir.path().c_str());
    RecoveryStore store;
    EXPECT_EQ(store.recoveryDirectory(), dir.path() / "Larkspire" / "Pending Recordings");
}

}  // namespace
}  // namespace larkspire

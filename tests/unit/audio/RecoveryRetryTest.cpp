#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "audio/CafSpoolFile.h"
#include "audio/RecoveryStore.h"
#include "audio/WAV.h"
#include "unit/audio/AudioTestSupport.h"
#include "util/FileIO.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

class RecoveryRetry : public ::testing::Test {
  protected:
    fs::path dir() const { return store.recoveryDirectory(); }
    fs::path file(const std::string& name, int secondsAgo, const Bytes& bytes) {
        const fs::path p = dir() / name;
        writeFile(p, bytes);
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(secondsAgo));
        return p;
    }
    TempDir temp;
    RecoveryStore store{temp.path()};
};

// A crash leaves a spool with only its header, or an empty file, as the newest pending
// file; the readable recordings behind it must still be reachable, and nothing is deleted.
TEST_F(RecoveryRetry, TheNewestRecordingWithAudioIsTakenAndFilesWithoutAudioAreSetAside) {
    const fs::path readable = file("pending-a.wav", 30, WAV::wrap(Bytes(3200, 7)));
    const fs::path empty = file("pending-b.wav", 20, {});
    CafSpoolFile::create(dir() / "pending-c.caf", platform::AudioFormat{48000, 1});  // newest

    const auto recording = store.recoverNewest({});
    ASSERT_TRUE(recording);
    EXPECT_EQ(recording->recoveryURL, readable);
    const fs::path aside = dir() / "Unreadable Recordings";
    EXPECT_TRUE(fs::exists(aside / "pending-b.wav"));
    EXPECT_TRUE(fs::exists(aside / "pending-c.caf"));
    EXPECT_EQ(store.pendingRecordings(), std::vector<fs::path>{readable});
    EXPECT_FALSE(store.recoverNewest({readable})) << "a busy recording is passed over";
}

TEST_F(RecoveryRetry, LeftoverTemporaryFilesOfACrashAreRemovedAndNothingElse) {
    const Bytes audio = WAV::wrap(Bytes(320, 1));
    const std::vector<std::string> kept = {"pending-a.wav", "pending-b.caf", ".hidden.wav",
                                           ".pending-a.wav.tmp"};
    for (const auto& name : kept) {
        writeFile(dir() / name, audio);
    }
    writeFile(dir() / ".pending-c.wav.Ab12Cd", audio);  // persistForRecovery's temporary
    EXPECT_EQ(store.removeLeftoverTemporaryFiles(), 1);
    for (const auto& name : kept) {
        EXPECT_TRUE(fs::exists(dir() / name)) << name;
    }
}

// The fallback for file systems without RENAME_NOREPLACE (NFS, some FUSE).
TEST_F(RecoveryRetry, TheNoReplaceFallbackMovesToAFreeNameAndNeverOverAnother) {
    writeFile(dir() / "from", "recording");
    writeFile(dir() / "taken", "other recording");
    EXPECT_FALSE(fileio::moveIfFree(dir() / "from", dir() / "taken"));
    EXPECT_TRUE(fileio::moveIfFree(dir() / "from", dir() / "free"));
    EXPECT_FALSE(fs::exists(dir() / "from"));
    EXPECT_EQ(testing::readText(dir() / "taken"), "other recording");
}

}  // namespace
}  // namespace larkspire

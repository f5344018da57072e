#include "audio/Recorder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeScheduler.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::readSound;
using testing::sine;
using testing::TempDir;

constexpr platform::AudioFormat kStereo48k{48000, 2};

class RecorderTest : public ::testing::Test {
  protected:
    fs::path pending() const { return dir.path() / "Larkspire" / "Pending Recordings"; }
    std::vector<std::string> pendingNames() const { return testing::namesIn(pending()); }
    fs::path onlyFile() const {
        const auto names = pendingNames();
        if (names.size() != 1) {
            throw std::runtime_error("expected one file, found " + std::to_string(names.size()));
        }
        return pending() / names.front();
    }
    void advance(double seconds) { scheduler.advance(platform::Duration(seconds)); }

    TempDir dir;
    fake::VirtualClock clock;
    fake::FakeScheduler scheduler{clock};
    fake::FakeAudioInput input{scheduler, kStereo48k};
    Recorder recorder{input, scheduler, clock, RecoveryStore(dir.path())};
};

TEST_F(RecorderTest, StopOrCancelWhileIdleTouchesNothing) {
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.stop().has_value());
    recorder.cancel();
    EXPECT_TRUE(fs::is_empty(dir.path()));
    EXPECT_EQ(input.startCount(), 0);
    EXPECT_EQ(input.stopCount(), 0);
}

TEST_F(RecorderTest, StartSpoolsInTheDeviceFormatAndOnlyTheQueueWrites) {
    input.setFormat(platform::AudioFormat{44100, 1});
    const auto audio = sine(44100, 10000, 330, 0.25, {1.0f});
    input.load(audio);
    EXPECT_FALSE(recorder.currentSpoolPath().has_value());
    recorder.start();
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_FALSE(input.isCapturing()) << "the microphone opens on the queue";
    scheduler.runSerialQueues();
    EXPECT_TRUE(input.isCapturing());
    EXPECT_EQ(input.startedFormat(), (platform::AudioFormat{44100, 1}));
    const fs::path spool = onlyFile();
    EXPECT_EQ(recorder.currentSpoolPath(), spool);
    EXPECT_EQ(spool.extension(), ".caf");
    EXPECT_EQ(spool.filename().string().rfind("pending-", 0), 0u);
    EXPECT_EQ(RecoveryStore(dir.path()).pendingRecordings(), std::vector<fs::path>{spool});
    ASSERT_EQ(input.playAll(), 10000u);
    // Nothing reached the disk from the capture callback.
    EXPECT_EQ(fs::file_size(spool), CafSpoolFile::audioOffset);
    EXPECT_EQ(scheduler.runSerialQueues(), 3);  // 4096 + 4096 + 1808 frames
    const auto sound = readSound(spool);
    EXPECT_EQ(sound.rate, 44100);
    EXPECT_EQ(sound.channels, 1);
    EXPECT_EQ(sound.samples, audio);  // unconverted, bit for bit
}

TEST_F(RecorderTest, StopDrainsQueuedBlocksConvertsAndReplacesTheSpool) {
    input.load(sine(48000, 48000, 1000, 0.5, {1.0f, 1.0f}));
    recorder.start();
    scheduler.runSerialQueues();  // the microphone opens
    const fs::path spool = onlyFile();
    advance(1.0);
    input.playAll();
    // The queue has not run: stop must wait for every queued write.
    const auto r = recorder.stop();
    ASSERT_TRUE(r.has_value());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(input.isCapturing());
    EXPECT_EQ(r->durationSeconds, 1);
    EXPECT_EQ(r->wav.size(), 44u + 32000u);
    EXPECT_EQ(r->wav, WAV::wrap(*WAV::pcmData(r->wav)));
    EXPECT_EQ(r->recoveryURL, fs::path(spool).replace_extension("wav"));
    EXPECT_EQ(readFile(r->recoveryURL), r->wav);
    EXPECT_EQ(pendingNames(), std::vector<std::string>{r->recoveryURL.filename()});
    const auto x = testing::samples16(*WAV::pcmData(r->wav));
    EXPECT_NEAR(testing::dominantFrequency(std::span(x).subspan(1000, 14000), 16000, 100, 4000, 10),
                1000, 1);
}

TEST_F(RecorderTest, DurationIsWallClockRoundedHalfAwayFromZero) {
    struct Case {
        double seconds;
        std::int64_t expected;
    };
    for (const Case c :
         {Case{0.4, 0}, Case{0.5, 1}, Case{0.49, 0}, Case{1.49, 1}, Case{2.5, 3}, Case{7.0, 7}}) {
        input.load(sine(48000, 4800, 440, 0.3, {1.0f, 1.0f}));  // 0.1 s of samples, always
        recorder.start();
        scheduler.runSerialQueues();  // the microphone opens
        advance(c.seconds);
        input.playAll();
        const auto r = recorder.stop();
        ASSERT_TRUE(r.has_value()) << c.seconds;
        EXPECT_EQ(r->durationSeconds, c.expected) << c.seconds;
        EXPECT_EQ(WAV::pcmData(r->wav)->size(), 3200u) << c.seconds;  // 0.1 s of audio
    }
}

TEST_F(RecorderTest, NoSamplesMeansNoRecordingAndTheSpoolStaysPending) {
    recorder.start();
    scheduler.runSerialQueues();  // the microphone opens
    const fs::path spool = onlyFile();
    advance(2.0);
    EXPECT_FALSE(recorder.stop().has_value());
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(onlyFile(), spool);
}

TEST_F(RecorderTest, FailedWavWriteKeepsTheSpool) {
    input.load(sine(48000, 9600, 440, 0.3, {1.0f, 1.0f}));
    recorder.start();
    scheduler.runSerialQueues();  // the microphone opens
    const fs::path spool = onlyFile();
    fs::create_directory(fs::path(spool).replace_extension("wav"));  // blocks the rename
    input.playAll();
    EXPECT_FALSE(recorder.stop().has_value());
    EXPECT_TRUE(fs::exists(spool));
    EXPECT_EQ(readSound(spool).samples.size(), 2u * 9600);
}

TEST_F(RecorderTest, CancelDeletesTheSpoolAndEndsCapture) {
    input.load(sine(48000, 20000, 440, 0.3, {1.0f, 1.0f}));
    recorder.start();
    scheduler.runSerialQueues();  // the microphone opens
    input.play(8192);
    recorder.cancel();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_FALSE(recorder.currentSpoolPath().has_value());
    EXPECT_FALSE(input.isCapturing());
    scheduler.runSerialQueues();  // the queued blocks, then the removal
    EXPECT_TRUE(pendingNames().empty());
    EXPECT_EQ(input.play(4096), 0u);  // nothing more is delivered
    EXPECT_EQ(scheduler.runSerialQueues(), 0);
    EXPECT_FALSE(recorder.stop().has_value());
}

TEST_F(RecorderTest, BlocksAfterStopNeverReachTheClosedFile) {
    input.load(sine(48000, 16384, 440, 0.3, {1.0f, 1.0f}));
    recorder.start();
    scheduler.runSerialQueues();  // the microphone opens
    input.play(4096);
    const auto r = recorder.stop();
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(input.stopCount(), 1);
    EXPECT_EQ(input.play(4096), 0u);
    EXPECT_EQ(WAV::pcmData(r->wav)->size(), 4096u / 3 * 2);  // 4096 frames at 48 kHz
}

TEST_F(RecorderTest, AMicrophoneThatCannotOpenIsReportedAndAnEarlyStopKeepsNothing) {
    std::vector<std::pair<fs::path, std::string>> failures;
    recorder.setStartFailureHandler(
        [&](const fs::path& spool, const std::string& why) { failures.emplace_back(spool, why); });
    for (const bool inFormat : {true, false}) {
        inFormat ? input.failNextInputFormat("no PulseAudio server")
                 : input.failNextStart("stream refused");
        recorder.start();  // returns at once: the microphone opens on the queue
        const auto spool = recorder.currentSpoolPath();
        ASSERT_TRUE(spool);
        scheduler.runSerialQueues();
        scheduler.runDue();
        ASSERT_FALSE(failures.empty());
        EXPECT_EQ(failures.back(),
                  (std::pair<fs::path, std::string>{
                      *spool, inFormat ? "no PulseAudio server" : "stream refused"}));
        recorder.cancel();
        scheduler.runSerialQueues();
    }
    EXPECT_TRUE(pendingNames().empty());

    // Let go before the microphone opened: nothing was heard, and nothing is kept.
    recorder.start();
    EXPECT_FALSE(recorder.stop().has_value());
    scheduler.runSerialQueues();
    EXPECT_EQ(input.startCount(), 0);
    EXPECT_TRUE(pendingNames().empty());

    // The next start works.
    input.load(sine(48000, 16000, 440, 0.3, {1.0f, 1.0f}));
    recorder.start();
    scheduler.runSerialQueues();
    input.playAll();
    advance(1.0);
    EXPECT_TRUE(recorder.stop().has_value());
    EXPECT_EQ(failures.size(), 2u);
}

TEST_F(RecorderTest, UnusableStoreFailsStartBeforeCapture) {
    fs::create_directories(dir.path() / "Larkspire");
    testing::writeFile(pending(), "a file where the folder should be");
    EXPECT_THROW(recorder.start(), fs::filesystem_error);
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_EQ(input.startCount(), 0);
}

TEST_F(RecorderTest, DestroyingTheRecorderStopsCapture) {
    input.load(sine(48000, 8192, 440, 0.3, {1.0f, 1.0f}));
    {
        Recorder other{input, scheduler, clock, RecoveryStore(dir.path())};
        other.start();
        scheduler.runSerialQueues();  // the microphone opens
        input.play(4096);
    }
    EXPECT_FALSE(input.isCapturing());
    EXPECT_EQ(input.play(4096), 0u);
    // The queued block still lands in the spool file, which stays pending.
    scheduler.runSerialQueues();
    EXPECT_EQ(readSound(onlyFile()).samples.size(), 2u * 4096);
}

}  // namespace
}  // namespace larkspire

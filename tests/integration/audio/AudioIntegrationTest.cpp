// Runs inside scripts/headless-session with a 48 kHz stereo virtual microphone fed by
// the null sink "micfeed".
#include <gtest/gtest.h>

#include <signal.h>
#include <sndfile.h>
#include <future>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "audio/Recorder.h"
#include "integration/audio/RealTimeSupport.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "support/ChildProcess.h"
#include "support/ScopedEnv.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::secondsSince;
using testing::TempDir;

constexpr double kToneHz = 1000;

// A 48 kHz stereo 16-bit WAV of a sine on both channels.
fs::path writeTone(const fs::path& dir, double seconds) {
    const fs::path p = dir / ("tone-" + std::to_string(seconds) + ".wav");
    const auto frames = static_cast<std::size_t>(seconds * 48000);
    testing::writeSound(p, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2,
                        testing::sine(48000, frames, kToneHz, 0.5, {1.0f, 1.0f}));
    return p;
}

// Plays a file into the virtual microphone and returns when it has been played.
void playIntoMicrophone(const fs::path& file) {
    const int status =
        testing::ChildProcess({"paplay", "--latency-msec=20", "-d", "micfeed", file.string()})
            .wait(20);
    if (status != 0) {
        throw std::runtime_error("paplay failed with " + std::to_string(status));
    }
}

class AudioIntegration : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER")) {
            GTEST_SKIP() << "needs scripts/headless-session (no PULSE_SERVER)";
        }
    }

    TempDir dir;
    testing::SystemClock clock;
    testing::ThreadScheduler scheduler;
    linux_desktop::PulseAudioInput input{scheduler};
    RecoveryStore store{dir.path() / "data"};
};

TEST_F(AudioIntegration, DefaultSourceIsTheVirtualMicrophoneAndAuthorised) {
    EXPECT_EQ(input.inputFormat(), (platform::AudioFormat{48000, 2}));
    EXPECT_EQ(input.authorizationStatus(), platform::MicrophoneAuthorization::authorized);
    std::optional<bool> granted;
    input.requestAccess([&](bool g) { granted = g; });
    EXPECT_FALSE(granted.has_value());  // answered on the main queue, not inline
    EXPECT_EQ(scheduler.runMain(), 1);
    EXPECT_EQ(granted, true);
}

TEST_F(AudioIntegration, BlocksArriveOnTheCaptureThreadAndStopEndsThem) {
    std::mutex mutex;
    std::vector<std::size_t> sizes;
    std::set<std::thread::id> threads;
    input.start(platform::AudioFormat{48000, 2}, [&](std::span<const float> block) {
        std::lock_guard lock(mutex);
        sizes.push_back(block.size());
        threads.insert(std::this_thread::get_id());
    });
    playIntoMicrophone(writeTone(dir.path(), 0.6));
    input.stop();
    std::size_t after = 0;
    {
        std::lock_guard lock(mutex);
        after = sizes.size();
        ASSERT_GE(sizes.size(), 5u);
        EXPECT_EQ(threads.size(), 1u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
        // Whole 4096-frame blocks; only the one flushed by stop() may be shorter.
        for (std::size_t i = 0; i + 1 < sizes.size(); ++i) {
            EXPECT_EQ(sizes[i], 2u * linux_desktop::PulseAudioInput::kBlockFrames) << i;
        }
        EXPECT_EQ(sizes.back() % 2, 0u);
        EXPECT_LE(sizes.back(), 2u * linux_desktop::PulseAudioInput::kBlockFrames);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard lock(mutex);
    EXPECT_EQ(sizes.size(), after) << "a block arrived after stop() returned";
}

TEST_F(AudioIntegration, RecordsAToneInto16kMonoOfTheRightLengthAndPitch) {
    Recorder recorder{input, scheduler, clock, store};
    const auto tone = writeTone(dir.path(), 2.0);
    const auto t0 = Clock::now();
    recorder.start();
    playIntoMicrophone(tone);
    const double elapsed = secondsSince(t0);
    const auto r = recorder.stop();
    ASSERT_TRUE(r.has_value());

    const auto pcm = WAV::pcmData(r->wav);
    ASSERT_TRUE(pcm.has_value());
    const double seconds = static_cast<double>(pcm->size()) / 32000.0;
    std::cout << "recorded " << seconds << " s of audio in " << elapsed << " s\n";
    // Start-up latency and the last partial block are all that may be missing.
    EXPECT_GT(seconds, elapsed - 0.35);
    EXPECT_LT(seconds, elapsed + 0.05);
    EXPECT_EQ(r->durationSeconds, std::llround(elapsed));
    const auto x = testing::samples16(*pcm);
    EXPECT_NEAR(testing::dominantFrequency(x, 16000, 100, 7900, 5), kToneHz, 5);
    EXPECT_GT(testing::toneAmplitude(x, 16000, kToneHz), 0.3);
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(r->wav));

    EXPECT_EQ(r->recoveryURL.extension(), ".wav");
    EXPECT_EQ(testing::readFile(r->recoveryURL), r->wav);
    EXPECT_EQ(store.pendingRecordings(), std::vector<fs::path>{r->recoveryURL});
}

TEST_F(AudioIntegration, CancelLeavesNothingBehind) {
    Recorder recorder{input, scheduler, clock, store};
    recorder.start();
    playIntoMicrophone(writeTone(dir.path(), 0.5));
    recorder.cancel();
    EXPECT_FALSE(recorder.isRecording());
    EXPECT_TRUE(store.pendingRecordings().empty());
    EXPECT_TRUE(testing::namesIn(store.recoveryDirectory()).empty());
}

TEST_F(AudioIntegration, ARecordingKilledMidwayIsRecoveredUpToTheKill) {
    const fs::path data = dir.path() / "data";
    testing::ChildProcess child({"/proc/self/exe", "--record-until-killed", data.string()});
    ASSERT_TRUE(child.waitForLine("recording", 10)) << "the recording child did not start";
    const auto t0 = Clock::now();

    playIntoMicrophone(writeTone(dir.path(), 1.0));
    const double killedAfter = secondsSince(t0);
    child.signal(SIGKILL);
    EXPECT_EQ(child.wait(10), 128 + SIGKILL);

    // The next run finds the spool file and turns it into a WAV.
    RecoveryStore next(data);
    const auto pending = next.pendingRecordings();
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending.front().extension(), ".caf");
    const auto r = next.recover(pending.front());
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->recoveryURL, fs::path(pending.front()).replace_extension("wav"));
    EXPECT_FALSE(fs::exists(pending.front()));
    const auto pcm = WAV::pcmData(r->wav);
    ASSERT_TRUE(pcm.has_value());
    const double seconds = static_cast<double>(pcm->size()) / 32000.0;
    std::cout << "recovered " << seconds << " s of audio, killed after " << killedAfter << " s\n";
    EXPECT_GT(seconds, killedAfter - 0.35);
    EXPECT_LT(seconds, killedAfter + 0.1);
    const auto x = testing::samples16(*pcm);
    EXPECT_NEAR(testing::dominantFrequency(x, 16000, 100, 7900, 5), kToneHz, 5);
    EXPECT_EQ(next.pendingRecordings(), std::vector<fs::path>{r->recoveryURL});
}

TEST(AudioWithoutServer, NothingStartsAndNothingIsLeft) {
    TempDir dir;
    testing::ScopedEnv server("PULSE_SERVER", "unix:" + (dir.path() / "no-server").string());
    testing::SystemClock clock;
    testing::ThreadScheduler scheduler;
    linux_desktop::PulseAudioInput input{scheduler};
    EXPECT_EQ(input.authorizationStatus(), platform::MicrophoneAuthorization::denied);
    EXPECT_THROW(input.inputFormat(), std::runtime_error);
    RecoveryStore store(dir.path() / "data");
    {
        Recorder recorder{input, scheduler, clock, store};
        std::promise<std::string> failed;
        recorder.setStartFailureHandler(
            [&failed](const fs::path&, const std::string& why) { failed.set_value(why); });
        recorder.start();  // the microphone opens on the recorder's queue, and cannot
        auto reason = failed.get_future();
        for (int i = 0; i < 1000 &&
                        reason.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready;
             ++i) {
            scheduler.runMain();  // the report comes through the main queue
        }
        ASSERT_EQ(reason.wait_for(std::chrono::seconds(0)), std::future_status::ready);
        EXPECT_FALSE(reason.get().empty());
        recorder.cancel();
        EXPECT_FALSE(recorder.isRecording());
    }  // the recorder's queue has finished
    EXPECT_TRUE(store.pendingRecordings().empty());
}

// The child of the kill test: records until it is killed (at most 30 s).
int recordUntilKilled(const fs::path& data) {
    testing::SystemClock clock;
    testing::ThreadScheduler scheduler;
    linux_desktop::PulseAudioInput input{scheduler};
    Recorder recorder{input, scheduler, clock, RecoveryStore(data)};
    recorder.start();
    std::cout << "recording\n" << std::flush;
    std::this_thread::sleep_for(std::chrono::seconds(30));
    return 1;
}

}  // namespace
}  // namespace larkspire

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--record-until-killed") == 0) {
        return larkspire::recordUntilKilled(argv[2]);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

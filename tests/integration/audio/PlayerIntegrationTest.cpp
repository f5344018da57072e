// The audio player against the session's PulseAudio server, heard on the monitor of the
// virtual speaker. Runs inside scripts/headless-session.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <optional>

#include "integration/audio/RealTimeSupport.h"
#include "platform/linux/pulse/PulseAudioPlayerFactory.h"
#include "support/ChildProcess.h"
#include "support/ScopedEnv.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using testing::secondsSince;
using testing::TempDir;

// What the virtual speaker plays, as its monitor delivers it: 16 kHz mono, in 10 ms
// blocks stamped with their arrival (a few milliseconds after they sounded).
class SpeakerTap {
  public:
    SpeakerTap() : reader_([this] { read(); }) {
        const auto start = Clock::now();
        while (blocks() == 0 && secondsSince(start) < 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~SpeakerTap() {
        stopping_ = true;
        reader_.join();
    }

    // Seconds of sound (blocks above -40 dBFS) that arrived between two moments.
    double soundSeconds(Clock::time_point from, Clock::time_point to) const {
        return static_cast<double>(loudBlocks(from, to).size()) * 0.01;
    }
    // When the last loud block arrived, if one did.
    std::optional<Clock::time_point> lastSound(Clock::time_point from, Clock::time_point to) const {
        auto loud = loudBlocks(from, to);
        return loud.empty() ? std::nullopt : std::optional(loud.back().at);
    }
    // The samples of the loud blocks, in order.
    std::vector<std::int16_t> sound(Clock::time_point from, Clock::time_point to) const {
        std::vector<std::int16_t> out;
        for (const auto& b : loudBlocks(from, to)) {
            out.insert(out.end(), b.samples.begin(), b.samples.end());
        }
        return out;
    }

  private:
    struct Block {
        Clock::time_point at;
        std::vector<std::int16_t> samples;
        bool loud;
    };
    static constexpr std::size_t kBlock = 160;

    std::size_t blocks() const {
        std::lock_guard lock(mutex_);
        return blocks_.size();
    }
    std::vector<Block> loudBlocks(Clock::time_point from, Clock::time_point to) const {
        std::lock_guard lock(mutex_);
        std::vector<Block> out;
        for (const auto& b : blocks_) {
            if (b.loud && b.at >= from && b.at <= to) {
                out.push_back(b);
            }
        }
        return out;
    }
    void read() {
        std::string pending;
        while (!stopping_) {
            pending += parec_.readBytes(5);
            for (; pending.size() >= kBlock * 2; pending.erase(0, kBlock * 2)) {
                std::vector<std::int16_t> block(kBlock);
                std::memcpy(block.data(), pending.data(), kBlock * 2);
                double energy = 0;
                for (const std::int16_t s : block) {
                    energy += double(s) * s;
                }
                const bool loud = std::sqrt(energy / kBlock) > 328;  // -40 dBFS
                std::lock_guard lock(mutex_);
                blocks_.push_back({Clock::now(), std::move(block), loud});
            }
        }
    }

    testing::ChildProcess parec_{{"parec", "-d", "speaker.monitor", "--raw", "--format=s16le",
                                  "--rate=16000", "--channels=1", "--latency-msec=10"}};
    std::atomic<bool> stopping_ = false;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
    std::thread reader_;
};

// A sine as an audio file of the given libsndfile format, as bytes.
Bytes encodedTone(const fs::path& dir, int format, double seconds, double hz = 440,
                  int rate = 24000) {
    const fs::path p = dir / ("tone-" + std::to_string(format));
    const auto frames = static_cast<std::size_t>(seconds * rate);
    testing::writeSound(p, format, rate, 1, testing::sine(rate, frames, hz, 0.5, {1.0f}));
    return testing::readFile(p);
}

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class Player : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER")) {
            GTEST_SKIP() << "needs scripts/headless-session (no PULSE_SERVER)";
        }
        speaker = std::make_unique<SpeakerTap>();
    }

    std::unique_ptr<platform::AudioPlayer> tone(double seconds, double hz = 440) {
        auto player = factory.makePlayer(
            encodedTone(dir.path(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, seconds, hz, 22050));
        if (player) {
            player->setFinishHandler([this](platform::AudioPlayer&, bool successfully) {
                ends.push_back(successfully);
            });
        }
        return player;
    }
    // Runs the main queue for `seconds`, as the event loop would.
    void runFor(double seconds) {
        const auto start = Clock::now();
        while (secondsSince(start) < seconds) {
            scheduler.runMain();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    TempDir dir;
    testing::ThreadScheduler scheduler;
    linux_desktop::PulseAudioPlayerFactory factory{scheduler};
    std::unique_ptr<SpeakerTap> speaker;
    std::vector<bool> ends;
};

TEST_F(Player, DecodesWhatTheServiceMaySendAndRefusesTheRest) {
    const struct {
        const char* name;
        int format;
    } formats[] = {
        {"WAV", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
        {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
        {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {"Ogg Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS},
        {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
    };
    for (const auto& f : formats) {
        auto player = factory.makePlayer(encodedTone(dir.path(), f.format, 1.0));
        ASSERT_NE(player, nullptr) << f.name;
        EXPECT_NEAR(player->duration(), 1.0, 0.06) << f.name;  // lossy coders pad a little
    }
    const Bytes wav = encodedTone(dir.path(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0.0);
    for (const Bytes& bad : {Bytes{}, text("not audio"), text(R"({"error":"Injected failure"})"),
                             Bytes(wav.begin(), wav.begin() + 20), wav}) {
        EXPECT_EQ(factory.makePlayer(bad), nullptr) << bad.size() << " bytes";
    }
}

TEST_F(Player, RefusesSoundsPastTheLimitAtOnceAndWithinBoundedMemory) {
    // Eleven minutes of silence compress to a few kilobytes of FLAC; sox makes them, so
    // this process never holds the samples.
    const fs::path flac = dir.path() / "silence.flac";
    ASSERT_EQ(testing::ChildProcess({"sox", "-n", "-r", "8000", "-c", "1", "-b", "16",
                                     flac.string(), "trim", "0", "660"})
                  .wait(30),
              0);
    const Bytes silence = testing::readFile(flac);
    const Bytes slow = encodedTone(dir.path(), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1.0, 440, 4000);
    const auto peakKb = [] {
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    };
    const long before = peakKb();
    const auto start = Clock::now();
    EXPECT_EQ(factory.makePlayer(silence), nullptr) << silence.size() << " bytes of FLAC";
    EXPECT_EQ(factory.makePlayer(slow), nullptr);
    EXPECT_LT(secondsSince(start), 1.0);
    // Decoded, the silence would be 21 MB (ThreadSanitizer's shadow makes the absolute
    // peak meaningless, so the growth is what counts).
    EXPECT_LT(peakKb() - before, 10 * 1024) << "peak resident kB grew";
    // Ten minutes at a speech rate still play.
    EXPECT_NE(factory.makePlayer(
                  encodedTone(dir.path(), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 599.0, 440, 8000)),
              nullptr);
}

TEST_F(Player, PlaysTheWholeSoundThenReportsTheEndOnTheMainQueue) {
    auto player = tone(1.0);
    const auto t0 = Clock::now();
    ASSERT_TRUE(player->play());
    EXPECT_TRUE(player->isPlaying());
    runFor(1.5);
    EXPECT_EQ(ends, std::vector<bool>{true});
    EXPECT_FALSE(player->isPlaying());
    EXPECT_NEAR(speaker->soundSeconds(t0, Clock::now()), 1.0, 0.05);
    const auto heard = speaker->sound(t0, Clock::now());
    EXPECT_NEAR(testing::dominantFrequency(heard, 16000, 300, 600, 2), 440, 4);
}

TEST_F(Player, PauseAndStopAreHeardWithinATenthOfASecond) {
    auto player = tone(3.0);
    const auto t0 = Clock::now();
    ASSERT_TRUE(player->play());
    runFor(0.5);
    const auto paused = Clock::now();
    player->pause();
    EXPECT_FALSE(player->isPlaying());
    runFor(0.5);
    const auto lastBeforePause = speaker->lastSound(t0, Clock::now());
    ASSERT_TRUE(lastBeforePause);
    const double pauseLag = std::chrono::duration<double>(*lastBeforePause - paused).count();
    std::cout << "last sound " << pauseLag * 1000 << " ms after pause()\n";
    EXPECT_LT(pauseLag, 0.1);

    const auto resumed = Clock::now();
    ASSERT_TRUE(player->play());
    runFor(0.5);
    EXPECT_NEAR(speaker->soundSeconds(resumed, Clock::now()), 0.5, 0.06);
    const auto stopped = Clock::now();
    player->stop();
    runFor(2.5);  // longer than what was left
    const double stopLag =
        std::chrono::duration<double>(*speaker->lastSound(t0, Clock::now()) - stopped).count();
    std::cout << "last sound " << stopLag * 1000 << " ms after stop()\n";
    EXPECT_LT(stopLag, 0.1);
    EXPECT_TRUE(ends.empty());  // a stop is not an end
    EXPECT_NEAR(speaker->soundSeconds(t0, Clock::now()), 1.0, 0.1);
}

TEST_F(Player, ANewPositionOfZeroStartsAgain) {
    auto player = tone(1.0);
    const auto t0 = Clock::now();
    ASSERT_TRUE(player->play());
    runFor(0.6);
    player->setPosition(0);
    runFor(1.5);
    EXPECT_EQ(ends, std::vector<bool>{true});
    EXPECT_NEAR(speaker->soundSeconds(t0, Clock::now()), 1.6, 0.08);
}

TEST_F(Player, DoubleRateHalvesTheLengthAndKeepsThePitch) {
    auto player = tone(1.0);
    player->setRate(2.0);
    const auto t0 = Clock::now();
    ASSERT_TRUE(player->play());
    runFor(1.0);
    EXPECT_EQ(ends, std::vector<bool>{true});
    EXPECT_NEAR(speaker->soundSeconds(t0, Clock::now()), 0.5, 0.05);
    const auto heard = speaker->sound(t0, Clock::now());
    EXPECT_NEAR(testing::dominantFrequency(heard, 16000, 300, 600, 2), 440, 4);
}

// A server of its own that the test can kill, reached through PULSE_SERVER.
class PrivateServer {
  public:
    explicit PrivateServer(const fs::path& dir)
        : address_("unix:" + (dir / "native").string()),
          config_(write(dir)),
          // Its own runtime folder and no session bus: the session's server holds both.
          server_({"env", "XDG_RUNTIME_DIR=" + dir.string(),
                   "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (dir / "no-bus").string(), "pulseaudio",
                   "-n", "-F", config_, "--daemonize=no", "--use-pid-file=no",
                   "--exit-idle-time=-1", "--log-target=file:" + (dir / "server.log").string()}) {
        const auto start = Clock::now();
        while (testing::ChildProcess({"pactl", "-s", address_, "info"}, "/dev/null").wait(5) != 0) {
            if (secondsSince(start) > 10) {
                throw std::runtime_error("the private server did not start");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        env_.emplace("PULSE_SERVER", address_);
    }
    void kill() {
        server_.signal(SIGKILL);
        server_.wait(5);
    }

  private:
    static std::string write(const fs::path& dir) {
        std::ofstream(dir / "server.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << dir / "native"
            << "\nload-module module-null-sink sink_name=out norewinds=1\nset-default-sink out\n";
        return (dir / "server.pa").string();
    }
    std::string address_;
    std::string config_;
    testing::ChildProcess server_;
    std::optional<testing::ScopedEnv> env_;
};

TEST_F(Player, AServerThatGoesAwayEndsPlaybackUnsuccessfully) {
    PrivateServer server(dir.path());
    auto player = tone(3.0);
    ASSERT_TRUE(player->play());
    runFor(0.5);
    server.kill();
    runFor(1.0);
    EXPECT_EQ(ends, std::vector<bool>{false});
    EXPECT_FALSE(player->isPlaying());
    const auto start = Clock::now();
    EXPECT_FALSE(player->play());  // no server to play on
    EXPECT_LT(secondsSince(start), 2.5);
    EXPECT_EQ(ends, std::vector<bool>{false});
}

}  // namespace
}  // namespace larkspire

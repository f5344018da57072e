// bench_audio: converts 60 s of 48 kHz stereo float audio (a spool file) to the 16 kHz
// mono WAV, and has sox do the same conversion in the same run; prints the ratio.
// Also measures the time from start() to the first captured block when a PulseAudio
// server is reachable (scripts/headless-session -- bench_audio).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "audio/CafSpoolFile.h"
#include "audio/Conversion.h"
#include "audio/WAV.h"
#include "unit/audio/AudioTestSupport.h"
#ifdef LARKSPIRE_BENCH_PULSE
#include "platform/linux/pulse/PulseAudioInput.h"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using larkspire::Bytes;

// One minute of speech-like audio: a few harmonics under a slow envelope, plus noise.
class Input {
  public:
    Input() {
        path_ = dir_.path() / "minute.caf";
        auto file =
            larkspire::CafSpoolFile::create(path_, larkspire::platform::AudioFormat{48000, 2});
        std::mt19937 random(42);
        std::normal_distribution<float> noise(0.0f, 0.01f);
        std::vector<float> block(2 * 4096);
        const double tau = 2 * std::numbers::pi;
        for (std::size_t frame = 0; frame < 48000 * 60;) {
            const std::size_t n = std::min<std::size_t>(4096, 48000 * 60 - frame);
            for (std::size_t i = 0; i < n; ++i, ++frame) {
                const double t = static_cast<double>(frame) / 48000.0;
                const double envelope = 0.5 + 0.5 * std::sin(tau * 3 * t);
                const double v =
                    envelope * (0.2 * std::sin(tau * 180 * t) + 0.1 * std::sin(tau * 360 * t) +
                                0.05 * std::sin(tau * 2500 * t));
                block[2 * i] = static_cast<float>(v) + noise(random);
                block[2 * i + 1] = static_cast<float>(v * 0.8) + noise(random);
            }
            file->append(std::span(block).subspan(0, 2 * n));
        }
    }
    const fs::path& path() const { return path_; }
    const fs::path& dir() const { return dir_.path(); }

  private:
    larkspire::testing::TempDir dir_;
    fs::path path_;
};

Input& input() {
    static Input in;
    return in;
}

void BM_Larkspire_Convert60s(benchmark::State& state) {
    const fs::path out = input().dir() / "larkspire.wav";
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto pcm = larkspire::convertTo16kMonoInt16(input().path());
        if (!pcm) {
            state.SkipWithError("conversion failed");
            return;
        }
        const Bytes wav = larkspire::WAV::wrap(*pcm);
        std::ofstream(out, std::ios::binary)
            .write(reinterpret_cast<const char*>(wav.data()),
                   static_cast<std::streamsize>(wav.size()));
        bytes = wav.size();
    }
    state.counters["wav_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Larkspire_Convert60s)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void BM_Sox_Convert60s(benchmark::State& state) {
    const std::string in = input().path().string();
    const std::string out = (input().dir() / "sox.wav").string();
    std::vector<std::string> args = {"sox", in, "-D", "-r", "16000", "-c", "1", "-b", "16", out};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawnp(&pid, "sox", nullptr, nullptr, argv.data(), environ) != 0 ||
            ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("sox failed");
            return;
        }
    }
}
BENCHMARK(BM_Sox_Convert60s)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

#ifdef LARKSPIRE_BENCH_PULSE
// The input needs a scheduler only to answer requestAccess, which is not measured.
struct NoScheduler : larkspire::platform::Scheduler {
    void post(larkspire::platform::Task) override {}
    void postAfter(larkspire::platform::Duration, larkspire::platform::Task) override {}
    std::unique_ptr<larkspire::platform::RepeatingTimer> repeat(
        larkspire::platform::Duration, larkspire::platform::Task) override {
        return nullptr;
    }
    void runInBackground(larkspire::platform::Priority, larkspire::platform::Task) override {}
    std::shared_ptr<larkspire::platform::SerialQueue> serialQueue(const std::string&) override {
        return nullptr;
    }
};

// Manual time: from the call to the first block on the capture thread.
void startToFirstBlock(benchmark::State& state, bool withFormatQuery) {
    NoScheduler scheduler;
    larkspire::linux_desktop::PulseAudioInput mic(scheduler);
    larkspire::platform::AudioFormat format;
    try {
        format = mic.inputFormat();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable arrived;
        std::optional<std::chrono::steady_clock::time_point> first;
        const auto t0 = std::chrono::steady_clock::now();
        if (withFormatQuery) {
            format = mic.inputFormat();
        }
        mic.start(format, [&](std::span<const float>) {
            std::lock_guard lock(mutex);
            if (!first) {
                first = std::chrono::steady_clock::now();
                arrived.notify_all();
            }
        });
        {
            std::unique_lock lock(mutex);
            if (!arrived.wait_for(lock, std::chrono::seconds(2),
                                  [&] { return first.has_value(); })) {
                lock.unlock();
                mic.stop();
                state.SkipWithError("no block within 2 s");
                return;
            }
        }
        state.SetIterationTime(std::chrono::duration<double>(*first - t0).count());
        mic.stop();
    }
}
// What the 10 s permission poll costs the main thread.
void BM_PulseAuthorizationStatus(benchmark::State& state) {
    NoScheduler scheduler;
    larkspire::linux_desktop::PulseAudioInput mic(scheduler);
    for (auto _ : state) {
        if (mic.authorizationStatus() != larkspire::platform::MicrophoneAuthorization::authorized) {
            state.SkipWithError("no capture source");
            return;
        }
    }
}
BENCHMARK(BM_PulseAuthorizationStatus)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PulseStartToFirstBlock(benchmark::State& state) {
    startToFirstBlock(state, false);
}
void BM_PulseFormatAndStartToFirstBlock(benchmark::State& state) {
    startToFirstBlock(state, true);
}
BENCHMARK(BM_PulseStartToFirstBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
BENCHMARK(BM_PulseFormatAndStartToFirstBlock)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(20);
#endif

// Keeps each benchmark's real time per iteration to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
                seconds_[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds_;
};

// How close the two outputs are: the same conversion should give nearly the same samples.
void compareOutputs() {
    const auto ours = larkspire::testing::readFile(input().dir() / "larkspire.wav");
    const auto sox = larkspire::testing::readFile(input().dir() / "sox.wav");
    const auto a = larkspire::WAV::pcmData(ours);
    const auto b = larkspire::WAV::pcmData(sox);
    if (!a || !b) {
        std::cout << "outputs: not both readable as WAV\n";
        return;
    }
    const auto x = larkspire::testing::samples16(*a);
    const auto y = larkspire::testing::samples16(*b);
    const std::size_t n = std::min(x.size(), y.size());
    double xy = 0, xx = 0, yy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        xy += double(x[i]) * y[i];
        xx += double(x[i]) * x[i];
        yy += double(y[i]) * y[i];
    }
    std::cout << "outputs: larkspire " << x.size() << " samples, sox " << y.size()
              << " samples, correlation " << xy / std::sqrt(xx * yy) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    input();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.seconds_;
    const auto ours = s.find("BM_Larkspire_Convert60s");
    const auto sox = s.find("BM_Sox_Convert60s");
    if (ours != s.end() && sox != s.end()) {
        std::cout << "60 s of 48 kHz stereo float to 16 kHz mono WAV: larkspire "
                  << ours->second * 1000 << " ms, sox " << sox->second * 1000
                  << " ms, sox/larkspire = " << sox->second / ours->second << "\n";
        compareOutputs();
    }
    benchmark::Shutdown();
    return 0;
}

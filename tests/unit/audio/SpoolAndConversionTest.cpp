#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "audio/CafSpoolFile.h"
#include "audio/Conversion.h"
#include "audio/WAV.h"
#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::readSound;
using testing::samples16;
using testing::sine;
using testing::TempDir;

constexpr platform::AudioFormat kStereo48k{48000, 2};

std::vector<float> ramp(std::size_t samples) {
    std::vector<float> out(samples);
    for (std::size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<float>(i % 2000) / 2000.0f - 0.5f;
    }
    return out;
}

class Spool : public ::testing::Test {
  protected:
    // A spool file of these samples, written in blocks of 4096 frames.
    fs::path spoolOf(platform::AudioFormat format, const std::vector<float>& s) {
        const fs::path in = dir.path() / ("in" + std::to_string(++made) + ".caf");
        auto file = CafSpoolFile::create(in, format);
        for (std::size_t at = 0; at < s.size(); at += 4096 * format.channels) {
            const std::size_t n = std::min<std::size_t>(4096 * format.channels, s.size() - at);
            if (!file->append(std::span(s).subspan(at, n))) {
                throw std::runtime_error("append failed");
            }
        }
        return in;
    }
    TempDir dir;
    const fs::path p = dir.path() / "s.caf";
    int made = 0;
};

TEST_F(Spool, AFreshFileIsAValidFloatCafAndEveryAppendIsReadableAtOnce) {
    auto file = CafSpoolFile::create(p, platform::AudioFormat{44100, 3});
    const auto empty = readSound(p);
    EXPECT_EQ(empty.format, SF_FORMAT_CAF | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE);
    EXPECT_TRUE(empty.samples.empty());
    EXPECT_EQ(fs::file_size(p), CafSpoolFile::audioOffset);
    const std::vector<float> all = ramp(3 * 10000);
    std::size_t written = 0;
    for (std::size_t block : {4096u, 4096u, 1808u}) {
        ASSERT_TRUE(file->append(std::span(all).subspan(written * 3, block * 3)));
        written += block;
        // Still open: another reader sees exactly what was appended so far.
        const auto sound = readSound(p);
        EXPECT_EQ(sound.rate, 44100);
        EXPECT_EQ(sound.channels, 3);
        ASSERT_EQ(sound.samples.size(), written * 3);
        EXPECT_TRUE(std::equal(sound.samples.begin(), sound.samples.end(), all.begin()));
    }
    EXPECT_EQ(file->framesWritten(), 10000u);
}

TEST_F(Spool, NeitherAPartialFrameNorAnAppendAfterCloseIsWritten) {
    auto file = CafSpoolFile::create(p, kStereo48k);
    ASSERT_TRUE(file->append(std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f, 0.5f}));
    EXPECT_EQ(file->framesWritten(), 2u);
    file->close();
    EXPECT_FALSE(file->append(ramp(20)));
    EXPECT_EQ(readSound(p).samples, (std::vector<float>{0.1f, 0.2f, 0.3f, 0.4f}));
}

TEST_F(Spool, BytesPastTheLastBlockAreIgnoredByReaders) {
    // What a crash in the middle of a write leaves: audio bytes the size does not cover.
    const std::vector<float> block = ramp(2 * 4096);
    {
        auto file = CafSpoolFile::create(p, kStereo48k);
        ASSERT_TRUE(file->append(block));
        ASSERT_TRUE(file->append(block));
    }
    {
        std::ofstream tail(p, std::ios::binary | std::ios::app);
        const std::string junk(10001, '\x7f');
        tail << junk;
    }
    const auto sound = readSound(p);
    EXPECT_EQ(sound.samples.size(), 2u * 2 * 4096);

    // sox, as another tool, agrees on the frame count.
    const fs::path out = dir.path() / "sox.raw";
    const std::string cmd = "sox -q '" + p.string() + "' -t f32 '" + out.string() + "' 2>/dev/null";
    if (std::system(cmd.c_str()) == 0) {
        EXPECT_EQ(fs::file_size(out), 2u * 2 * 4096 * 4);
    } else {
        ADD_FAILURE() << "sox could not read the spool file";
    }
}

TEST_F(Spool, NeverOpensAnExistingFile) {
    testing::writeFile(p, "keep me");
    EXPECT_THROW(CafSpoolFile::create(p, kStereo48k), std::system_error);
    EXPECT_EQ(fs::file_size(p), 7u);
    EXPECT_THROW(CafSpoolFile::create(dir.path() / "no" / "folder.caf", kStereo48k),
                 std::system_error);
    EXPECT_THROW(CafSpoolFile::create(dir.path() / "z.caf", platform::AudioFormat{48000, 0}),
                 std::invalid_argument);
}

TEST_F(Spool, StereoAt48kBecomes16kMonoOfTheSameLengthAndPitch) {
    const auto in = spoolOf(kStereo48k, sine(48000, 48000, 1000, 0.5, {1.0f, 1.0f}));
    const auto pcm = convertTo16kMonoInt16(in);
    ASSERT_TRUE(pcm.has_value());
    ASSERT_EQ(pcm->size(), 32000u);  // one second
    const auto x = samples16(*pcm);
    const auto middle = std::span(x).subspan(2000, 12000);
    EXPECT_NEAR(testing::dominantFrequency(middle, 16000, 100, 7900, 20), 1000, 1);
    EXPECT_NEAR(testing::toneAmplitude(middle, 16000, 1000), 0.5, 0.01);
}

TEST_F(Spool, ChannelsAreAveraged) {
    // Opposite channels cancel out; one silent channel halves the level.
    const auto cancel =
        convertTo16kMonoInt16(spoolOf(kStereo48k, sine(48000, 24000, 440, 0.8, {1.0f, -1.0f})));
    ASSERT_TRUE(cancel.has_value());
    const auto c = samples16(*cancel);
    EXPECT_LE(std::abs(*std::max_element(c.begin(), c.end(),
                                         [](auto a, auto b) { return std::abs(a) < std::abs(b); })),
              1);
    const auto half =
        convertTo16kMonoInt16(spoolOf(kStereo48k, sine(48000, 24000, 440, 0.8, {1.0f, 0.0f})));
    ASSERT_TRUE(half.has_value());
    const auto h = samples16(*half);
    EXPECT_NEAR(testing::toneAmplitude(std::span(h).subspan(1000, 6000), 16000, 440), 0.4, 0.01);
}

TEST_F(Spool, ReadsOtherFormatsAndRates) {
    // A 16 kHz mono 16-bit WAV comes back as its own samples.
    std::vector<std::int16_t> tone(16000);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 300 * i / 16000.0));
    }
    const fs::path wav = dir.path() / "in.wav";
    testing::writeFile(wav, WAV::wrap(testing::pcm16(tone)));
    const auto same = convertTo16kMonoInt16(wav);
    ASSERT_TRUE(same.has_value());
    const auto back = samples16(*same);
    ASSERT_EQ(back.size(), tone.size());
    int worst = 0;
    for (std::size_t i = 0; i < tone.size(); ++i) {
        worst = std::max(worst, std::abs(back[i] - tone[i]));
    }
    EXPECT_LE(worst, 1);

    // 22.05 kHz mono: 2 s become 64000 bytes.
    const auto odd = convertTo16kMonoInt16(
        spoolOf(platform::AudioFormat{22050, 1}, sine(22050, 44100, 700, 0.3, {1.0f})));
    ASSERT_TRUE(odd.has_value());
    EXPECT_EQ(odd->size(), 64000u);
}

TEST_F(Spool, FullScaleIsClippedNotWrapped) {
    std::vector<float> loud(2 * 9600, 1.5f);
    const auto pcm = convertTo16kMonoInt16(spoolOf(kStereo48k, loud));
    ASSERT_TRUE(pcm.has_value());
    const auto x = samples16(*pcm);
    ASSERT_EQ(x.size(), 3200u);
    EXPECT_EQ(x[1600], 32767);
}

TEST_F(Spool, UnreadableFilesGiveNothingAndEmptyFilesGiveNoSamples) {
    EXPECT_FALSE(convertTo16kMonoInt16(dir.path() / "missing.caf").has_value());
    testing::writeFile(dir.path() / "text.caf", std::string(200, 'x'));
    EXPECT_FALSE(convertTo16kMonoInt16(dir.path() / "text.caf").has_value());
    const auto empty = convertTo16kMonoInt16(spoolOf(kStereo48k, {}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

}  // namespace
}  // namespace larkspire

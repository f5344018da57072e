#include "audio/WAV.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>

#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

using testing::pcm16;

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

void appendU32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// A RIFF/WAVE file of the given chunks, each written as id, size and body as given.
struct Chunk {
    std::string id;
    std::uint32_t size;
    Bytes body;
};
Bytes riff(const std::vector<Chunk>& chunks) {
    Bytes out = bytesOf("RIFF");
    appendU32(out, 0);  // not looked at
    const Bytes wave = bytesOf("WAVE");
    out.insert(out.end(), wave.begin(), wave.end());
    for (const auto& c : chunks) {
        const Bytes id = bytesOf(c.id);
        out.insert(out.end(), id.begin(), id.end());
        appendU32(out, c.size);
        out.insert(out.end(), c.body.begin(), c.body.end());
    }
    return out;
}

Bytes ramp(std::size_t n) {
    Bytes out(n);
    std::iota(out.begin(), out.end(), std::uint8_t{7});
    return out;
}

std::uint32_t u32At(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(WAVWrap, EmptyPCMGivesTheCanonical44ByteHeader) {
    const Bytes expected = {'R', 'I', 'F',  'F',  36,  0,   0,    0,    'W', 'A', 'V',
                            'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                            1,   0,   0x80, 0x3E, 0,   0,   0x00, 0x7D, 0,   0,   2,
                            0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    EXPECT_EQ(WAV::wrap({}), expected);
}

TEST(WAVWrap, SizesAndPayloadOfOneSecond) {
    const Bytes pcm = ramp(32000);
    const Bytes wav = WAV::wrap(pcm);
    ASSERT_EQ(wav.size(), 32044u);
    EXPECT_EQ(u32At(wav, 4), 32036u);
    EXPECT_EQ(u32At(wav, 40), 32000u);
    // The fields between the two sizes do not depend on the payload.
    const Bytes empty = WAV::wrap({});
    EXPECT_TRUE(std::equal(wav.begin() + 8, wav.begin() + 40, empty.begin() + 8));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), wav.begin() + 44));
}

TEST(WAVWrap, OddPayloadGetsNoPadByte) {
    const Bytes wav = WAV::wrap(ramp(3));
    EXPECT_EQ(wav.size(), 47u);
    EXPECT_EQ(u32At(wav, 4), 39u);
    EXPECT_EQ(u32At(wav, 40), 3u);
}

TEST(WAVPcmData, ReturnsWhatWrapWrapped) {
    for (std::size_t n : {0u, 1u, 2u, 3u, 44u, 4095u, 32000u}) {
        const Bytes pcm = ramp(n);
        const auto back = WAV::pcmData(WAV::wrap(pcm));
        ASSERT_TRUE(back.has_value()) << n;
        EXPECT_EQ(*back, pcm) << n;
    }
}

TEST(WAVPcmData, WalksPastTheFmtChunkWithoutCheckingIt) {
    // A stereo 44.1 kHz fmt chunk: the walk does not verify the format.
    Bytes fmt(16, 0);
    fmt[2] = 2;
    const Bytes wav = riff({{"fmt ", 16, fmt}, {"data", 4, {1, 2, 3, 4}}});
    EXPECT_EQ(WAV::pcmData(wav), (Bytes{1, 2, 3, 4}));
}

TEST(WAVPcmData, SkipsThePadByteAfterAnOddChunk) {
    // "LIST" of 3 bytes, its pad byte, then "data". Without the pad the walk would read
    // "ata." as the next id and find nothing.
    const Bytes wav = riff({{"LIST", 3, {'a', 'b', 'c', 0}}, {"data", 2, {9, 8}}});
    EXPECT_EQ(WAV::pcmData(wav), (Bytes{9, 8}));
}

TEST(WAVPcmData, NoPadByteAfterAnEvenChunk) {
    const Bytes wav = riff({{"LIST", 4, {'a', 'b', 'c', 'd'}}, {"data", 2, {9, 8}}});
    EXPECT_EQ(WAV::pcmData(wav), (Bytes{9, 8}));
}

TEST(WAVPcmData, FirstDataChunkWins) {
    const Bytes wav = riff({{"data", 2, {1, 1}}, {"data", 2, {2, 2}}});
    EXPECT_EQ(WAV::pcmData(wav), (Bytes{1, 1}));
}

TEST(WAVPcmData, DataChunkEndingExactlyAtTheEndIsWhole) {
    const Bytes wav = riff({{"data", 5, {1, 2, 3, 4, 5}}});
    EXPECT_EQ(WAV::pcmData(wav), (Bytes{1, 2, 3, 4, 5}));
}

TEST(WAVPcmData, TruncatedDataChunkYieldsNothing) {
    Bytes wav = WAV::wrap(ramp(100));
    wav.pop_back();
    EXPECT_FALSE(WAV::pcmData(wav).has_value());
    // Also a declared size far past the end, near the 32-bit limit.
    EXPECT_FALSE(WAV::pcmData(riff({{"data", 0xFFFFFFFFu, {1, 2}}})).has_value());
    // And a skipped chunk whose size runs past the end.
    EXPECT_FALSE(WAV::pcmData(riff({{"LIST", 0xFFFFFFF0u, {1, 2}}})).has_value());
}

TEST(WAVPcmData, MalformedInputYieldsNothing) {
    const Bytes good = WAV::wrap(ramp(10));
    EXPECT_FALSE(WAV::pcmData({}).has_value());
    EXPECT_FALSE(WAV::pcmData(Bytes(good.begin(), good.begin() + 11)).has_value());
    EXPECT_FALSE(WAV::pcmData(Bytes(good.begin(), good.begin() + 12)).has_value());
    EXPECT_FALSE(WAV::pcmData(Bytes(good.begin(), good.begin() + 19)).has_value());
    Bytes rifx = good;
    rifx[3] = 'X';
    EXPECT_FALSE(WAV::pcmData(rifx).has_value());
    Bytes wavf = good;
    wavf[11] = 'F';
    EXPECT_FALSE(WAV::pcmData(wavf).has_value());
    // Chunks but no "data".
    EXPECT_FALSE(WAV::pcmData(riff({{"fmt ", 2, {0, 0}}})).has_value());
}

TEST(WAVChunks, CutsAtTheLimitInOrder) {
    const Bytes pcm = ramp(7000000);
    const auto pieces = WAV::chunks(WAV::wrap(pcm), 3145728);
    ASSERT_EQ(pieces.size(), 3u);
    const std::size_t sizes[] = {3145728, 3145728, 708544};
    Bytes joined;
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(pieces[i].size(), 44 + sizes[i]);
        const auto p = WAV::pcmData(pieces[i]);
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(pieces[i], WAV::wrap(*p));
        joined.insert(joined.end(), p->begin(), p->end());
    }
    EXPECT_EQ(joined, pcm);
}

std::vector<std::size_t> pieceSizes(std::size_t pcmBytes, std::int64_t limit) {
    std::vector<std::size_t> sizes;
    for (const auto& piece : WAV::chunks(WAV::wrap(ramp(pcmBytes)), limit)) {
        sizes.push_back(WAV::pcmData(piece)->size());
    }
    return sizes;
}

TEST(WAVChunks, OddAndTinyLimitsKeepWholeSamples) {
    EXPECT_EQ(pieceSizes(10, 5), (std::vector<std::size_t>{4, 4, 2}));
    EXPECT_EQ(pieceSizes(6, 1), (std::vector<std::size_t>{2, 2, 2}));
    EXPECT_EQ(pieceSizes(6, 0), (std::vector<std::size_t>{2, 2, 2}));
    EXPECT_EQ(pieceSizes(6, -3), (std::vector<std::size_t>{2, 2, 2}));
    EXPECT_EQ(pieceSizes(7, 4), (std::vector<std::size_t>{4, 3}));
    EXPECT_EQ(pieceSizes(8, 8), (std::vector<std::size_t>{8}));
    EXPECT_EQ(pieceSizes(8, 9), (std::vector<std::size_t>{8}));
}

TEST(WAVChunks, NothingWithoutPCM) {
    EXPECT_TRUE(WAV::chunks(WAV::wrap({}), 100).empty());
    EXPECT_TRUE(WAV::chunks(bytesOf("not a wav file at all"), 100).empty());
    Bytes truncated = WAV::wrap(ramp(10));
    truncated.pop_back();
    EXPECT_TRUE(WAV::chunks(truncated, 100).empty());
}

Bytes wavOf(const std::vector<std::int16_t>& samples) {
    return WAV::wrap(pcm16(samples));
}

TEST(WAVVoice, PeakThresholdIs64) {
    std::vector<std::int16_t> quiet(16000, 0);
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(wavOf(quiet)));
    quiet[500] = 63;
    quiet[900] = -63;
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(wavOf(quiet)));
    quiet[700] = 64;
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(wavOf(quiet)));
    quiet[700] = -64;
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(wavOf(quiet)));
    quiet[700] = -32768;  // |−32768| counts as 32768
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(wavOf(quiet)));
}

TEST(WAVVoice, RmsThresholdIs0Point6) {
    // A constant level v has RMS v / 32768; 0.6 of full scale lies between 19660 and 19661.
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(wavOf(std::vector<std::int16_t>(1000, 19660))));
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(wavOf(std::vector<std::int16_t>(1000, 19661))));
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(wavOf(std::vector<std::int16_t>(1000, -19661))));
    std::vector<std::int16_t> square(1000);
    for (std::size_t i = 0; i < square.size(); ++i) {
        square[i] = i % 2 ? 32767 : -32767;
    }
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(wavOf(square)));
}

TEST(WAVVoice, TrailingOddByteIsIgnored) {
    Bytes pcm = pcm16({0, 0});
    pcm.push_back(0x7F);  // would be loud if it were read as half a sample
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(WAV::wrap(pcm)));
    Bytes loud = pcm16({100});
    loud.push_back(0);
    EXPECT_TRUE(WAV::hasPlausibleVoiceSignal(WAV::wrap(loud)));
}

TEST(WAVVoice, MalformedOrTooShortIsNotAVoice) {
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(WAV::wrap(Bytes{0x40})));
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(WAV::wrap({})));
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(pcm16({1000, -1000, 1000})));  // no header
    Bytes truncated = wavOf({1000, -1000});
    truncated.pop_back();
    EXPECT_FALSE(WAV::hasPlausibleVoiceSignal(truncated));
}

}  // namespace
}  // namespace larkspire

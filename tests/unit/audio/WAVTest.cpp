#include "audio/WAV.h"

#include <gtest/gtest.h>

#include <numeric>
#include <optional>
#include <string>

#include "unit/audio/AudioTestSupport.h"

namespace larkspire {
namespace {

using testing::pcm16;

Bytes bytesOf(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// A RIFF/WAVE file of the given chunks, each written as id, size and body as given.
struct Chunk {
    std::string id;
    std::uint32_t size;
    Bytes body;
};
Bytes riff(const std::vector<Chunk>& chunks) {
    Bytes out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};  // size not looked at
    for (const auto& c : chunks) {
        const Bytes id = bytesOf(c.id);
        out.insert(out.end(), id.begin(), id.end());
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<std::uint8_t>(c.size >> (8 * i)));
        }
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

TEST(WAVWrap, SizesFollowThePayloadWithoutPadByteAndPcmDataReadsItBack) {
    const Bytes empty = WAV::wrap({});
    for (std::size_t n : {1u, 2u, 3u, 44u, 4095u, 32000u}) {
        const Bytes pcm = ramp(n);
        const Bytes wav = WAV::wrap(pcm);
        ASSERT_EQ(wav.size(), 44 + n) << n;
        EXPECT_EQ(u32At(wav, 4), 36 + n) << n;
        EXPECT_EQ(u32At(wav, 40), n) << n;
        // The fields between the two sizes do not depend on the payload.
        EXPECT_TRUE(std::equal(wav.begin() + 8, wav.begin() + 40, empty.begin() + 8)) << n;
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), wav.begin() + 44)) << n;
        EXPECT_EQ(WAV::pcmData(wav), pcm) << n;
    }
}

TEST(WAVPcmData, WalksTheChunksToTheFirstCompleteDataChunk) {
    Bytes stereoFmt(16, 0);  // a stereo fmt chunk: the walk does not check the format
    stereoFmt[2] = 2;
    const Bytes good = WAV::wrap(ramp(10));
    Bytes truncated = WAV::wrap(ramp(100));
    truncated.pop_back();
    Bytes rifx = good;
    rifx[3] = 'X';
    Bytes wavf = good;
    wavf[11] = 'F';
    struct Case {
        const char* what;
        Bytes wav;
        std::optional<Bytes> pcm;
    };
    const std::vector<Case> cases = {
        {"fmt not checked", riff({{"fmt ", 16, stereoFmt}, {"data", 4, {1, 2, 3, 4}}}),
         Bytes{1, 2, 3, 4}},
        // Without the pad byte the walk would read "ata." as the next id.
        {"pad after odd chunk", riff({{"LIST", 3, {'a', 'b', 'c', 0}}, {"data", 2, {9, 8}}}),
         Bytes{9, 8}},
        {"no pad after even chunk", riff({{"LIST", 4, {'a', 'b', 'c', 'd'}}, {"data", 2, {9, 8}}}),
         Bytes{9, 8}},
        {"first data wins", riff({{"data", 2, {1, 1}}, {"data", 2, {2, 2}}}), Bytes{1, 1}},
        {"data ends at the end", riff({{"data", 5, {1, 2, 3, 4, 5}}}), Bytes{1, 2, 3, 4, 5}},
        {"truncated data", truncated, std::nullopt},
        {"size near 2^32", riff({{"data", 0xFFFFFFFFu, {1, 2}}}), std::nullopt},
        {"skipped chunk past the end", riff({{"LIST", 0xFFFFFFF0u, {1, 2}}}), std::nullopt},
        {"empty", {}, std::nullopt},
        {"11 bytes", Bytes(good.begin(), good.begin() + 11), std::nullopt},
        {"12 bytes", Bytes(good.begin(), good.begin() + 12), std::nullopt},
        {"19 bytes", Bytes(good.begin(), good.begin() + 19), std::nullopt},
        {"RIFX", rifx, std::nullopt},
        {"WAVF", wavf, std::nullopt},
        {"no data chunk", riff({{"fmt ", 2, {0, 0}}}), std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WAV::pcmData(c.wav), c.pcm) << c.what;
    }
}

TEST(WAVChunks, CutsAtTheLimitInWholeSamplesAndInOrder) {
    struct Case {
        std::size_t pcmBytes;
        std::int64_t limit;
        std::vector<std::size_t> sizes;
    };
    const std::vector<Case> cases = {
        {7000000, 3145728, {3145728, 3145728, 708544}},
        {10, 5, {4, 4, 2}},
        {6, 1, {2, 2, 2}},
        {6, 0, {2, 2, 2}},
        {6, -3, {2, 2, 2}},
        {7, 4, {4, 3}},
        {8, 8, {8}},
        {8, 9, {8}},
    };
    for (const Case& c : cases) {
        const Bytes pcm = ramp(c.pcmBytes);
        std::vector<std::size_t> sizes;
        Bytes joined;
        for (const Bytes& piece : WAV::chunks(WAV::wrap(pcm), c.limit)) {
            const auto p = WAV::pcmData(piece);
            ASSERT_TRUE(p.has_value());
            EXPECT_EQ(piece, WAV::wrap(*p));
            sizes.push_back(p->size());
            joined.insert(joined.end(), p->begin(), p->end());
        }
        EXPECT_EQ(sizes, c.sizes) << c.pcmBytes << " by " << c.limit;
        EXPECT_EQ(joined, pcm) << c.pcmBytes << " by " << c.limit;
    }
}

TEST(WAVChunks, NothingWithoutPCM) {
    EXPECT_TRUE(WAV::chunks(WAV::wrap({}), 100).empty());
    EXPECT_TRUE(WAV::chunks(bytesOf("not a wav file at all"), 100).empty());
    Bytes truncated = WAV::wrap(ramp(10));
    truncated.pop_back();
    EXPECT_TRUE(WAV::chunks(truncated, 100).empty());
}

TEST(WAVVoice, APeakOf64AndAnRmsBelowPointSixMakeAVoice) {
    const auto with = [](std::vector<std::int16_t> samples, std::size_t at, std::int16_t v) {
        samples[at] = v;
        return samples;
    };
    const std::vector<std::int16_t> quiet(16000, 0);
    std::vector<std::int16_t> square(1000);
    for (std::size_t i = 0; i < square.size(); ++i) {
        square[i] = i % 2 ? 32767 : -32767;
    }
    Bytes quietOddByte = pcm16({0, 0});
    quietOddByte.push_back(0x7F);  // would be loud if it were read as half a sample
    Bytes loudOddByte = pcm16({100});
    loudOddByte.push_back(0);
    Bytes truncated = WAV::wrap(pcm16({1000, -1000}));
    truncated.pop_back();
    struct Case {
        const char* what;
        Bytes wav;
        bool voice;
    };
    // A constant level v has RMS v / 32768; 0.6 of full scale lies between 19660 and 19661.
    const std::vector<Case> cases = {
        {"silence", WAV::wrap(pcm16(quiet)), false},
        {"peak 63", WAV::wrap(pcm16(with(with(quiet, 500, 63), 900, -63))), false},
        {"peak 64", WAV::wrap(pcm16(with(quiet, 700, 64))), true},
        {"peak -64", WAV::wrap(pcm16(with(quiet, 700, -64))), true},
        {"peak -32768", WAV::wrap(pcm16(with(quiet, 700, -32768))), true},
        {"rms 19660", WAV::wrap(pcm16(std::vector<std::int16_t>(1000, 19660))), true},
        {"rms 19661", WAV::wrap(pcm16(std::vector<std::int16_t>(1000, 19661))), false},
        {"rms -19661", WAV::wrap(pcm16(std::vector<std::int16_t>(1000, -19661))), false},
        {"full-scale square", WAV::wrap(pcm16(square)), false},
        {"quiet with an odd byte", WAV::wrap(quietOddByte), false},
        {"loud with an odd byte", WAV::wrap(loudOddByte), true},
        {"one byte", WAV::wrap(Bytes{0x40}), false},
        {"no PCM", WAV::wrap({}), false},
        {"no header", pcm16({1000, -1000, 1000}), false},
        {"truncated", truncated, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WAV::hasPlausibleVoiceSignal(c.wav), c.voice) << c.what;
    }
}

}  // namespace
}  // namespace larkspire

// WBCF audio: bit-level decoding of the delta codes, encoder round trips, seeking, header
// checks and the PCM chunk ring.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "MbcMemoryStream.h"
#include "splitters/MbcPcmRing.h"
#include "splitters/WbcfDecoder.h"
#include "tools/mbcenc/MbcBitWriter.h"
#include "tools/mbcenc/WbcfEncoder.h"

namespace {

struct OpenedWbcf {
    explicit OpenedWbcf(std::vector<uint8_t> bytes) : stream(std::move(bytes)) {
        handle = mbctest::MemoryStream::callbacks().open(stream.name(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        status = decoder.open(mbctest::MemoryStream::callbacks(), handle);
    }
    mbctest::MemoryStream stream;
    HANDLE handle = nullptr;
    WbcfDecoder decoder;
    WbcfDecoder::Status status;
};

std::vector<int16_t> readAll(WbcfDecoder& d, size_t piece) {
    std::vector<int16_t> out;
    std::vector<int16_t> buf(piece * d.channels());
    for (;;) {
        const size_t got = d.read(buf.data(), piece);
        out.insert(out.end(), buf.begin(), buf.begin() + got * d.channels());
        if (got < piece) return out;
    }
}

std::vector<int16_t> tone(size_t frames, int channels, double amplitude, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            pcm[i * channels + c] = static_cast<int16_t>(amplitude * std::sin(i * 0.01 * (c + 1)) + int(rng() % 5) - 2);
    return pcm;
}

std::vector<uint8_t> header(uint16_t mode, uint16_t channels, uint32_t blockSamples, uint32_t blockCount,
                            uint16_t bits = 16) {
    WbcfHeader h;
    h.mode = mode;
    h.channels = channels;
    h.bitsPerSample = bits;
    h.sampleRate = 8000;
    h.blockCount = blockCount;
    h.blockSamples = blockSamples;
    h.totalSamples = blockSamples * blockCount;
    std::vector<uint8_t> b(WbcfHeader::kBytes + blockCount * 4 + 16, 0);
    h.dataEnd = static_cast<uint32_t>(b.size());
    h.store(b.data());
    for (uint32_t i = 0; i < blockCount; ++i) b[WbcfHeader::kBytes + i * 4] = static_cast<uint8_t>(b.size() - 16);
    return b;
}

TEST(WbcfDecoderTest, ModeOneDeltaCodesDecodeBitExactly) {
    MbcBitWriter w;
    w.write(100, 16);                                // first sample
    w.write(0, 3), w.write(0x01, 5);                 // k 0: +((1 + 17) << 3) = +144
    w.write(7, 3), w.write(0, 3);                    // d 0: no change
    w.write(7, 3), w.write(1, 3), w.write(0x13, 5);  // d 1, negative: -(3 + 1)
    w.write(7, 3), w.write(5, 3), w.write(0x00, 5);  // d 5: +(17 << 10)
    w.write(7, 3), w.write(7, 3);                    // d 7: +32768 (wraps)
    w.write(6, 3), w.write(0x1F, 5);                 // k 6, negative: -(32 << 9)
    w.write(7, 3), w.write(6, 3), w.write(0x0F, 5);  // d 6: 32 << 11 is 0 in 16 bits
    w.write(7, 3), w.write(3, 3), w.write(0x12, 5);  // d 3, negative: -((2 + 17) << 1)
    auto bytes = w.finish();
    int16_t out[9];
    WbcfDecoder::decodeBlock(1, bytes.data(), bytes.size(), 1, 9, out);
    const int16_t expected[9] = {100, 244, 244, 240, 17648, -15120, -31504, -31504, -31542};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(WbcfDecoderTest, ModeZeroRoundTripIsExactWithAShortLastBlock) {
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        const size_t frames = 1000;  // 7 blocks of 128 and a last one of 104
        auto pcm = tone(frames, channels, 20000, channels);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(encodeWbcf(pcm.data(), frames, channels, 22050, {0, 128}, bytes));
        OpenedWbcf o(bytes);
        ASSERT_EQ(o.status, WbcfDecoder::Status::Ready);
        EXPECT_EQ(o.decoder.header().blockCount, 8u);
        EXPECT_EQ(readAll(o.decoder, 77), pcm);
        EXPECT_TRUE(o.decoder.atEnd());
    }
}

TEST(WbcfDecoderTest, ModeOneStaysCloseWithoutDrift) {
    const size_t frames = 6000;
    auto pcm = tone(frames, 2, 3000, 9);
    // A few large jumps that the coarse codes can only approach.
    pcm[2 * 1000] = 30000;
    pcm[2 * 1001] = -30000;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(encodeWbcf(pcm.data(), frames, 2, 44100, {1, 2048}, bytes));
    EXPECT_LT(bytes.size(), pcm.size() * 2 * 3 / 4);  // smaller than raw
    OpenedWbcf o(bytes);
    ASSERT_EQ(o.status, WbcfDecoder::Status::Ready);
    auto decoded = readAll(o.decoder, 500);
    ASSERT_EQ(decoded.size(), pcm.size());
    int worst = 0;
    for (size_t i = 0; i < pcm.size(); ++i)
        if (i / 2 < 995 || i / 2 > 1010) worst = std::max(worst, std::abs(decoded[i] - pcm[i]));
    EXPECT_LE(worst, 8);  // small steps are coded exactly or nearly so; errors never add up
}

TEST(WbcfDecoderTest, SeekingMatchesSequentialReading) {
    const size_t frames = 900;
    auto pcm = tone(frames, 2, 9000, 4);
    for (uint16_t mode : {0, 1}) {
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(encodeWbcf(pcm.data(), frames, 2, 8000, {mode, 100}, bytes));
        OpenedWbcf o(bytes);
        ASSERT_EQ(o.status, WbcfDecoder::Status::Ready);
        auto all = readAll(o.decoder, 64);
        for (uint64_t t : {0u, 1u, 99u, 100u, 101u, 450u, 899u}) {
            o.decoder.seekToSample(t);
            auto rest = readAll(o.decoder, 33);
            ASSERT_EQ(rest.size(), (frames - t) * 2) << t;
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), all.begin() + t * 2)) << "mode " << mode << " t " << t;
        }
        o.decoder.seekToSample(frames);
        EXPECT_TRUE(o.decoder.atEnd());
        int16_t s[2];
        EXPECT_EQ(o.decoder.read(s, 1), 0u);
    }
}

TEST(WbcfDecoderTest, HeaderChecks) {
    EXPECT_EQ(OpenedWbcf(header(0, 2, 256, 2)).status, WbcfDecoder::Status::Ready);
    EXPECT_EQ(OpenedWbcf(header(0, 2, 126, 2)).status, WbcfDecoder::Status::Invalid);  // 63 per channel
    EXPECT_EQ(OpenedWbcf(header(0, 2, 257, 2)).status, WbcfDecoder::Status::Invalid);  // not whole frames
    EXPECT_EQ(OpenedWbcf(header(0, 0, 256, 2)).status, WbcfDecoder::Status::Invalid);
    EXPECT_EQ(OpenedWbcf(header(0, 2, 256, 2, 8)).status, WbcfDecoder::Status::Invalid);
    EXPECT_EQ(OpenedWbcf(header(2, 2, 256, 2)).status, WbcfDecoder::Status::Invalid);
    for (uint16_t mode : {64, 256, 257, 260})
        EXPECT_EQ(OpenedWbcf(header(mode, 2, 256, 2)).status, WbcfDecoder::Status::Unsupported) << mode;
    auto b = header(0, 1, 64, 2);
    b[20] = 0xFF, b[21] = 0xFF, b[22] = 0xFF;  // a block table far larger than the stream
    EXPECT_EQ(OpenedWbcf(b).status, WbcfDecoder::Status::Invalid);
    b = header(0, 1, 64, 1);
    b[0] = 'X';
    EXPECT_EQ(OpenedWbcf(b).status, WbcfDecoder::Status::Invalid);
}

TEST(WbcfDecoderTest, BlocksOutsideTheStreamDecodeAsSilence) {
    auto b = header(0, 1, 64, 2);
    b[WbcfHeader::kBytes + 4] = 0xF0;  // second block starts far past the end
    b[WbcfHeader::kBytes + 5] = 0xFF;
    OpenedWbcf o(b);
    ASSERT_EQ(o.status, WbcfDecoder::Status::Ready);
    auto all = readAll(o.decoder, 50);
    ASSERT_EQ(all.size(), 128u);
    for (size_t i = 64; i < 128; ++i) EXPECT_EQ(all[i], 0) << i;
}

TEST(MbcPcmRingTest, ChunksComeOutInOrderAndLentOnesSurviveAClear) {
    MbcPcmRing ring;
    ring.reset(3, 8);
    for (uint8_t v : {1, 2, 3}) {
        uint8_t* c = ring.beginFill();
        ASSERT_NE(c, nullptr);
        std::memset(c, v, 8);
        ring.commitFill();
    }
    EXPECT_EQ(ring.beginFill(), nullptr);
    size_t n = 0;
    const uint8_t* a = ring.borrow(&n);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(n, 8u);
    EXPECT_EQ(a[0], 1);
    const uint8_t* b = ring.borrow(&n);
    EXPECT_EQ(b[0], 2);
    EXPECT_TRUE(ring.giveBack(a));
    EXPECT_FALSE(ring.giveBack(a));
    uint8_t* c = ring.beginFill();
    ASSERT_NE(c, nullptr);
    c[0] = 4;
    ring.commitFill();
    EXPECT_EQ(ring.borrow(&n)[0], 3);
    EXPECT_EQ(ring.borrow(&n)[0], 4);
    ring.clear();
    EXPECT_EQ(ring.filledCount(), 0u);
    EXPECT_TRUE(ring.giveBack(b));  // still lent across the clear
    EXPECT_EQ(ring.borrow(&n), nullptr);
}

}  // namespace

// The MBC codec's kernels: every SSE2 routine against its scalar twin on random and edge
// inputs (unaligned starts, odd tails, extremes), and the transforms against their rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "splitters/MbcBitReader.h"
#include "splitters/MbcColorConvert.h"
#include "splitters/MbcDeblock.h"
#include "splitters/MbcHuffmanTable.h"
#include "splitters/MbcIdct.h"
#include "splitters/MbcPrediction.h"
#include "splitters/MbcVideoDecoder.h"

namespace {

bool haveSse2() {
    return mbcCpuLevelSupported(MbcCpuLevel::Sse2);
}

#define REQUIRE_SSE2() \
    if (!haveSse2()) GTEST_SKIP() << "no SSE2 on this processor or build"

TEST(MbcKernelTest, ZigzagVisitsAntiDiagonalsAlternately) {
    // Built from the rule: walk the anti-diagonals, odd ones top-right to bottom-left.
    int k = 0;
    bool seen[64] = {};
    for (int d = 0; d < 15; ++d) {
        for (int i = 0; i <= d; ++i) {
            int r = d % 2 ? i : d - i, c = d - r;
            if (r > 7 || c > 7) continue;
            ASSERT_EQ(MbcVideoDecoder::kZigzag[k], r * 8 + c) << k;
            seen[r * 8 + c] = true;
            ++k;
        }
    }
    EXPECT_EQ(k, 64);
    for (bool s : seen) EXPECT_TRUE(s);
}

TEST(MbcKernelTest, BitReaderIsBigEndianAndZeroPastTheEnd) {
    const uint8_t data[] = {0xA5, 0x0F, 0xFF, 0x80, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB};
    MbcBitReader r(data, sizeof data);
    EXPECT_EQ(r.readBits(1), 1u);
    EXPECT_EQ(r.readBits(3), 2u);
    EXPECT_EQ(r.peekBits(4), 5u);
    EXPECT_EQ(r.readBits(12), 0x50Fu);
    EXPECT_EQ(r.readBits(9), 0x1FFu);
    EXPECT_EQ(r.readBits(0), 0u);
    EXPECT_EQ(r.readBits(16), 0x0002u);  // 7 bits 0000000, then 0x01's bits 0000000 1 -> ...
    EXPECT_EQ(r.bitPosition(), 41u);
    r.skipBits(32);
    EXPECT_EQ(r.readBits(7), 0x2Bu);  // the last 7 bits of 0xAB
    EXPECT_FALSE(r.overrun());
    EXPECT_EQ(r.readBits(16), 0u);
    EXPECT_TRUE(r.overrun());
    for (int i = 0; i < 100; ++i) EXPECT_EQ(r.readBits(32), 0u);
    MbcBitReader empty(nullptr, 5);
    EXPECT_EQ(empty.readBits(16), 0u);
}

TEST(MbcKernelTest, HuffmanCodesAreCanonical) {
    uint8_t lengths[192] = {};
    lengths[7] = 3;
    lengths[2] = 2;
    lengths[100] = 3;
    lengths[0] = 2;
    lengths[191] = 3;
    uint16_t codes[192];
    ASSERT_TRUE(MbcHuffmanTable::assignCodes(lengths, codes));
    EXPECT_EQ(codes[0], 0u);    // 00
    EXPECT_EQ(codes[2], 1u);    // 01
    EXPECT_EQ(codes[7], 4u);    // 100
    EXPECT_EQ(codes[100], 5u);  // 101
    EXPECT_EQ(codes[191], 6u);  // 110
    MbcHuffmanTable t;
    ASSERT_TRUE(t.build(lengths));
    const uint8_t bits[] = {0b01101110, 0b00000000};  // 01 101 110 00...
    MbcBitReader r(bits, sizeof bits);
    EXPECT_EQ(t.decode(r), 2);
    EXPECT_EQ(t.decode(r), 100);
    EXPECT_EQ(t.decode(r), 191);
    EXPECT_EQ(t.decode(r), 0);
    const uint8_t unused[] = {0xE0};  // 111: no code
    MbcBitReader u(unused, 1);
    EXPECT_EQ(t.decode(u), -1);
    uint8_t none[192] = {};
    EXPECT_FALSE(t.build(none));
}

// Random IDCT inputs of several kinds: full range, pixel-like, sparse, extremes.
void fillInputs(std::mt19937& rng, int kind, int16_t* in) {
    std::uniform_int_distribution<int> full(-32768, 32767), small(-600, 600), pick(0, 63);
    std::memset(in, 0, 64 * sizeof *in);
    switch (kind % 5) {
        case 0:
            for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(full(rng));
            break;
        case 1:
            for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(small(rng) >> (i / 8));
            break;
        case 2:
            for (int n = 0; n < 3; ++n) in[pick(rng)] = static_cast<int16_t>(small(rng) * 8);
            break;
        case 3:
            for (int i = 0; i < 64; ++i) in[i] = (rng() & 1) ? 32767 : -32768;
            break;
        default:
            for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(((i + kind) % 3 - 1) * 32767);
    }
}

TEST(MbcKernelTest, FixedIdctSse2MatchesScalar) {
    REQUIRE_SSE2();
    const auto& scalar = mbcIdctKernels(MbcCpuLevel::Scalar);
    const auto& sse2 = mbcIdctKernels(MbcCpuLevel::Sse2);
    ASSERT_NE(scalar.idctFixed, sse2.idctFixed);
    std::mt19937 rng(5);
    alignas(16) int16_t in[64];
    int16_t a[8 * 13 + 3], b[8 * 13 + 3];
    for (int iter = 0; iter < 20000; ++iter) {
        fillInputs(rng, iter, in);
        // Output at an odd offset and an odd stride: unaligned rows.
        std::memset(a, 0x5A, sizeof a);
        std::memset(b, 0x5A, sizeof b);
        scalar.idctFixed(in, a + 1, 13);
        sse2.idctFixed(in, b + 1, 13);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << "iteration " << iter;
    }
}

TEST(MbcKernelTest, FixedIdctDcShortcutAndReferenceCloseness) {
    const auto& k = mbcIdctKernels(mbcBestCpuLevel());
    alignas(16) int16_t in[64] = {};
    int16_t out[64];
    for (int v = -32768; v <= 32767; v += 7) {
        in[0] = static_cast<int16_t>(v);
        k.idctFixed(in, out, 8);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(out[i], mbcIdctFixedDcOnly(in[0])) << v;
    }
    // Against the single-precision reference on blocks of pixel-like range (DC values up
    // to 300 after dequantisation): the fixed form may differ only by rounding.
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coef(-40, 40), qd(1, 63);
    int64_t differ = 0, total = 0;
    for (int iter = 0; iter < 3000; ++iter) {
        int q = qd(rng);
        int32_t wide[64];
        for (int i = 0; i < 64; ++i) {
            int m = kMbcDefaultIntraMatrix[i];
            // Dequantised values: DC 0-300, AC within +-40 shrinking with frequency.
            double target = i == 0 ? rng() % 301 : (rng() % 4 == 0 ? coef(rng) / (1.0 + i / 8) : 0.0);
            int c = static_cast<int>(std::lround(target * 128.0 / (m * q)));
            wide[i] = c * m;
            in[i] = mbcIdctFixedInput(c, m, q);
        }
        int16_t ref[64];
        mbcIdctReference(wide, q, ref, 8);
        k.idctFixed(in, out, 8);
        for (int i = 0; i < 64; ++i) {
            ASSERT_LE(std::abs(out[i] - ref[i]), 1) << "iteration " << iter << " position " << i;
            differ += out[i] != ref[i];
            ++total;
        }
    }
    EXPECT_LT(differ * 20, total);  // at least 95% identical
    std::printf("fixed vs reference: %.2f%% of samples differ by 1\n", 100.0 * differ / total);
}

TEST(MbcKernelTest, DifferenceTransformInvertsSecondDifferences) {
    std::mt19937 rng(3);
    int16_t x[64], d[64], out[8 * 10];
    for (int iter = 0; iter < 200; ++iter) {
        for (auto& v : x) v = static_cast<int16_t>(static_cast<int>(rng() % 511) - 255);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) {
                auto at = [&](int rr, int cc) { return rr < 0 || cc < 0 ? 0 : x[rr * 8 + cc]; };
                d[r * 8 + c] = static_cast<int16_t>(at(r, c) - at(r, c - 1) - at(r - 1, c) + at(r - 1, c - 1));
            }
        mbcDifferenceTransform(d, out, 10);
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c) ASSERT_EQ(out[r * 10 + c], x[r * 8 + c]);
    }
    // Sums beyond 16 bits saturate.
    for (auto& v : d) v = 2047;
    mbcDifferenceTransform(d, out, 10);
    EXPECT_EQ(out[0], 2047);
    EXPECT_EQ(out[7 * 10 + 7], 32767);
}

TEST(MbcKernelTest, PredictionSse2MatchesScalarAndTheRule) {
    const auto& scalar = mbcPredictionKernels(MbcCpuLevel::Scalar);
    const auto& best = mbcPredictionKernels(mbcBestCpuLevel());
    std::mt19937 rng(17);
    const int stride = 4 * 40 + 12;  // not a multiple of 16
    std::vector<uint8_t> ref(static_cast<size_t>(stride) * 20);
    for (int iter = 0; iter < 400; ++iter) {
        for (auto& b : ref) b = static_cast<uint8_t>(iter % 7 == 0 ? (rng() & 1) * 255 : rng());
        int x = static_cast<int>(rng() % 23), y = static_cast<int>(rng() % 3);  // odd pixel starts
        int hx = iter & 1, hy = (iter >> 1) & 1;
        const uint8_t* src = ref.data() + y * stride + 4 * x;
        uint8_t a[16 * 64], b[16 * 64];
        scalar.predict(a, src, stride, hx, hy);
        best.predict(b, src, stride, hx, hy);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0);
        // The rule: (a + b + 1) >> 1 per byte, rows' horizontal averages for diagonals.
        for (int r = 0; r < 16; r += 5)
            for (int i = 0; i < 64; i += 7) {
                auto at = [&](int rr, int ii) { return static_cast<int>(src[rr * stride + ii]); };
                auto h = [&](int rr) { return hx ? (at(rr, i) + at(rr, i + 4) + 1) >> 1 : at(rr, i); };
                int e = hy ? (h(r) + h(r + 1) + 1) >> 1 : h(r);
                ASSERT_EQ(a[r * 64 + i], e);
            }
    }
}

TEST(MbcKernelTest, MacroblockStoreSse2MatchesScalar) {
    REQUIRE_SSE2();
    const auto& scalar = mbcPredictionKernels(MbcCpuLevel::Scalar);
    const auto& sse2 = mbcPredictionKernels(MbcCpuLevel::Sse2);
    std::mt19937 rng(23);
    const int16_t extremes[] = {-32768, 32767, -3, 300, 0, 255, 256, -1, 32512, 32511};
    int16_t planes[4][256 + 8];
    uint8_t pred[16 * 64 + 8];
    const int stride = 4 * 21 + 4;
    std::vector<uint8_t> a(static_cast<size_t>(stride) * 17), b(a.size());
    for (int iter = 0; iter < 600; ++iter) {
        for (auto& p : planes)
            for (auto& v : p)
                v = iter % 3 == 0 ? extremes[rng() % 10] : static_cast<int16_t>(static_cast<int>(rng() % 700) - 350);
        for (auto& v : pred) v = static_cast<uint8_t>(rng());
        int mode = iter % 3;  // 4:4:4, 4:2:2, 4:2:0
        int off = static_cast<int>(rng() % 4);
        MbcMacroblockSamples s{planes[0] + off,    planes[1] + off,   planes[2] + off,  planes[3] + off,
                               mode == 0 ? 16 : 8, mode == 0 ? 0 : 1, mode == 2 ? 1 : 0};
        const uint8_t* p = (iter & 4) ? pred + off : nullptr;
        std::fill(a.begin(), a.end(), 0xCD);
        std::fill(b.begin(), b.end(), 0xCD);
        scalar.store(a.data() + 4 * 3 + stride, stride, s, p);
        sse2.store(b.data() + 4 * 3 + stride, stride, s, p);
        ASSERT_EQ(a, b) << "iteration " << iter;
    }
    // The clamp itself: -3 -> 0 and 300 -> 255; with prediction 32767 + 200 -> 255.
    for (auto& pl : planes) std::fill(std::begin(pl), std::end(pl), 0);
    planes[2][0] = -3;
    planes[2][1] = 300;
    planes[2][2] = 32767;
    MbcMacroblockSamples s{planes[0], planes[1], planes[2], planes[3], 16, 0, 0};
    std::fill(std::begin(pred), std::end(pred), 200);
    sse2.store(a.data(), stride, s, nullptr);
    EXPECT_EQ(a[2], 0);
    EXPECT_EQ(a[6], 255);
    sse2.store(a.data(), stride, s, pred);
    EXPECT_EQ(a[2], 197);
    EXPECT_EQ(a[10], 255);
}

TEST(MbcKernelTest, DeblockingSse2MatchesScalarAndTheRule) {
    const auto& scalar = mbcDeblockKernels(MbcCpuLevel::Scalar);
    const auto& best = mbcDeblockKernels(mbcBestCpuLevel());
    std::mt19937 rng(29);
    for (uint32_t w : {8u, 16u, 24u, 40u, 72u}) {
        for (uint32_t h : {8u, 16u, 24u, 40u}) {
            const ptrdiff_t stride = 4 * w + 4 * (w % 3);  // some padding, unaligned rows
            std::vector<uint8_t> orig(static_cast<size_t>(stride) * h + 1);
            for (auto& v : orig) v = static_cast<uint8_t>((rng() % 5 == 0) ? (rng() & 1) * 255 : rng());
            auto a = orig, b = orig;
            scalar.verticalEdges(a.data() + 1, stride, w, h);
            best.verticalEdges(b.data() + 1, stride, w, h);
            ASSERT_EQ(a, b);
            // Vertical edges alone, from the rule.
            for (uint32_t y = 0; y < h; ++y)
                for (uint32_t x = 8; x < w; x += 8)
                    for (int c = 0; c < 4; ++c) {
                        auto o = [&](uint32_t xx) { return static_cast<int>(orig[1 + y * stride + 4 * xx + c]); };
                        auto avg = [](int p, int q) { return (p + q + 1) >> 1; };
                        ASSERT_EQ(a[1 + y * stride + 4 * (x - 1) + c], avg(o(x - 1), avg(o(x - 2), o(x))));
                        ASSERT_EQ(a[1 + y * stride + 4 * x + c], avg(o(x), avg(o(x - 1), o(x + 1))));
                        ASSERT_EQ(a[1 + y * stride + 4 * (x - 2) + c], o(x - 2));
                    }
            scalar.horizontalEdges(a.data() + 1, stride, w, h);
            best.horizontalEdges(b.data() + 1, stride, w, h);
            ASSERT_EQ(a, b);
            EXPECT_EQ(a[0], orig[0]);
            // Padding bytes beyond the width stay untouched.
            for (uint32_t y = 0; y < h; ++y)
                for (ptrdiff_t i = 4 * w; i < stride; ++i) ASSERT_EQ(a[1 + y * stride + i], orig[1 + y * stride + i]);
        }
    }
}

TEST(MbcKernelTest, ColourConversionSse2MatchesScalar) {
    REQUIRE_SSE2();
    const auto& scalar = mbcColorKernels(MbcCpuLevel::Scalar);
    const auto& sse2 = mbcColorKernels(MbcCpuLevel::Sse2);
    std::mt19937 rng(31);
    std::vector<uint8_t> src(4 * 64 + 3), a(4 * 64 + 5), b(a.size());
    for (int iter = 0; iter < 3000; ++iter) {
        for (auto& v : src) v = static_cast<uint8_t>(iter % 4 == 0 ? (rng() & 1) * 255 : rng());
        uint32_t count = static_cast<uint32_t>(rng() % 62);
        int so = static_cast<int>(rng() % 4), dof = static_cast<int>(rng() % 5);
        uint8_t alphaOr = (iter & 1) ? 255 : 0;
        std::fill(a.begin(), a.end(), 0x11);
        std::fill(b.begin(), b.end(), 0x11);
        scalar.yccRow(src.data() + so, a.data() + dof, count, alphaOr);
        sse2.yccRow(src.data() + so, b.data() + dof, count, alphaOr);
        ASSERT_EQ(a, b) << "ycc iteration " << iter;
        scalar.rgbRow(src.data() + so, a.data() + dof, count, alphaOr);
        sse2.rgbRow(src.data() + so, b.data() + dof, count, alphaOr);
        ASSERT_EQ(a, b) << "rgb iteration " << iter;
    }
    // Every (Cr, Cb) pair at three luma levels, against the formula.
    std::vector<uint8_t> all(4 * 256), out(4 * 256);
    for (int y : {0, 128, 255})
        for (int cr = 0; cr < 256; ++cr) {
            for (int cb = 0; cb < 256; ++cb) {
                all[4 * cb] = static_cast<uint8_t>(cr);
                all[4 * cb + 1] = static_cast<uint8_t>(cb);
                all[4 * cb + 2] = static_cast<uint8_t>(y);
                all[4 * cb + 3] = static_cast<uint8_t>(cb);
            }
            sse2.yccRow(all.data(), out.data(), 256, 0);
            for (int cb = 0; cb < 256; ++cb) {
                auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
                int yy = 4096 * y + 2048;
                ASSERT_EQ(out[4 * cb], clamp((yy + 7258 * (cb - 128)) >> 12));
                ASSERT_EQ(out[4 * cb + 1], clamp((yy - 2925 * (cr - 128) - 1410 * (cb - 128)) >> 12));
                ASSERT_EQ(out[4 * cb + 2], clamp((yy + 5742 * (cr - 128)) >> 12));
                ASSERT_EQ(out[4 * cb + 3], cb);
            }
        }
}

TEST(MbcKernelTest, DecoderOutputIsTheSameAtEveryLevel) {
    // Whole frames through both kernel sets: decoding and conversion agree byte for byte.
    MbcVideoDecoder a, b;
    const uint32_t flags = 3 | (2u << 12) | 0x40 | MbcVideoDecoder::kOutputAlpha;
    ASSERT_TRUE(a.configure(48, 32, flags));
    ASSERT_TRUE(b.configure(48, 32, flags));
    a.setCpuLevel(MbcCpuLevel::Scalar);
    std::mt19937 rng(41);
    MbcPicture pa, pb, ra, rb;
    ra.allocate(48, 32);
    for (uint32_t i = 0; i < ra.byteSize(); ++i) ra.data()[i] = static_cast<uint8_t>(rng());
    rb.copyFrom(ra);
    int decoded = 0;
    for (int iter = 0; iter < 300; ++iter) {
        std::vector<uint8_t> payload(120 + rng() % 2000);
        for (auto& v : payload) v = static_cast<uint8_t>(rng());
        // A complete table in the first 120 bytes, so that any bits decode: symbols 0-63
        // with 7-bit codes ("1 0111"), the others with 8-bit codes ("1 1000").
        for (int bit = 0; bit < 960; ++bit) {
            const char* code = bit / 5 < 64 ? "10111" : "11000";
            uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
            if (code[bit % 5] == '1')
                payload[bit / 8] |= mask;
            else
                payload[bit / 8] &= static_cast<uint8_t>(~mask);
        }
        MbcFrameType type = iter % 2 ? MbcFrameType::Predicted : MbcFrameType::Intra;
        bool okA = a.decodeFrame(payload.data(), payload.size(), type, pa, &ra, nullptr, nullptr, nullptr);
        bool okB = b.decodeFrame(payload.data(), payload.size(), type, pb, &rb, nullptr, nullptr, nullptr);
        ASSERT_EQ(okA, okB);
        if (!okA) continue;
        ++decoded;
        ASSERT_EQ(std::memcmp(pa.data(), pb.data(), pa.byteSize()), 0) << "iteration " << iter;
        std::vector<uint8_t> oa(48 * 32 * 4), ob(oa.size());
        a.convertPicture(pa, oa.data(), 48 * 4);
        b.convertPicture(pb, ob.data(), 48 * 4);
        ASSERT_EQ(oa, ob);
    }
    EXPECT_GT(decoded, 0);
}

}  // namespace

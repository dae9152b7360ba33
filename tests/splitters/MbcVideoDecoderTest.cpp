// The MBC video decoder on hand-built payloads: configuration rules, DC prediction,
// quantiser rescaling, motion vector edges, clamping, damaged tables and output modes.
#include <gtest/gtest.h>

#include <cstring>

#include "splitters/MbcVideoDecoder.h"
#include "tools/mbcenc/MbcBitWriter.h"

namespace {

// Payload writer with a table giving every symbol an 8-bit code (code = symbol).
class Payload {
public:
    Payload() {
        for (int s = 0; s < 192; ++s) {
            w_.write(1, 1);
            w_.write(8, 4);
        }
    }
    Payload& q(int value) {
        w_.write(static_cast<uint32_t>(value), 6);
        return *this;
    }
    Payload& noVector() {
        w_.write(0, 1);
        return *this;
    }
    Payload& vector(bool past, int x, int y) {
        w_.write(1, 1);
        w_.write(past ? 1 : 0, 1);
        w_.write(static_cast<uint32_t>(x) & 0xFF, 8);
        w_.write(static_cast<uint32_t>(y) & 0xFF, 8);
        return *this;
    }
    // A block whose only coefficient is the DC difference d (0: an empty block).
    Payload& dc(int d) {
        if (d) coefficient(0, d);
        w_.write(0, 8);  // end of block
        return *this;
    }
    Payload& coefficient(int run, int v) {
        uint32_t mag = static_cast<uint32_t>(v < 0 ? -v : v);
        int size = 32 - __builtin_clz(mag);
        w_.write(static_cast<uint32_t>((size << 4) | run), 8);
        w_.write(v < 0 ? mag : mag - (1u << (size - 1)), static_cast<unsigned>(size));
        return *this;
    }
    Payload& raw(uint32_t v, unsigned n) {
        w_.write(v, n);
        return *this;
    }
    std::vector<uint8_t> bytes() { return MbcBitWriter(w_).finish(); }

private:
    MbcBitWriter w_;
};

constexpr uint32_t kRgb = 16;
constexpr uint32_t kT1 = 1u << 12;
constexpr uint32_t kT2 = 2u << 12;

bool decode(MbcVideoDecoder& d, std::vector<uint8_t> bytes, MbcPicture& out, MbcFrameType type = MbcFrameType::Intra,
            const MbcPicture* past = nullptr, const MbcPicture* future = nullptr) {
    return d.decodeFrame(bytes.data(), bytes.size(), type, out, past, future, kMbcDefaultIntraMatrix,
                         kMbcDefaultInterMatrix);
}

const uint8_t* px(const MbcPicture& p, int x, int y) {
    return p.row(static_cast<uint32_t>(y)) + 4 * x;
}

TEST(MbcVideoDecoderTest, ConfigureFollowsTheCodecFlags) {
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(20, 10, 0x00000000));  // low byte 0: 4:2:0, DCT
    EXPECT_EQ(d.layout(), 3u);
    EXPECT_FALSE(d.hasAlpha());
    EXPECT_FALSE(d.outputsAlpha());
    EXPECT_EQ(d.transform(), 2);
    EXPECT_TRUE(d.deblocking());
    EXPECT_EQ(d.storeWidth(), 32u);
    EXPECT_EQ(d.storeHeight(), 16u);
    EXPECT_EQ(d.blockCount(), 6);

    ASSERT_TRUE(d.configure(16, 16, 0x43));  // 4:2:0 with alpha, ARGB output
    EXPECT_EQ(d.layout(), 3u);
    EXPECT_TRUE(d.hasAlpha());
    EXPECT_TRUE(d.outputsAlpha());
    EXPECT_EQ(d.blockCount(), 10);

    ASSERT_TRUE(d.configure(16, 16, 0x81 | kT1 | (1u << 16)));  // bit 7 alone: ARGB, no plane
    EXPECT_FALSE(d.hasAlpha());
    EXPECT_TRUE(d.outputsAlpha());
    EXPECT_FALSE(d.deblocking());
    ASSERT_TRUE(d.configure(16, 16, 0x02 | kT2 | (1u << 16) | (1u << 21)));
    EXPECT_FALSE(d.deblocking());
    EXPECT_TRUE(d.floatIdct());
    EXPECT_EQ(d.blockCount(), 8);
    ASSERT_TRUE(d.configure(16, 16, kRgb | 0x40));
    EXPECT_EQ(d.blockCount(), 16);

    for (uint32_t bad : {0x40u, 0x80u, 0xC0u, 0x04u, 0x11u, 0x3Fu, 0x01u | (3u << 12), 0x01u | (15u << 12)})
        EXPECT_FALSE(d.configure(16, 16, bad)) << std::hex << bad;
    EXPECT_FALSE(d.configure(0, 16, 1));
    EXPECT_FALSE(d.configure(16, 0, 1));
    EXPECT_FALSE(d.configure(MbcVideoDecoder::kMaxDimension + 1, 16, 1));
    EXPECT_FALSE(d.configured());
}

TEST(MbcVideoDecoderTest, DcOnlyBlockReconstructsToSixteen) {
    // DC 16, intra matrix entry 8, q 16: trunc(16 * 8 * 16 / 128 + 0.25) = 16, with the
    // fixed-point transform and with the reference one.
    for (uint32_t extra : {0u, 1u << 21}) {
        MbcVideoDecoder d;
        ASSERT_TRUE(d.configure(16, 16, 1 | kT2 | extra));
        Payload p;
        p.q(16);
        for (int quad = 0; quad < 4; ++quad) p.dc(quad == 0 ? 16 : 0).dc(quad == 0 ? 16 : 0).dc(quad == 0 ? 16 : 0);
        MbcPicture pic;
        ASSERT_TRUE(decode(d, p.bytes(), pic));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const uint8_t* v = px(pic, x, y);
                ASSERT_EQ(v[0], 16);
                ASSERT_EQ(v[1], 16);
                ASSERT_EQ(v[2], 16);
                ASSERT_EQ(v[3], 255);
            }
    }
}

TEST(MbcVideoDecoderTest, SamplesAreClampedWhenStored) {
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(16, 16, kRgb | kT1));
    // Quadrant TL: Y (R) at -3; the other quadrants' Y at -3 + 303 = 300.
    Payload p;
    p.q(1).dc(-3).dc(0).dc(0);
    for (int quad = 1; quad < 4; ++quad) p.dc(303).dc(0).dc(0);
    MbcPicture pic;
    ASSERT_TRUE(decode(d, p.bytes(), pic));
    EXPECT_EQ(px(pic, 0, 0)[2], 0);
    EXPECT_EQ(px(pic, 7, 7)[2], 0);
    EXPECT_EQ(px(pic, 8, 0)[2], 255);
    EXPECT_EQ(px(pic, 15, 15)[2], 255);
}

TEST(MbcVideoDecoderTest, QuantiserChangesRescaleThePredictors) {
    // 3 x 2 macroblocks, transform 1 (the DC is the sample value), RGB layout.
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(48, 32, kRgb | kT1));
    Payload p;
    auto mb = [&](int q, int dy, int dcb, int dcr) {
        p.q(q);
        for (int quad = 0; quad < 4; ++quad) p.dc(quad == 0 ? dy : 0).dc(quad == 0 ? dcb : 0).dc(quad == 0 ? dcr : 0);
    };
    mb(10, 7, 3, -2);  // predictors 7, 3, -2
    mb(5, 0, 0, 0);    // 10 x p / 5: 14, 6, -4
    mb(0, 1, 0, 0);    // q 0 keeps them: 15, 6, -4 (stored 0)
    mb(5, 0, 0, 0);    // new row: predictors start at 0
    mb(3, 9, 0, 0);    // current 5 -> 3: 0 stays 0, then +9
    mb(9, 0, 0, 0);    // 3 x 9 / 9 = 3
    MbcPicture pic;
    ASSERT_TRUE(decode(d, p.bytes(), pic));
    auto at = [&](int mx, int my) { return px(pic, 16 * mx + 5, 16 * my + 11); };
    EXPECT_EQ(at(0, 0)[2], 7);
    EXPECT_EQ(at(0, 0)[1], 3);
    EXPECT_EQ(at(0, 0)[0], 0);
    EXPECT_EQ(at(1, 0)[2], 14);
    EXPECT_EQ(at(1, 0)[1], 6);
    EXPECT_EQ(at(2, 0)[2], 15);
    EXPECT_EQ(at(2, 0)[1], 6);
    EXPECT_EQ(at(0, 1)[2], 0);
    EXPECT_EQ(at(1, 1)[2], 9);
    EXPECT_EQ(at(2, 1)[2], 3);
}

TEST(MbcVideoDecoderTest, DcPredictionPerPlaneAndTruncation) {
    // Non-first blocks add to the first block's DC; results round as trunc(v +- 0.25).
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(32, 16, 3 | kT2 | (1u << 16)));
    Payload p;
    p.q(1).dc(3).dc(2).dc(-1).dc(0).dc(0).dc(0);  // Y: 3, 5, 2, 3 (raw DCs), chroma 0
    p.q(6).dc(-3).dc(0).dc(0).dc(0).dc(0).dc(0);  // predictor 3 -> 1*3/6 = 0 -> -3
    MbcPicture pic;
    ASSERT_TRUE(decode(d, p.bytes(), pic));
    // DC 3 with q 1: 3*8*1 = 24 / 128 = 0.1875 -> 0; DC 5: 0.3125 -> 0. All zero in MB 0.
    EXPECT_EQ(px(pic, 0, 0)[2], 0);
    // MB 1: DC -3, q 6: -3*8*6/128 = -1.125 -> -1, clamped to 0.
    EXPECT_EQ(px(pic, 16, 0)[2], 0);
    // Chroma 0 gives Cr = Cb = 0.
    EXPECT_EQ(px(pic, 3, 3)[0], 0);

    // Larger values: q 32, DC 10 -> 10*8*32/128 = 20 exactly; second block +1 -> 22.
    Payload r;
    r.q(32).dc(10).dc(1).dc(0).dc(0).dc(0).dc(0);
    r.q(32).dc(0).dc(0).dc(0).dc(0).dc(0).dc(0);
    ASSERT_TRUE(decode(d, r.bytes(), pic));
    EXPECT_EQ(px(pic, 0, 0)[2], 20);
    EXPECT_EQ(px(pic, 8, 0)[2], 22);
    EXPECT_EQ(px(pic, 0, 8)[2], 20);
    EXPECT_EQ(px(pic, 16, 0)[2], 20);  // predictor carried to the next macroblock
}

// A reference picture with distinct bytes, and the predicted value at half-pixel (hx, hy).
MbcPicture makeReference(uint32_t w, uint32_t h) {
    MbcPicture ref;
    ref.allocate(w, h);
    for (uint32_t i = 0; i < ref.byteSize(); ++i) ref.data()[i] = static_cast<uint8_t>((i * 37 + (i >> 7) * 11) & 0xFF);
    return ref;
}

int halfPel(const MbcPicture& ref, int hx, int hy, int c) {
    auto at = [&](int x, int y) { return static_cast<int>(px(ref, x, y)[c]); };
    int x = hx >> 1, y = hy >> 1;
    auto h = [&](int yy) { return (hx & 1) ? (at(x, yy) + at(x + 1, yy) + 1) >> 1 : at(x, yy); };
    return (hy & 1) ? (h(y) + h(y + 1) + 1) >> 1 : h(y);
}

TEST(MbcVideoDecoderTest, VectorsAtThePictureEdges) {
    const uint32_t W = 48, H = 32;
    MbcPicture ref = makeReference(W, H);
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(W, H, kRgb | kT1));
    struct Case {
        int x, y;
        bool used;
    };
    // Macroblock (0, 0): the start column (x / 2, rounded down) must lie in [0, W - 16).
    const Case cases[] = {
        {2 * (48 - 16) - 1, 0, true},  // half pixel 63 (full 31): inside
        {2 * (48 - 16), 0, false},     // full pixel 32 = W - 16: outside
        {0, 2 * (32 - 16) - 1, true},  // bottom edge, inside
        {0, 2 * (32 - 16), false},     // bottom edge, outside
        {-1, 0, false},                // left of column 0
        {0, -1, false},                // above row 0
        {1, 1, true},                  // diagonal half pixel
        {0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "vector " << c.x << "," << c.y);
        Payload p;
        for (int mb = 0; mb < 6; ++mb) {
            p.q(1);
            if (mb == 0)
                p.vector(true, c.x, c.y);
            else
                p.noVector();
            for (int b = 0; b < 12; ++b) p.dc(0);
        }
        MbcPicture pic;
        ASSERT_TRUE(decode(d, p.bytes(), pic, MbcFrameType::Predicted, &ref));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                for (int ch = 0; ch < 4; ++ch) {
                    int expected = c.used ? halfPel(ref, 2 * x + c.x, 2 * y + c.y, ch) : (ch == 3 ? 255 : 0);
                    ASSERT_EQ(px(pic, x, y)[ch], expected) << x << "," << y << " channel " << ch;
                }
    }
}

TEST(MbcVideoDecoderTest, BidirectionalSelectorsAndMissingReferences) {
    const uint32_t W = 48, H = 48;
    MbcPicture past = makeReference(W, H), future;
    future.allocate(W, H);
    std::memset(future.data(), 200, future.byteSize());
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(W, H, kRgb | kT1));
    auto payload = [](bool pastSelected) {
        Payload p;
        for (int mb = 0; mb < 9; ++mb) {
            p.q(1).vector(pastSelected, 2, 2);
            for (int b = 0; b < 12; ++b) p.dc(mb == 0 && b == 1 ? 5 : 0);
        }
        return p.bytes();
    };
    MbcPicture pic;
    ASSERT_TRUE(decode(d, payload(false), pic, MbcFrameType::Bidirectional, &past, &future));
    EXPECT_EQ(px(pic, 20, 20)[1], 200);
    EXPECT_EQ(px(pic, 0, 0)[1], 205);  // residual added to the prediction
    EXPECT_EQ(px(pic, 0, 0)[2], 200);
    ASSERT_TRUE(decode(d, payload(true), pic, MbcFrameType::Bidirectional, &past, &future));
    EXPECT_EQ(px(pic, 20, 20)[1], px(past, 21, 21)[1]);
    // In a Predicted frame both selectors use the past reference.
    ASSERT_TRUE(decode(d, payload(false), pic, MbcFrameType::Predicted, &past, nullptr));
    EXPECT_EQ(px(pic, 20, 20)[1], px(past, 21, 21)[1]);
    // References that are missing or of another size fail the frame.
    EXPECT_FALSE(decode(d, payload(false), pic, MbcFrameType::Bidirectional, &past, nullptr));
    EXPECT_FALSE(decode(d, payload(true), pic, MbcFrameType::Predicted, nullptr, nullptr));
    MbcPicture small;
    small.allocate(16, 16);
    EXPECT_FALSE(decode(d, payload(true), pic, MbcFrameType::Predicted, &small, nullptr));
    EXPECT_FALSE(decode(d, payload(true), past, MbcFrameType::Predicted, &past, nullptr));  // target is the reference
    EXPECT_FALSE(decode(d, payload(true), pic, MbcFrameType::Repeat, &past, nullptr));
}

TEST(MbcVideoDecoderTest, DamagedTablesAndCodesFail) {
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(16, 16, 1 | kT1));
    MbcPicture pic;
    {  // no symbol used
        MbcBitWriter w;
        for (int s = 0; s < 192; ++s) w.write(0, 1);
        EXPECT_FALSE(decode(d, w.finish(), pic));
    }
    {  // a used symbol of length 0
        MbcBitWriter w;
        for (int s = 0; s < 192; ++s) {
            w.write(1, 1);
            w.write(s == 5 ? 0 : 8, 4);
        }
        EXPECT_FALSE(decode(d, w.finish(), pic));
    }
    {  // three codes of length 1 do not fit
        MbcBitWriter w;
        for (int s = 0; s < 192; ++s) {
            w.write(s < 3 ? 1 : 0, 1);
            if (s < 3) w.write(1, 4);
        }
        EXPECT_FALSE(decode(d, w.finish(), pic));
    }
    {  // one code "00": the bits "11" match nothing
        MbcBitWriter w;
        for (int s = 0; s < 192; ++s) {
            w.write(s == 0 ? 1 : 0, 1);
            if (s == 0) w.write(2, 4);
        }
        w.write(1, 6);
        w.write(3, 2);
        EXPECT_FALSE(decode(d, w.finish(), pic));
    }
    {  // long codes: 15-bit symbols decode through the sorted list
        MbcBitWriter w;
        uint8_t lengths[192] = {};
        lengths[0] = 1;
        for (int s = 1; s < 15; ++s) lengths[s] = static_cast<uint8_t>(s + 1);
        lengths[0x14] = 15;  // size 1, run 4: the last code of the complete table
        for (int s = 0; s < 192; ++s) {
            w.write(lengths[s] ? 1 : 0, 1);
            if (lengths[s]) w.write(lengths[s], 4);
        }
        uint16_t codes[192];
        ASSERT_TRUE(MbcHuffmanTable::assignCodes(lengths, codes));
        w.write(1, 6);
        // Y TL: symbol 0x14 (run 4, size 1, bit 0 -> +1 at zigzag 4), then end of block.
        w.write(codes[0x14], 15);
        w.write(0, 1);
        w.write(codes[0], 1);
        MbcPicture out;
        ASSERT_TRUE(decode(d, w.finish(), out));  // the rest reads as zero bits: end of block
        // Zigzag 4 is row 1, column 1: the running sums make every sample right of and
        // below it 1.
        EXPECT_EQ(px(out, 1, 0)[2], 0);
        EXPECT_EQ(px(out, 0, 1)[2], 0);
        EXPECT_EQ(px(out, 1, 1)[2], 1);
        EXPECT_EQ(px(out, 7, 7)[2], 1);
        EXPECT_EQ(px(out, 8, 8)[2], 0);
    }
}

TEST(MbcVideoDecoderTest, TruncatedPayloadsCompleteWithZeroBits) {
    MbcVideoDecoder d;
    ASSERT_TRUE(d.configure(64, 48, 3 | kT2));
    MbcPicture pic;
    // Only the table: every further bit reads as 0, which is code 0 (end of block).
    Payload p;
    EXPECT_TRUE(decode(d, p.bytes(), pic));
    EXPECT_FALSE(d.decodeFrame(nullptr, 0, MbcFrameType::Intra, pic, nullptr, nullptr, nullptr, nullptr));
    // Coefficients past the block's end are dropped, not written elsewhere.
    Payload q;
    q.q(4);
    for (int i = 0; i < 4; ++i) q.raw(0x0F, 8);  // four skips of 15 zeros: zigzag 60
    q.coefficient(5, 7);                         // zigzag 65
    EXPECT_TRUE(decode(d, q.bytes(), pic));
}

TEST(MbcVideoDecoderTest, DeblockingMatchesWholePictureFiltering) {
    // The decoder filters row by row; the result must equal filtering every vertical edge
    // of the finished picture, then every horizontal one.
    const uint32_t W = 64, H = 48;
    MbcVideoDecoder on, off;
    ASSERT_TRUE(on.configure(W, H, 1 | kT2 | 0x40));
    ASSERT_TRUE(off.configure(W, H, 1 | kT2 | 0x40 | (1u << 16)));
    uint32_t seed = 7;
    Payload p;
    for (int mb = 0; mb < 12; ++mb) {
        p.q(8 + mb);
        for (int b = 0; b < 16; ++b) {
            for (int k = 0; k < 6; ++k) {
                seed = seed * 1103515245 + 12345;
                int v = static_cast<int>((seed >> 16) % 61) - 30;
                if (v) p.coefficient(static_cast<int>((seed >> 8) % 3), v);
            }
            p.dc(0);
        }
    }
    auto bytes = p.bytes();
    MbcPicture a, b;
    ASSERT_TRUE(decode(on, bytes, a));
    ASSERT_TRUE(decode(off, bytes, b));
    EXPECT_NE(std::memcmp(a.data(), b.data(), a.byteSize()), 0);
    const auto& k = mbcDeblockKernels(MbcCpuLevel::Scalar);
    k.verticalEdges(b.data(), b.stride(), W, H);
    k.horizontalEdges(b.data(), b.stride(), W, H);
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.byteSize()), 0);
}

TEST(MbcVideoDecoderTest, ConversionModes) {
    // One macroblock with known store bytes, converted in every mode.
    const uint8_t cr = 200, cb = 60, y = 120, a = 77;
    auto expectYcc = [&](const uint8_t* out, uint8_t alpha) {
        auto clamp = [](int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); };
        int yy = 4096 * y + 2048;
        EXPECT_EQ(out[0], clamp((yy + 7258 * (cb - 128)) >> 12));
        EXPECT_EQ(out[1], clamp((yy - 2925 * (cr - 128) - 1410 * (cb - 128)) >> 12));
        EXPECT_EQ(out[2], clamp((yy + 5742 * (cr - 128)) >> 12));
        EXPECT_EQ(out[3], alpha);
    };
    MbcPicture pic;
    pic.allocate(16, 16);
    for (uint32_t i = 0; i < 256; ++i) {
        pic.data()[4 * i] = cr;
        pic.data()[4 * i + 1] = cb;
        pic.data()[4 * i + 2] = y;
        pic.data()[4 * i + 3] = a;
    }
    struct Mode {
        uint32_t flags;
        uint8_t alpha;
    };
    for (Mode m : {Mode{0x43 | MbcVideoDecoder::kOutputAlpha, a}, Mode{0x03 | MbcVideoDecoder::kOutputAlpha, 255},
                   Mode{0x83 | MbcVideoDecoder::kOutputAlpha, a}, Mode{0x43 | MbcVideoDecoder::kOutputOpaque, 255},
                   Mode{0x00 | MbcVideoDecoder::kOutputOpaque, 255}}) {
        MbcVideoDecoder d;
        ASSERT_TRUE(d.configure(13, 5, m.flags));
        std::vector<uint8_t> out(20 * 5 * 4 + 8, 0xEE);
        d.convertPicture(pic, out.data() + 4, 20 * 4);
        for (int row = 0; row < 5; ++row)
            for (int x = 0; x < 13; ++x) expectYcc(&out[4 + row * 80 + 4 * x], m.alpha);
        EXPECT_EQ(out[4 + 13 * 4], 0xEE);  // nothing past the visible width
        EXPECT_EQ(out[3], 0xEE);
    }
    {  // RGB layout: copied, alpha kept with the alpha flag
        MbcVideoDecoder d;
        ASSERT_TRUE(d.configure(16, 16, kRgb | 0x40 | MbcVideoDecoder::kOutputAlpha));
        std::vector<uint8_t> out(16 * 16 * 4);
        d.convertPicture(pic, out.data(), 64);
        EXPECT_EQ(out[0], cr);
        EXPECT_EQ(out[1], cb);
        EXPECT_EQ(out[2], y);
        EXPECT_EQ(out[3], a);
    }
    {  // 24-bit
        MbcVideoDecoder d;
        ASSERT_TRUE(d.configure(16, 16, 3 | MbcVideoDecoder::kOutputBgr24));
        EXPECT_EQ(d.outputPixelBytes(), 3);
        std::vector<uint8_t> out(16 * 48 + 1, 0xEE);
        d.convertPicture(pic, out.data(), 48);
        uint8_t four[4];
        std::memcpy(four, out.data() + 3, 3);
        four[3] = 255;
        expectYcc(four, 255);
        EXPECT_EQ(out[16 * 48], 0xEE);
    }
}

}  // namespace

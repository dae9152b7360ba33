// Row converters: the stated examples, every supported pair against an independent
// channel-by-channel model of the shifting rule, the keyed conversion, and the vector
// kernels against the scalar ones on random and edge rows.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "graphics/PixelFormat.h"
#include "graphics/RowConverter.h"

namespace {

using Bytes = std::vector<uint8_t>;

const int32_t kFormats[] = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11};

// Channel layout of a format: for each of A, R, G, B the bit width and position inside a
// little-endian pixel value.
struct Layout {
    int bytes;
    int width[4];
    int shift[4];
    bool alpha;
};

Layout layoutOf(int32_t f) {
    switch (f) {
        case 3:
            return {2, {0, 5, 6, 5}, {0, 11, 5, 0}, false};
        case 5:
            return {2, {4, 4, 4, 4}, {12, 8, 4, 0}, true};
        case 6:
            return {3, {0, 8, 8, 8}, {0, 16, 8, 0}, false};
        case 8:
            return {4, {0, 8, 8, 8}, {0, 16, 8, 0}, false};
        case 9:
            return {4, {8, 8, 8, 8}, {24, 16, 8, 0}, true};
        default:
            ADD_FAILURE() << "no layout for " << f;
            return {};
    }
}

uint32_t loadPixel(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

void storePixel(uint8_t* p, int bytes, uint32_t v) {
    for (int i = 0; i < bytes; ++i) p[i] = uint8_t(v >> (8 * i));
}

uint32_t moveChannel(uint32_t v, int from, int to) {
    return from >= to ? v >> (from - to) : v << (to - from);
}

// One pixel by the rule: shift every channel to its new width; alpha from a source without
// it is all ones; the ignored byte of X8R8G8B8 is all ones; `transparent` clears alpha.
uint32_t modelConvert(uint32_t src, int32_t sf, int32_t df, bool transparent = false) {
    Layout s = layoutOf(sf), d = layoutOf(df);
    uint32_t out = 0;
    for (int c = 0; c < 4; ++c) {
        if (c == 0 && df == 8) {
            out |= 0xFFu << 24;
            continue;
        }
        if (!d.width[c]) continue;
        uint32_t v;
        if (c == 0 && !s.alpha)
            v = transparent ? 0 : (1u << d.width[c]) - 1;
        else
            v = moveChannel((src >> s.shift[c]) & ((1u << s.width[c]) - 1), s.width[c], d.width[c]);
        out |= v << d.shift[c];
    }
    return out;
}

bool isCopy(int32_t sf, int32_t df) {
    return sf == df || (sf == 9 && df == 8);
}

Bytes randomBytes(std::mt19937& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
}

TEST(PixelFormatTest, TablesAndMappings) {
    EXPECT_EQ(pixelFormatBytes(1), 1u);
    EXPECT_EQ(pixelFormatBytes(6), 3u);
    EXPECT_EQ(pixelFormatBytes(7), 0u);
    EXPECT_EQ(pixelFormatBytes(12), 0u);
    EXPECT_TRUE(pixelFormatHasAlpha(2));
    EXPECT_FALSE(pixelFormatHasAlpha(8));
    const int32_t withAlpha[][2] = {{3, 5}, {4, 5}, {6, 9}, {8, 9}, {10, 11}, {1, 1}, {5, 5}, {9, 9}, {11, 11}, {7, 0}};
    for (auto& p : withAlpha) EXPECT_EQ(pixelFormatWithAlpha(p[0]), p[1]) << p[0];
    EXPECT_EQ(pixelFormatFromDepth(8), 1);
    EXPECT_EQ(pixelFormatFromDepth(16), 3);
    EXPECT_EQ(pixelFormatFromDepth(24), 6);
    EXPECT_EQ(pixelFormatFromDepth(32), 8);
    EXPECT_EQ(pixelFormatFromDepth(15), 0);

    const std::pair<int32_t, D3DFORMAT> both[] = {{1, D3DFMT_A8},          {3, D3DFMT_R5G6B5},   {5, D3DFMT_A4R4G4B4},
                                                  {6, D3DFMT_R8G8B8},      {8, D3DFMT_X8R8G8B8}, {9, D3DFMT_A8R8G8B8},
                                                  {11, D3DFMT_A2R10G10B10}};
    for (auto& [pf, d3d] : both) {
        EXPECT_EQ(d3dFormatOfPixelFormat(pf), d3d) << pf;
        EXPECT_EQ(pixelFormatOfD3dFormat(d3d), pf) << pf;
    }
    EXPECT_EQ(d3dFormatOfPixelFormat(10), D3DFMT_A2R10G10B10);
    for (int32_t none : {0, 2, 4, 7, 12}) EXPECT_EQ(d3dFormatOfPixelFormat(none), D3DFMT_UNKNOWN) << none;
    EXPECT_EQ(pixelFormatOfD3dFormat(D3DFMT_X4R4G4B4), 0);
    EXPECT_EQ(pixelFormatOfD3dFormat(D3DFMT_UNKNOWN), 0);
}

TEST(RowConverterTest, StatedExamples) {
    // R5G6B5 -> A8R8G8B8 and back, A4R4G4B4 -> A8R8G8B8.
    const uint16_t in565[] = {0xFFFF, 0x0000, 0xF800, 0x07E0, 0x001F, 0x1234};
    uint32_t wide[6];
    ASSERT_TRUE(convertRow(wide, 9, in565, 3, 6));
    for (int i = 0; i < 6; ++i) {
        uint32_t p = in565[i];
        uint32_t r = (p >> 8) & 0xF8, g = (p >> 3) & 0xFC, b = (p << 3) & 0xF8;
        EXPECT_EQ(wide[i], 0xFF000000u | r << 16 | g << 8 | b) << i;
    }
    EXPECT_EQ(wide[0], 0xFFF8FCF8u);

    const uint32_t in8888[] = {0xFFFFFFFFu, 0x80C0A060u, 0x00123456u};
    uint16_t out565[3];
    ASSERT_TRUE(convertRow(out565, 3, in8888, 9, 3));
    for (int i = 0; i < 3; ++i) {
        uint32_t r = (in8888[i] >> 16) & 0xFF, g = (in8888[i] >> 8) & 0xFF, b = in8888[i] & 0xFF;
        EXPECT_EQ(out565[i], ((g >> 2) << 5 | (b >> 3) | (r >> 3) << 11)) << i;
    }

    const uint16_t in4444[] = {0xF9A5, 0x0000, 0xFFFF};
    ASSERT_TRUE(convertRow(wide, 9, in4444, 5, 3));
    EXPECT_EQ(wide[0], 0xF090A050u);
    EXPECT_EQ(wide[1], 0x00000000u);
    EXPECT_EQ(wide[2], 0xF0F0F0F0u);

    // X8R8G8B8 -> A8R8G8B8 sets alpha; A8R8G8B8 -> X8R8G8B8 is a copy.
    const uint32_t x[] = {0x00102030u, 0x7F405060u};
    uint32_t out[2];
    ASSERT_TRUE(convertRow(out, 9, x, 8, 2));
    EXPECT_EQ(out[0], 0xFF102030u);
    EXPECT_EQ(out[1], 0xFF405060u);
    ASSERT_TRUE(convertRow(out, 8, x, 9, 2));
    EXPECT_EQ(out[1], 0x7F405060u);
}

TEST(RowConverterTest, SupportedPairsOnly) {
    const std::vector<std::pair<int32_t, std::vector<int32_t>>> supported = {{1, {1}},
                                                                             {2, {2}},
                                                                             {3, {3, 5, 6, 8, 9}},
                                                                             {5, {3, 5, 6, 8, 9}},
                                                                             {6, {3, 5, 6, 8, 9}},
                                                                             {8, {6, 8, 9}},
                                                                             {9, {3, 5, 6, 8, 9}}};
    uint8_t src[64] = {}, dst[64];
    for (int32_t sf : kFormats)
        for (int32_t df : kFormats) {
            bool expected = false;
            for (auto& [s, ds] : supported)
                if (s == sf)
                    for (int32_t d : ds) expected |= d == df;
            EXPECT_EQ(isRowConversionSupported(sf, df), expected) << sf << "->" << df;
            std::memset(dst, 0xAB, sizeof dst);
            EXPECT_EQ(convertRow(dst, df, src, sf, 4), expected) << sf << "->" << df;
            if (!expected) {
                for (uint8_t b : dst) ASSERT_EQ(b, 0xAB) << "refused conversion wrote " << sf << "->" << df;
            }
        }
    EXPECT_FALSE(convertRow(nullptr, 9, src, 9, 1));
    EXPECT_TRUE(convertRow(dst, 9, src, 3, 0));
}

TEST(RowConverterTest, EveryPairFollowsTheShiftingRule) {
    std::mt19937 rng(7);
    for (int32_t sf : kFormats)
        for (int32_t df : kFormats) {
            if (!isRowConversionSupported(sf, df) || sf == 1 || sf == 2) continue;
            Layout s = layoutOf(sf), d = layoutOf(df);
            const size_t n = 37;
            Bytes src = randomBytes(rng, n * s.bytes);
            // Edge pixels: all zeros and all ones.
            std::memset(src.data(), 0, s.bytes);
            std::memset(src.data() + s.bytes, 0xFF, s.bytes);
            Bytes dst(n * d.bytes, 0xCD);
            ASSERT_TRUE(convertRow(dst.data(), df, src.data(), sf, n));
            for (size_t i = 0; i < n; ++i) {
                uint32_t in = loadPixel(&src[i * s.bytes], s.bytes);
                uint32_t expected = isCopy(sf, df) ? in : modelConvert(in, sf, df);
                ASSERT_EQ(loadPixel(&dst[i * d.bytes], d.bytes), expected)
                    << sf << "->" << df << " pixel " << i << " in " << std::hex << in;
            }
        }
}

TEST(RowConverterTest, InPlaceCopyAndAlphaFill) {
    uint32_t row[5] = {1, 2, 3, 0x00FFFFFF, 0x12345678};
    ASSERT_TRUE(convertRow(row, 9, row, 9, 5));
    EXPECT_EQ(row[4], 0x12345678u);
    ASSERT_TRUE(convertRow(row, 9, row, 8, 5));
    EXPECT_EQ(row[0], 0xFF000001u);
    EXPECT_EQ(row[4], 0xFF345678u);
}

TEST(RowConverterTest, KeyedConversion) {
    const uint32_t green = 0xFF00FF00u;
    // R5G6B5 source: the key as 5-6-5 is 0x07E0; a near-green that differs only in bits the
    // source cannot hold compares equal, one that differs in a kept bit does not.
    const uint16_t src565[] = {0x07E0, 0x07E1, 0x0000, 0xFFFF, 0x07C0};
    uint32_t out[5];
    ASSERT_TRUE(convertRowKeyed(out, 9, src565, 3, green, 5));
    EXPECT_EQ(out[0], 0x0000FC00u);
    for (int i = 1; i < 5; ++i) EXPECT_EQ(out[i] >> 24, 0xFFu) << i;
    ASSERT_TRUE(convertRowKeyed(out, 9, src565, 3, 0xFF03FE07u, 1));  // same after narrowing
    EXPECT_EQ(out[0] >> 24, 0u);

    uint16_t out4444[5];
    ASSERT_TRUE(convertRowKeyed(out4444, 5, src565, 3, green, 5));
    EXPECT_EQ(out4444[0], 0x00F0);
    EXPECT_EQ(out4444[2], 0xF000);

    // R8G8B8 and X8R8G8B8 sources: exact 24-bit match; the ignored byte does not count.
    const uint8_t src888[] = {0x00, 0xFF, 0x00, 0x01, 0xFF, 0x00, 0x10, 0x20, 0x30};
    ASSERT_TRUE(convertRowKeyed(out, 9, src888, 6, green, 3));
    EXPECT_EQ(out[0], 0x0000FF00u);
    EXPECT_EQ(out[1], 0xFF00FF01u);
    EXPECT_EQ(out[2], 0xFF302010u);
    const uint32_t srcX[] = {0x1200FF00u, 0x0000FF01u};
    ASSERT_TRUE(convertRowKeyed(out, 9, srcX, 8, green, 2));
    EXPECT_EQ(out[0], 0x0000FF00u);
    EXPECT_EQ(out[1], 0xFF00FF01u);

    // Source with alpha, or destination without: plain conversion.
    const uint32_t srcA[] = {0xFF00FF00u};
    ASSERT_TRUE(convertRowKeyed(out, 9, srcA, 9, green, 1));
    EXPECT_EQ(out[0], 0xFF00FF00u);
    ASSERT_TRUE(convertRowKeyed(out, 8, src888, 6, green, 1));
    EXPECT_EQ(out[0], 0xFF00FF00u);
    EXPECT_FALSE(convertRowKeyed(out, 5, srcX, 8, green, 1));
}

TEST(RowConverterTest, KeyedConversionMatchesModelOnLongRows) {
    std::mt19937 rng(11);
    const uint32_t key = 0xFF00FF00u;
    for (int32_t sf : {3, 6, 8})
        for (int32_t df : {5, 9}) {
            if (!isRowConversionSupported(sf, df)) continue;
            Layout s = layoutOf(sf), d = layoutOf(df);
            const uint32_t rgbMask = sf == 3 ? 0xFFFFu : 0x00FFFFFFu;
            const uint32_t keyInSource = modelConvert(key, 9, sf) & rgbMask;
            const size_t n = 301;
            Bytes src = randomBytes(rng, n * s.bytes);
            for (size_t i = 0; i < n; i += 3)
                storePixel(&src[i * s.bytes], s.bytes, keyInSource | (sf == 8 ? rng() << 24 : 0));
            Bytes dst(n * d.bytes);
            ASSERT_TRUE(convertRowKeyed(dst.data(), df, src.data(), sf, key, n));
            for (size_t i = 0; i < n; ++i) {
                uint32_t in = loadPixel(&src[i * s.bytes], s.bytes);
                bool keyed = (in & rgbMask) == (keyInSource & rgbMask);
                ASSERT_EQ(loadPixel(&dst[i * d.bytes], d.bytes), modelConvert(in, sf, df, keyed))
                    << sf << "->" << df << " pixel " << i;
            }
        }
}

// ---- vector kernels against scalar ------------------------------------------------------

class RowKernelTwinTest : public ::testing::Test {
protected:
    void SetUp() override {
        vector_ = sse2RowKernels();
        if (!vector_) GTEST_SKIP() << "no SSE2 on this processor";
    }
    const RowKernels& scalar_ = scalarRowKernels();
    const RowKernels* vector_ = nullptr;
};

// Inputs: random bytes, all zeros, all ones, and alternating extremes.
Bytes edgeOrRandom(std::mt19937& rng, size_t n, int kind) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) {
        switch (kind) {
            case 0:
                b[i] = uint8_t(rng());
                break;
            case 1:
                b[i] = 0;
                break;
            case 2:
                b[i] = 0xFF;
                break;
            default:
                b[i] = (i / 2) % 2 ? 0xFF : 0x00;
                break;
        }
    }
    return b;
}

TEST_F(RowKernelTwinTest, KernelsGiveIdenticalBytes) {
    struct Kernel {
        const char* name;
        int inBytes, outBytes;
        void (*RowKernels::*fn)(uint8_t*, const uint8_t*, size_t);
    };
    const Kernel kernels[] = {
        {"unpack565", 2, 4, &RowKernels::unpack565}, {"unpack4444", 2, 4, &RowKernels::unpack4444},
        {"unpack888", 3, 4, &RowKernels::unpack888}, {"fillAlpha", 4, 4, &RowKernels::fillAlpha},
        {"pack565", 4, 2, &RowKernels::pack565},     {"pack4444", 4, 2, &RowKernels::pack4444},
        {"pack888", 4, 3, &RowKernels::pack888},
    };
    std::mt19937 rng(3);
    for (const Kernel& k : kernels)
        for (size_t count : {0, 1, 3, 4, 7, 8, 9, 15, 16, 17, 31, 33, 64, 255, 257, 1001})
            for (size_t offset : {0, 1, 3, 5})
                for (int kind = 0; kind < 4; ++kind) {
                    Bytes in = edgeOrRandom(rng, offset + count * k.inBytes + 16, kind);
                    // Guard bytes around the output catch writes past the row.
                    Bytes a(offset + count * k.outBytes + 32, 0x5A), b = a;
                    (scalar_.*(k.fn))(a.data() + offset, in.data() + offset, count);
                    (vector_->*(k.fn))(b.data() + offset, in.data() + offset, count);
                    ASSERT_EQ(a, b) << k.name << " count " << count << " offset " << offset << " kind " << kind;
                    for (size_t g = offset + count * k.outBytes; g < a.size(); ++g) ASSERT_EQ(b[g], 0x5A) << k.name;
                    for (size_t g = 0; g < offset; ++g) ASSERT_EQ(b[g], 0x5A) << k.name;
                }
}

TEST_F(RowKernelTwinTest, CopyAndKeyKernels) {
    std::mt19937 rng(5);
    for (size_t bytes : {0, 1, 15, 16, 17, 63, 64, 65, 200, 4099})
        for (size_t offset : {0, 1, 2, 7}) {
            Bytes in = edgeOrRandom(rng, offset + bytes, 0);
            Bytes a(offset + bytes + 16, 0x11), b = a;
            scalar_.copyBytes(a.data() + offset, in.data() + offset, bytes);
            vector_->copyBytes(b.data() + offset, in.data() + offset, bytes);
            ASSERT_EQ(a, b) << bytes << " " << offset;
        }
    for (size_t count : {0, 1, 3, 4, 5, 8, 13, 100, 257})
        for (size_t offset : {0, 1, 2, 3}) {
            Bytes row = edgeOrRandom(rng, offset + count * 4 + 4, 0);
            // Plant key pixels with assorted alpha bytes.
            for (size_t i = 0; i < count; i += 2) {
                uint8_t* p = &row[offset + i * 4];
                p[0] = 0x00, p[1] = 0xFF, p[2] = 0x00;
            }
            Bytes a = row, b = row;
            scalar_.clearKeyAlpha(a.data() + offset, count, 0xAB00FF00u);
            vector_->clearKeyAlpha(b.data() + offset, count, 0xAB00FF00u);
            ASSERT_EQ(a, b) << count << " " << offset;
        }
}

TEST_F(RowKernelTwinTest, WholeConversionsAgreeForEveryPair) {
    std::mt19937 rng(9);
    for (int32_t sf : kFormats)
        for (int32_t df : kFormats) {
            if (!isRowConversionSupported(sf, df)) continue;
            const size_t sb = pixelFormatBytes(sf), db = pixelFormatBytes(df);
            for (size_t count : {1, 5, 8, 19, 256, 257, 700})
                for (size_t offset : {0, 3}) {
                    Bytes src = edgeOrRandom(rng, offset + count * sb, int(count % 4));
                    for (size_t i = 0; i < count; i += 5) std::memset(&src[offset + i * sb], 0, sb);
                    Bytes a(offset + count * db + 8, 0), b = a;
                    ASSERT_TRUE(convertRowWith(scalar_, a.data() + offset, df, src.data() + offset, sf, count));
                    ASSERT_TRUE(convertRowWith(*vector_, b.data() + offset, df, src.data() + offset, sf, count));
                    ASSERT_EQ(a, b) << sf << "->" << df << " count " << count;
                    ASSERT_TRUE(convertRowKeyedWith(scalar_, a.data() + offset, df, src.data() + offset, sf,
                                                    0xFF000000u, count));
                    ASSERT_TRUE(convertRowKeyedWith(*vector_, b.data() + offset, df, src.data() + offset, sf,
                                                    0xFF000000u, count));
                    ASSERT_EQ(a, b) << "keyed " << sf << "->" << df << " count " << count;
                }
        }
}

TEST(RowConverterChoiceTest, ActiveTableIsChosenOnce) {
    const RowKernels& a = activeRowKernels();
    EXPECT_EQ(&a, &activeRowKernels());
    if (sse2RowKernels()) {
        EXPECT_EQ(&a, sse2RowKernels());
    }
}

}  // namespace

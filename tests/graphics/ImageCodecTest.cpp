// The image codec: PNG of every colour type through libpng, BMP variants and hostile
// headers, the GBCF header and its payload seam, decoder order and last-error values.
#include <gtest/gtest.h>

#include <random>

#include "framework/WideString.h"
#include "graphics/GbcfDecoder.h"
#include "graphics/ImageCodec.h"
#include "graphics/PixelFormat.h"
#include "tests/graphics/TestImages.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace testimages;

// Pixel (x, y from the top) of the codec's bitmap as a little-endian value.
uint32_t pixelAt(const ImageCodec& codec, int32_t x, int32_t y) {
    const DibBitmap& b = codec.bitmap();
    const uint8_t* p = b.rowFromTop(y) + size_t(x) * (b.bitCount() / 8);
    uint32_t v = 0;
    for (int i = 0; i < b.bitCount() / 8; ++i) v |= uint32_t(p[i]) << (8 * i);
    return v;
}

bool open(ImageCodec& codec, const Bytes& file) {
    return codec.openMemory(file.data(), file.size());
}

// A small picture with distinct channels everywhere: r = 40x + 3, g = 50y + 7, b = x * y + 11.
uint8_t red(uint32_t x, uint32_t) {
    return uint8_t(40 * x + 3);
}
uint8_t green(uint32_t, uint32_t y) {
    return uint8_t(50 * y + 7);
}
uint8_t blue(uint32_t x, uint32_t y) {
    return uint8_t(x * y + 11);
}

PngSpec rgbPng(uint32_t w, uint32_t h, bool alpha, bool interlaced = false, int depth = 8) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.colourType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    s.bitDepth = depth;
    s.interlaced = interlaced;
    for (uint32_t y = 0; y < h; ++y) {
        Bytes row;
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t c[4] = {red(x, y), green(x, y), blue(x, y), uint8_t(255 - 20 * x)};
            for (int i = 0; i < (alpha ? 4 : 3); ++i) {
                row.push_back(c[i]);
                if (depth == 16) row.push_back(uint8_t(0xFF - c[i]));  // low byte, to be dropped
            }
        }
        s.rows.push_back(row);
    }
    return s;
}

TEST(PngDecodeTest, RgbAndRgbaBecomeBottomUpBgr) {
    for (bool alpha : {false, true})
        for (int depth : {8, 16}) {
            ImageCodec codec;
            ASSERT_TRUE(open(codec, writePng(rgbPng(5, 3, alpha, false, depth)))) << alpha << depth;
            EXPECT_STREQ(codec.decoderName(), "PNG");
            EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorNone);
            int32_t w, h;
            codec.size(&w, &h);
            EXPECT_EQ(w, 5);
            EXPECT_EQ(h, 3);
            ASSERT_EQ(codec.bitCount(), alpha ? 32 : 24);
            EXPECT_EQ(codec.bitmap().stride() % 4, 0u);
            for (uint32_t y = 0; y < 3; ++y)
                for (uint32_t x = 0; x < 5; ++x) {
                    uint32_t expected = uint32_t(red(x, y)) << 16 | uint32_t(green(x, y)) << 8 | blue(x, y);
                    if (alpha) expected |= uint32_t(uint8_t(255 - 20 * x)) << 24;
                    ASSERT_EQ(pixelAt(codec, int32_t(x), int32_t(y)), expected) << x << "," << y;
                }
            // The first stored row is the bottom of the picture.
            EXPECT_EQ(codec.bitmap().bits()[2], red(0, 2));
        }
}

TEST(PngDecodeTest, InterlacedLoadsLikeProgressive) {
    ImageCodec a, b;
    ASSERT_TRUE(open(a, writePng(rgbPng(13, 11, true, false))));
    ASSERT_TRUE(open(b, writePng(rgbPng(13, 11, true, true))));
    ASSERT_EQ(a.bitCount(), b.bitCount());
    const DibBitmap &ba = a.bitmap(), &bb = b.bitmap();
    EXPECT_TRUE(std::equal(ba.bits(), ba.bits() + ba.stride() * 11, bb.bits()));
}

TEST(PngDecodeTest, PaletteWithAndWithoutTransparency) {
    PngSpec s;
    s.width = 4;
    s.height = 2;
    s.colourType = PNG_COLOR_TYPE_PALETTE;
    s.palette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {200, 210, 220}};
    s.rows = {{0, 1, 2, 3}, {3, 2, 1, 0}};
    ImageCodec codec;
    ASSERT_TRUE(open(codec, writePng(s)));
    ASSERT_EQ(codec.bitCount(), 24);
    EXPECT_EQ(pixelAt(codec, 1, 0), 0x28323Cu);
    EXPECT_EQ(pixelAt(codec, 0, 1), 0xC8D2DCu);

    // Two transparency entries: alpha from them, the rest opaque.
    s.trns = {0, 128};
    ASSERT_TRUE(open(codec, writePng(s)));
    ASSERT_EQ(codec.bitCount(), 32);
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x000A141Eu);
    EXPECT_EQ(pixelAt(codec, 1, 0), 0x8028323Cu);
    EXPECT_EQ(pixelAt(codec, 3, 0), 0xFFC8D2DCu);
}

TEST(PngDecodeTest, GreyTypesBecomeEightBitsWithGreyPalette) {
    // 1, 2 and 4 bits are scaled to 8; 16 bits keep the high byte; grey+alpha drops alpha.
    struct Case {
        int type, depth;
        Bytes row;
        std::vector<uint8_t> expected;
    } cases[] = {
        {PNG_COLOR_TYPE_GRAY, 1, {0xA0}, {255, 0, 255, 0}},
        {PNG_COLOR_TYPE_GRAY, 2, {0x1B}, {0, 85, 170, 255}},
        {PNG_COLOR_TYPE_GRAY, 4, {0x0F, 0x73}, {0, 255, 119, 51}},
        {PNG_COLOR_TYPE_GRAY, 8, {9, 99, 199, 255}, {9, 99, 199, 255}},
        {PNG_COLOR_TYPE_GRAY, 16, {1, 2, 3, 4, 5, 6, 7, 8}, {1, 3, 5, 7}},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 8, {10, 0, 20, 50, 30, 100, 40, 255}, {10, 20, 30, 40}},
    };
    for (const Case& c : cases) {
        PngSpec s;
        s.width = 4;
        s.height = 1;
        s.colourType = c.type;
        s.bitDepth = c.depth;
        s.rows = {c.row};
        ImageCodec codec;
        ASSERT_TRUE(open(codec, writePng(s))) << c.type << "/" << c.depth;
        ASSERT_EQ(codec.bitCount(), 8);
        for (int x = 0; x < 4; ++x) EXPECT_EQ(pixelAt(codec, x, 0), c.expected[x]) << c.depth << " x " << x;
        EXPECT_EQ(codec.bitmap().palette()[200], 0xC8C8C8u);
    }
}

TEST(PngDecodeTest, DamagedFilesFail) {
    Bytes good = writePng(rgbPng(8, 8, false));
    ImageCodec codec;
    Bytes truncated(good.begin(), good.begin() + good.size() / 2);
    EXPECT_FALSE(open(codec, truncated));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData);
    EXPECT_FALSE(codec.isOpen());
    Bytes badCrc = good;
    badCrc[8 + 8 + 13] ^= 0xFF;  // IHDR's CRC
    EXPECT_FALSE(open(codec, badCrc));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData);
    Bytes signatureOnly(good.begin(), good.begin() + 8);
    EXPECT_FALSE(open(codec, signatureOnly));
}

// ---- BMP ---------------------------------------------------------------------------------

Bytes row24(std::initializer_list<uint32_t> pixels) {
    Bytes r;
    for (uint32_t p : pixels) r.insert(r.end(), {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16)});
    return r;
}

TEST(BmpDecodeTest, TwentyFourBitsBottomUpAndTopDown) {
    BmpSpec s;
    s.width = 3;
    s.height = 2;
    s.rows = {row24({0x010203, 0x040506, 0x070809}), row24({0x0A0B0C, 0x0D0E0F, 0x101112})};
    ImageCodec codec;
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_STREQ(codec.decoderName(), "BMP");
    ASSERT_EQ(codec.bitCount(), 24);
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x0A0B0Cu);  // the last stored row is the top
    EXPECT_EQ(pixelAt(codec, 2, 1), 0x070809u);

    s.height = -2;  // same rows read top-down: the first stored row is the top
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(codec.bitmap().height(), 2);
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x010203u);
    EXPECT_EQ(pixelAt(codec, 2, 1), 0x101112u);
}

TEST(BmpDecodeTest, ThirtyTwoBitsAlphaRules) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bitCount = 32;
    s.rows = {{1, 2, 3, 0, 4, 5, 6, 0}};
    ImageCodec codec;
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 0xFF030201u);  // unused bytes all 0: opaque
    s.rows = {{1, 2, 3, 0, 4, 5, 6, 77}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x00030201u);  // filled in: alpha
    EXPECT_EQ(pixelAt(codec, 1, 0), 0x4D060504u);

    // Bit fields in a version-4 header, with an alpha mask; byte order R, G, B, A in memory.
    s.infoSize = 108;
    s.compression = 3;
    s.masks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000};
    s.rows = {{0x10, 0x20, 0x30, 0x40, 0xAA, 0xBB, 0xCC, 0xDD}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x40102030u);
    EXPECT_EQ(pixelAt(codec, 1, 0), 0xDDAABBCCu);
    // The same masks without alpha after a short header: opaque.
    s.infoSize = 40;
    s.masks.resize(3);
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 0xFF102030u);
}

TEST(BmpDecodeTest, SixteenBitsBecome565) {
    BmpSpec s;
    s.width = 3;
    s.height = 1;
    s.bitCount = 16;
    // Plain 16-bit files are 5-5-5: red 0x1F, green 0x15, blue 0x0A.
    uint16_t p555 = 0x1F << 10 | 0x15 << 5 | 0x0A;
    s.rows = {{uint8_t(p555), uint8_t(p555 >> 8), 0xFF, 0x7F, 0, 0}};
    ImageCodec codec;
    ASSERT_TRUE(open(codec, writeBmp(s)));
    ASSERT_EQ(codec.bitCount(), 16);
    EXPECT_EQ(pixelAt(codec, 0, 0), uint32_t(0x1F << 11 | 0x2A << 5 | 0x0A));
    EXPECT_EQ(pixelAt(codec, 1, 0), 0xFFDFu);  // green's new low bit stays 0
    EXPECT_EQ(pixelAt(codec, 2, 0), 0u);
    // 5-6-5 bit fields pass through.
    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.rows = {{0x34, 0x12, 0xFF, 0xFF, 0x01, 0x80}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x1234u);
    EXPECT_EQ(pixelAt(codec, 1, 0), 0xFFFFu);
    EXPECT_EQ(pixelAt(codec, 2, 0), 0x8001u);
}

TEST(BmpDecodeTest, PaletteBitmapsGiveIndices) {
    ImageCodec codec;
    BmpSpec s;
    s.width = 9;
    s.height = 1;
    s.bitCount = 1;
    s.palette = {0x000000, 0xFFFFFF};
    s.rows = {{0xA5, 0x80}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    ASSERT_EQ(codec.bitCount(), 8);
    const uint8_t bits1[] = {1, 0, 1, 0, 0, 1, 0, 1, 1};
    for (int x = 0; x < 9; ++x) EXPECT_EQ(pixelAt(codec, x, 0), bits1[x]) << x;
    EXPECT_EQ(codec.bitmap().palette()[1], 0xFFFFFFu);

    s.bitCount = 4;
    s.width = 3;
    s.palette = {0x112233, 0x445566, 0x778899};
    s.rows = {{0x21, 0x00}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 0, 0), 2u);
    EXPECT_EQ(pixelAt(codec, 1, 0), 1u);
    EXPECT_EQ(pixelAt(codec, 2, 0), 0u);
    EXPECT_EQ(codec.bitmap().palette()[2], 0x778899u);
    EXPECT_EQ(codec.bitmap().palette()[3], 0u);

    s.bitCount = 8;
    s.palette.assign(256, 0x010101);
    s.rows = {{7, 8, 9}};
    ASSERT_TRUE(open(codec, writeBmp(s)));
    EXPECT_EQ(pixelAt(codec, 2, 0), 9u);
}

TEST(BmpDecodeTest, ShortAndHostileFilesAreRefused) {
    ImageCodec codec;
    // "BM" and 54 bytes or fewer: never a picture.
    for (size_t n : {2, 20, 53, 54}) {
        Bytes b(54, 0);
        b[0] = 'B';
        b[1] = 'M';
        put32(b, 14, 40);
        put32(b, 18, 1);
        put32(b, 22, 1);
        put16(b, 28, 24);
        put32(b, 10, 50);  // even pointing into the header
        b.resize(n);
        EXPECT_FALSE(open(codec, b)) << n;
        EXPECT_EQ(ImageCodec::lastError(), n < 8 ? ImageCodec::kErrorShortData : ImageCodec::kErrorBadData) << n;
    }

    BmpSpec good;
    good.width = 4;
    good.height = 4;
    good.rows.assign(4, row24({1, 2, 3, 4}));
    ASSERT_TRUE(open(codec, writeBmp(good)));

    auto refused = [&](auto change, const char* what) {
        Bytes b = writeBmp(good);
        change(b);
        EXPECT_FALSE(open(codec, b)) << what;
        EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData) << what;
        EXPECT_FALSE(codec.isOpen()) << what;
    };
    refused([](Bytes& b) { b.resize(b.size() - 4); }, "truncated pixels");
    refused([](Bytes& b) { put32(b, 18, 0x7FFFFFFF); }, "huge width");
    refused([](Bytes& b) { put32(b, 18, 0); }, "zero width");
    refused([](Bytes& b) { put32(b, 18, 0xFFFFFFFF); }, "negative width");
    refused([](Bytes& b) { put32(b, 22, 0x80000000); }, "height INT_MIN");
    refused([](Bytes& b) { put32(b, 22, 0x40000000); }, "huge height");
    refused([](Bytes& b) { put32(b, 22, 0); }, "zero height");
    refused([](Bytes& b) { put16(b, 28, 7); }, "odd bit count");
    refused([](Bytes& b) { put32(b, 30, 1); }, "run-length data");
    refused([](Bytes& b) { put32(b, 14, 12); }, "short info header");
    refused([](Bytes& b) { put32(b, 14, 0xFFFFFFF0); }, "huge info header");
    refused([](Bytes& b) { put32(b, 10, 0xFFFFFFF0); }, "pixel offset past the end");
    refused(
        [](Bytes& b) {
            put16(b, 28, 32);
            put32(b, 30, 3);
            put32(b, 54, 0x00F0F000);  // red mask with a hole
            put32(b, 10, 66);
        },
        "non-contiguous mask");
    refused(
        [](Bytes& b) {
            put16(b, 28, 8);
            put32(b, 46, 0);  // 256 colours that the file does not hold
        },
        "missing palette");
}

// ---- GBCF --------------------------------------------------------------------------------

struct PayloadCall {
    size_t fileSize = 0;
    uint32_t width = 0, height = 0, bitCount = 0, formatWord = 0;
    ptrdiff_t stride = 0;
    int calls = 0;
    bool result = true;
} gCall;

// Test decoder: paints row y, byte i with y * 16 + i, so orientation is visible.
bool paintPayload(const uint8_t*, size_t fileSize, uint32_t width, uint32_t height, uint32_t bitCount,
                  uint32_t formatWord, uint8_t* topRow, ptrdiff_t stride) {
    gCall = {fileSize, width, height, bitCount, formatWord, stride, gCall.calls + 1, gCall.result};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t i = 0; i < width * bitCount / 8; ++i) topRow[ptrdiff_t(y) * stride + i] = uint8_t(y * 16 + i);
    return gCall.result;
}

class GbcfTest : public ::testing::Test {
protected:
    void TearDown() override {
        setGbcfPayloadDecoder(nullptr);
        gCall = {};
    }
};

TEST_F(GbcfTest, HeaderAndProbe) {
    Bytes file = writeGbcf(7, 5, 32, 0x0409);
    GbcfHeader h;
    ASSERT_TRUE(GbcfDecoder::readHeader(file.data(), file.size(), &h));
    EXPECT_EQ(h.totalSize, file.size());
    EXPECT_EQ(h.width, 7);
    EXPECT_EQ(h.height, 5);
    EXPECT_EQ(h.bitCount, 32);
    EXPECT_EQ(h.codedDepth(), 24u);
    EXPECT_EQ(h.decodingPath(), 1u);

    EXPECT_FALSE(GbcfDecoder::probe(file.data(), 47));
    Bytes longer = file;
    longer.push_back(0);
    EXPECT_TRUE(GbcfDecoder::probe(longer.data(), longer.size()));
    Bytes shortFile = file;
    put32(shortFile, 4, uint32_t(file.size() + 1));  // claims one byte more than there is
    EXPECT_FALSE(GbcfDecoder::probe(shortFile.data(), shortFile.size()));

    const std::pair<uint16_t, uint32_t> depths[] = {{5, 8}, {6, 16}, {9, 24}, {13, 24}, {10, 48}, {14, 48}, {7, 0}};
    for (auto [low, bits] : depths) EXPECT_EQ((GbcfHeader{0, 1, 1, 24, low}).codedDepth(), bits) << low;

    auto invalid = [](Bytes b, const char* what) {
        GbcfHeader h;
        EXPECT_FALSE(GbcfDecoder::readHeader(b.data(), b.size(), &h)) << what;
        EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData) << what;
    };
    invalid(writeGbcf(7, 5, 32, 0x0C00), "low ten bits all 0");
    invalid(writeGbcf(7, 5, 32, 0x0007), "unknown coded depth");
    invalid(writeGbcf(0, 5, 32, 0x0009), "zero width");
    invalid(writeGbcf(7, -5, 32, 0x0009), "negative height");
    invalid(writeGbcf(7, 5, 12, 0x0009), "bit count 12");
    Bytes tiny = writeGbcf(7, 5, 32, 0x0409);
    tiny.at(4) = 20;
    tiny.at(5) = 0;
    invalid(tiny, "total size below the header");
}

TEST_F(GbcfTest, WithoutPayloadDecoderTheFileFails) {
    Bytes file = writeGbcf(4, 4, 24, 0x0009);
    ImageCodec codec;
    EXPECT_FALSE(open(codec, file));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData);
}

TEST_F(GbcfTest, PayloadDecoderFillsAnUprightBitmap) {
    setGbcfPayloadDecoder(paintPayload);
    Bytes file = writeGbcf(3, 4, 24, 0x000A, Bytes(40, 0xEE));
    file.resize(file.size() + 10);  // bytes after the total size are not the picture's
    ImageCodec codec;
    ASSERT_TRUE(open(codec, file));
    EXPECT_STREQ(codec.decoderName(), "GBCF");
    EXPECT_EQ(gCall.calls, 1);
    EXPECT_EQ(gCall.fileSize, file.size() - 10);
    EXPECT_EQ(gCall.width, 3u);
    EXPECT_EQ(gCall.height, 4u);
    EXPECT_EQ(gCall.bitCount, 24u);
    EXPECT_EQ(gCall.formatWord, 0x000Au);
    EXPECT_EQ(gCall.stride, -ptrdiff_t(codec.bitmap().stride()));
    EXPECT_EQ(codec.bitCount(), 24);
    EXPECT_EQ(pixelAt(codec, 0, 0), 0x020100u);
    EXPECT_EQ(pixelAt(codec, 1, 3), 0x353433u);

    gCall.result = false;
    EXPECT_FALSE(open(codec, file));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData);
}

// ---- codec -------------------------------------------------------------------------------

TEST(ImageCodecTest, DecodersAreAskedInOrder) {
    const auto& d = ImageCodec::decoders();
    ASSERT_EQ(d.size(), 3u);
    EXPECT_STREQ(d[0].name, "PNG");
    EXPECT_STREQ(d[1].name, "GBCF");
    EXPECT_STREQ(d[2].name, "BMP");
    // Each probe takes only its own signature.
    Bytes png = writePng(rgbPng(2, 2, false)), gbcf = writeGbcf(2, 2, 24, 9);
    BmpSpec s;
    s.rows = {{1, 2, 3}};
    Bytes bmp = writeBmp(s);
    const Bytes* files[] = {&png, &gbcf, &bmp};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            EXPECT_EQ(d[i].probe(files[j]->data(), files[j]->size()), i == j) << d[i].name << " on file " << j;
}

TEST(ImageCodecTest, LastErrorsAndEmptyInput) {
    ImageCodec codec;
    EXPECT_FALSE(codec.openMemory(nullptr, 0));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorShortData);
    Bytes junk(100, 0x42);
    EXPECT_FALSE(open(codec, junk));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorBadData);
    // Wider than any bitmap may be: the bitmap cannot be made.
    BmpSpec wide;
    wide.width = DibBitmap::kMaxDimension + 1;
    wide.bitCount = 8;
    wide.palette = {0};
    wide.rows = {Bytes(size_t(wide.width), 0)};
    EXPECT_FALSE(open(codec, writeBmp(wide)));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorOutOfMemory);
    PngSpec widePng;
    widePng.width = uint32_t(wide.width);
    widePng.colourType = PNG_COLOR_TYPE_GRAY;
    widePng.rows = wide.rows;
    EXPECT_FALSE(open(codec, writePng(widePng)));
    EXPECT_EQ(ImageCodec::lastError(), ImageCodec::kErrorOutOfMemory);
}

TEST(ImageCodecTest, OpenReadsFilesAndDecodeRowsConverts) {
    testsupport::TempDir dir;
    ImageCodec codec;
    EXPECT_FALSE(codec.open(fromUtf8((dir / "missing.png").string())));
    // A PNG named .bmp is still read as PNG.
    testsupport::writeFile(dir / "picture.bmp", writePng(rgbPng(4, 2, true)));
    ASSERT_TRUE(codec.open(fromUtf8((dir / "picture.bmp").string())));
    EXPECT_STREQ(codec.decoderName(), "PNG");

    std::vector<uint32_t> out(4 * 2);
    ASSERT_TRUE(codec.decodeRows(out.data(), 16, kPixelFormatA8R8G8B8));
    EXPECT_EQ(out[1],
              uint32_t(uint8_t(255 - 20)) << 24 | uint32_t(red(1, 0)) << 16 | uint32_t(green(1, 0)) << 8 | blue(1, 0));
    ASSERT_TRUE(codec.decodeRows(out.data(), 16, kPixelFormatX8R8G8B8));
    EXPECT_EQ(out[4 + 2],
              uint32_t(uint8_t(255 - 40)) << 24 | uint32_t(red(2, 1)) << 16 | uint32_t(green(2, 1)) << 8 | blue(2, 1));
    // 8-bit pictures go only into A8.
    PngSpec grey;
    grey.width = 2;
    grey.colourType = PNG_COLOR_TYPE_GRAY;
    grey.rows = {{5, 6}};
    ASSERT_TRUE(open(codec, writePng(grey)));
    EXPECT_FALSE(codec.decodeRows(out.data(), 8, kPixelFormatX8R8G8B8));
    uint8_t a8[2];
    ASSERT_TRUE(codec.decodeRows(a8, 2, kPixelFormatA8));
    EXPECT_EQ(a8[1], 6);
    codec.close();
    EXPECT_FALSE(codec.isOpen());
    EXPECT_FALSE(codec.decodeRows(a8, 2, kPixelFormatA8));
}

}  // namespace

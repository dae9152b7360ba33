// Image over a surface: locking, fill in every format, clipped and keyed copies, the
// nearest-neighbour stretch. Surfaces here are a memory test double; images that make
// their own surfaces are covered with the software device in ImageDeviceTest.
#include <gtest/gtest.h>

#include <cstring>

#include "graphics/Image.h"
#include "graphics/PixelFormat.h"
#include "tests/graphics/MemorySurface.h"

namespace {

struct Made {
    InterfacePtr<Image> image;
    InterfacePtr<MemorySurface> surface;
};

Made makeImage(UINT w, UINT h, int32_t pixelFormat) {
    Made m;
    m.surface = new MemorySurface(w, h, d3dFormatOfPixelFormat(pixelFormat), pixelFormatBytes(pixelFormat));
    m.image = new Image();
    EXPECT_TRUE(m.image->attachSurface(m.surface.get()));
    return m;
}

uint32_t pixel(MemorySurface& s, int32_t format, UINT x, UINT y) {
    uint32_t v = 0;
    std::memcpy(&v, s.row(y) + x * pixelFormatBytes(format), pixelFormatBytes(format));
    return v;
}

void setPixel(MemorySurface& s, int32_t format, UINT x, UINT y, uint32_t v) {
    std::memcpy(s.row(y) + x * pixelFormatBytes(format), &v, pixelFormatBytes(format));
}

TEST(ImageTest, AttachDescribesTheSurface) {
    Made a = makeImage(6, 4, kPixelFormatA8R8G8B8);
    int32_t w = 0, h = 0;
    a.image->size(&w, &h);
    EXPECT_EQ(w, 6);
    EXPECT_EQ(h, 4);
    EXPECT_EQ(a.image->format(), kPixelFormatA8R8G8B8);
    EXPECT_TRUE(a.image->hasAlpha());
    EXPECT_EQ(a.image->keyColour(), 0u);

    Made x = makeImage(2, 2, kPixelFormatX8R8G8B8);
    EXPECT_FALSE(x.image->hasAlpha());
    EXPECT_EQ(x.image->keyColour(), Image::kOpaqueKeyColour);

    InterfacePtr<Image> image(new Image());
    InterfacePtr<MemorySurface> unknown(new MemorySurface(2, 2, D3DFMT_X4R4G4B4, 2));
    EXPECT_FALSE(image->attachSurface(unknown.get()));
    EXPECT_FALSE(image->valid());
    EXPECT_FALSE(image->create(4, 4, false));  // no device to make surfaces on

    void* out = nullptr;
    ASSERT_TRUE(a.image->queryIdentifier(Image::kIdentifier, &out));
    EXPECT_EQ(out, a.image.get());
    static_cast<Image*>(out)->release();
    EXPECT_FALSE(a.image->queryIdentifier(0x4020052, &out));
    EXPECT_TRUE(a.image->queryIdentifier(RefObject::kBaseIdentifier, &out));
    static_cast<Image*>(out)->release();
}

TEST(ImageTest, NestedLocksShareOneSurfaceLock) {
    Made m = makeImage(3, 3, kPixelFormatR5G6B5);
    void* bits = nullptr;
    int32_t pitch = 0;
    ASSERT_TRUE(m.image->lock(&bits, &pitch));
    EXPECT_EQ(bits, m.surface->row(0));
    EXPECT_EQ(pitch, int32_t(m.surface->pitch()));
    void* again = nullptr;
    ASSERT_TRUE(m.image->lock(&again, nullptr));
    EXPECT_EQ(again, bits);
    EXPECT_EQ(m.surface->lockCalls, 1);
    m.image->unlock();
    EXPECT_EQ(m.surface->locks, 1);
    m.image->unlock();
    EXPECT_EQ(m.surface->locks, 0);
    m.image->unlock();  // one too many changes nothing
    EXPECT_EQ(m.surface->locks, 0);
    m.surface->failLock = true;
    EXPECT_FALSE(m.image->lock(&bits, &pitch));
}

TEST(ImageTest, FillInEveryFormatIsClipped) {
    const uint32_t colour = 0x80FF4020u;
    const std::pair<int32_t, uint32_t> formats[] = {
        {kPixelFormatA8, 0x80},
        {kPixelFormatR5G6B5, 0xFA04},
        {kPixelFormatA4R4G4B4, 0x8F42},
        {kPixelFormatR8G8B8, 0xFF4020},
        {kPixelFormatX8R8G8B8, 0x80FF4020},
        {kPixelFormatA8R8G8B8, 0x80FF4020},
        {kPixelFormatA2R10G10B10, 2u << 30 | 0xFFu << 22 | 0x40u << 12 | 0x20u << 2},
    };
    for (auto [format, expected] : formats) {
        Made m = makeImage(5, 4, format);
        RECT r{-2, -1, 3, 2};
        ASSERT_TRUE(m.image->fill(colour, &r)) << format;
        const uint32_t untouched = format == kPixelFormatA8 ? 0xEE : 0xEEEEEEEEu >> (32 - 8 * pixelFormatBytes(format));
        for (UINT y = 0; y < 4; ++y)
            for (UINT x = 0; x < 5; ++x)
                ASSERT_EQ(pixel(*m.surface, format, x, y), (x < 3 && y < 2) ? expected : untouched)
                    << format << " at " << x << "," << y;
        ASSERT_TRUE(m.image->fill(0, nullptr));
        for (UINT y = 0; y < 4; ++y) {
            for (UINT x = 0; x < 5; ++x) ASSERT_EQ(pixel(*m.surface, format, x, y), 0u) << format;
            // The row padding is not the picture's.
            EXPECT_EQ(m.surface->row(y)[5 * pixelFormatBytes(format)], 0xEE);
        }
        RECT outside{10, 10, 20, 20};
        EXPECT_TRUE(m.image->fill(colour, &outside));
        EXPECT_EQ(m.surface->locks, 0);
    }
}

TEST(ImageTest, CopyFromClipsAndConverts) {
    Made src = makeImage(4, 3, kPixelFormatR5G6B5);
    for (UINT y = 0; y < 3; ++y)
        for (UINT x = 0; x < 4; ++x) setPixel(*src.surface, 3, x, y, 0x0800u * (x + 1) + 0x21u * (y + 1));
    auto wide = [](uint32_t p) {
        return 0xFF000000u | ((p >> 8) & 0xF8) << 16 | ((p >> 3) & 0xFC) << 8 | ((p << 3) & 0xF8);
    };

    Made dst = makeImage(5, 5, kPixelFormatX8R8G8B8);
    dst.image->fill(0x11223344u, nullptr);
    ASSERT_TRUE(dst.image->copyFrom(*src.image, 2, 3, 0));
    for (UINT y = 0; y < 5; ++y)
        for (UINT x = 0; x < 5; ++x) {
            bool inside = x >= 2 && y >= 3;
            uint32_t expected = inside ? wide(pixel(*src.surface, 3, x - 2, y - 3)) : 0x11223344u;
            ASSERT_EQ(pixel(*dst.surface, 8, x, y), expected) << x << "," << y;
        }

    // Negative positions cut the source's top left.
    ASSERT_TRUE(dst.image->copyFrom(*src.image, -1, -2, 0));
    EXPECT_EQ(pixel(*dst.surface, 8, 0, 0), wide(pixel(*src.surface, 3, 1, 2)));
    EXPECT_EQ(pixel(*dst.surface, 8, 2, 0), wide(pixel(*src.surface, 3, 3, 2)));
    EXPECT_EQ(pixel(*dst.surface, 8, 3, 0), 0x11223344u);
    // Entirely outside: nothing to do.
    EXPECT_TRUE(dst.image->copyFrom(*src.image, 5, 0, 0));
    EXPECT_TRUE(dst.image->copyFrom(*src.image, -4, 0, 0));

    EXPECT_FALSE(dst.image->copyFrom(*dst.image, 0, 0, 0));
    Made a8 = makeImage(2, 2, kPixelFormatA8);
    EXPECT_FALSE(dst.image->copyFrom(*a8.image, 0, 0, 0));  // no such conversion
    src.surface->failLock = true;
    EXPECT_FALSE(dst.image->copyFrom(*src.image, 0, 0, 0));
    EXPECT_EQ(dst.surface->locks, 0);
}

TEST(ImageTest, KeyColourBecomesTransparentOnlyIntoAlpha) {
    Made src = makeImage(3, 1, kPixelFormatX8R8G8B8);
    setPixel(*src.surface, 8, 0, 0, 0x0000FF00u);  // green, ignored byte 0
    setPixel(*src.surface, 1, 0, 0, 0);
    setPixel(*src.surface, 8, 1, 0, 0x0000FF01u);
    setPixel(*src.surface, 8, 2, 0, 0xFF00FF00u);

    Made dst = makeImage(3, 1, kPixelFormatA8R8G8B8);
    ASSERT_TRUE(dst.image->copyFrom(*src.image, 0, 0, 0));
    EXPECT_EQ(pixel(*dst.surface, 9, 0, 0), 0x0000FF00u);
    EXPECT_EQ(pixel(*dst.surface, 9, 1, 0), 0xFF00FF01u);
    EXPECT_EQ(pixel(*dst.surface, 9, 2, 0), 0x0000FF00u);
    ASSERT_TRUE(dst.image->copyFrom(*src.image, 0, 0, Image::kCopyIgnoreKey));
    EXPECT_EQ(pixel(*dst.surface, 9, 0, 0), 0xFF00FF00u);

    // A changed key colour is honoured; a source with alpha is never keyed.
    src.image->setKeyColour(0xFF00FF01u);
    ASSERT_TRUE(dst.image->copyFrom(*src.image, 0, 0, 0));
    EXPECT_EQ(pixel(*dst.surface, 9, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(pixel(*dst.surface, 9, 1, 0), 0x0000FF01u);
    Made alphaSrc = makeImage(1, 1, kPixelFormatA8R8G8B8);
    setPixel(*alphaSrc.surface, 9, 0, 0, 0xFF00FF00u);
    alphaSrc.image->setKeyColour(0xFF00FF00u);
    ASSERT_TRUE(dst.image->copyFrom(*alphaSrc.image, 0, 0, 0));
    EXPECT_EQ(pixel(*dst.surface, 9, 0, 0), 0xFF00FF00u);
}

TEST(ImageTest, StretchFromPicksNearestPixels) {
    Made src = makeImage(2, 2, kPixelFormatA8R8G8B8);
    const uint32_t colours[2][2] = {{0xFF0000FFu, 0xFF00FF00u}, {0xFFFF0000u, 0x80808080u}};
    for (UINT y = 0; y < 2; ++y)
        for (UINT x = 0; x < 2; ++x) setPixel(*src.surface, 9, x, y, colours[y][x]);
    Made dst = makeImage(5, 4, kPixelFormatA8R8G8B8);
    dst.image->fill(0, nullptr);
    RECT d{1, 0, 5, 4};
    ASSERT_TRUE(dst.image->stretchFrom(*src.image, nullptr, &d, 0));
    for (UINT y = 0; y < 4; ++y) {
        EXPECT_EQ(pixel(*dst.surface, 9, 0, y), 0u);
        for (UINT x = 1; x < 5; ++x) ASSERT_EQ(pixel(*dst.surface, 9, x, y), colours[y / 2][(x - 1) / 2]) << x << y;
    }
    // A source rectangle outside the source is refused; a destination partly outside is clipped.
    RECT badSource{0, 0, 3, 2};
    EXPECT_FALSE(dst.image->stretchFrom(*src.image, &badSource, nullptr, 0));
    RECT oneTexel{1, 1, 2, 2}, overhang{3, 2, 9, 9};
    ASSERT_TRUE(dst.image->stretchFrom(*src.image, &oneTexel, &overhang, 0));
    EXPECT_EQ(pixel(*dst.surface, 9, 4, 3), 0x80808080u);
    EXPECT_EQ(pixel(*dst.surface, 9, 2, 2), colours[1][0]);
}

}  // namespace

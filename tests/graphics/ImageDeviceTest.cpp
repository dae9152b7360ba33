// Images that make their own system-memory surfaces on the software device, and loading
// picture files into them.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/WideString.h"
#include "graphics/Image.h"
#include "graphics/PixelFormat.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/gfx/SoftwareDirect3D.h"
#include "tests/graphics/TestImages.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace testimages;

class ImageDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        d3d_ = InterfacePtr<IDirect3D9>::adopt(
            gfx::SoftwareDirect3D::create(std::make_shared<gfx::SoftwareAdapter>(), false));
        ASSERT_TRUE(d3d_);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = 16;
        pp.BackBufferHeight = 16;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = reinterpret_cast<HWND>(uintptr_t(0x1234));
        pp.Windowed = TRUE;
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, pp.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &pp,
                                     device_.put()),
                  D3D_OK);
    }

    InterfacePtr<Image> newImage() {
        return InterfacePtr<Image>(new Image(device_.get(), D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8));
    }

    // Pixel (x, y) of the image, as a little-endian value of its format's size.
    static uint32_t pixel(Image& image, int32_t x, int32_t y) {
        void* bits = nullptr;
        int32_t pitch = 0;
        EXPECT_TRUE(image.lock(&bits, &pitch));
        uint32_t v = 0;
        uint32_t bpp = pixelFormatBytes(image.format());
        std::memcpy(&v, static_cast<uint8_t*>(bits) + y * pitch + x * bpp, bpp);
        image.unlock();
        return v;
    }

    std::u16string save(const std::string& name, const Bytes& bytes) {
        testsupport::writeFile(dir_ / name, bytes);
        return fromUtf8((dir_ / name).string());
    }

    InterfacePtr<IDirect3D9> d3d_;
    InterfacePtr<IDirect3DDevice9> device_;
    testsupport::TempDir dir_;
};

TEST_F(ImageDeviceTest, CreateUsesDefaultAndAskedFormats) {
    InterfacePtr<Image> image = newImage();
    ASSERT_TRUE(image->create(7, 3, false));
    EXPECT_EQ(image->format(), kPixelFormatX8R8G8B8);
    EXPECT_EQ(image->width(), 7);
    EXPECT_EQ(image->keyColour(), Image::kOpaqueKeyColour);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(image->surface()->GetDesc(&desc), D3D_OK);
    EXPECT_EQ(desc.Pool, D3DPOOL_SYSTEMMEM);
    ASSERT_TRUE(image->create(2, 2, true));
    EXPECT_EQ(image->format(), kPixelFormatA8R8G8B8);
    EXPECT_EQ(image->keyColour(), 0u);
    for (int32_t f : {1, 3, 5, 6, 8, 9}) {
        ASSERT_TRUE(image->createFormat(3, 2, f)) << f;
        EXPECT_EQ(image->format(), f);
        ASSERT_TRUE(image->fill(0xFFFFFFFFu, nullptr));
        ASSERT_TRUE(image->fill(0, nullptr));
        EXPECT_EQ(pixel(*image, 2, 1), 0u) << f;
    }
    ASSERT_TRUE(image->createFormat(3, 2, kPixelFormatX2R10G10B10));
    EXPECT_EQ(image->format(), kPixelFormatA2R10G10B10);
    for (int32_t f : {0, 2, 4, 7, 12}) EXPECT_FALSE(image->createFormat(3, 2, f)) << f;
    EXPECT_FALSE(image->createFormat(0, 2, kPixelFormatA8R8G8B8));
}

TEST_F(ImageDeviceTest, LoadTwentyFourBitBmpIntoOpaqueDefault) {
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.rows = {{1, 2, 3, 4, 5, 6}, {0x00, 0xFF, 0x00, 9, 8, 7}};
    std::u16string path = save("picture.bmp", writeBmp(s));
    ImageCodec codec;
    InterfacePtr<Image> image = newImage();
    ASSERT_TRUE(image->load(path, codec));
    EXPECT_FALSE(codec.isOpen());
    EXPECT_EQ(image->format(), kPixelFormatX8R8G8B8);
    EXPECT_EQ(image->path(), path);
    EXPECT_EQ(image->sourceInfo().bitCount, 24);
    EXPECT_EQ(pixel(*image, 0, 0) & 0xFFFFFF, 0x00FF00u);  // the last stored row is on top
    EXPECT_EQ(pixel(*image, 1, 1) & 0xFFFFFF, 0x060504u);  // bytes B, G, R

    // Copied into an image with alpha, the green pixel turns transparent.
    InterfacePtr<Image> alpha = newImage();
    ASSERT_TRUE(alpha->create(2, 2, true));
    ASSERT_TRUE(alpha->copyFrom(*image, 0, 0, 0));
    EXPECT_EQ(pixel(*alpha, 0, 0), 0x0000FF00u);
    EXPECT_EQ(pixel(*alpha, 1, 0), 0xFF070809u);
}

TEST_F(ImageDeviceTest, LoadPngKeepsAlphaAndGreyBecomesA8) {
    PngSpec rgba;
    rgba.width = 2;
    rgba.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    rgba.rows = {{10, 20, 30, 40, 50, 60, 70, 80}};
    ImageCodec codec;
    InterfacePtr<Image> image = newImage();
    ASSERT_TRUE(image->load(save("a.png", writePng(rgba)), codec));
    EXPECT_EQ(image->format(), kPixelFormatA8R8G8B8);
    EXPECT_EQ(pixel(*image, 1, 0), 0x50323C46u);

    PngSpec palette;
    palette.width = 2;
    palette.colourType = PNG_COLOR_TYPE_PALETTE;
    palette.palette = {{1, 2, 3}, {4, 5, 6}};
    palette.trns = {64};
    palette.rows = {{0, 1}};
    ASSERT_TRUE(image->load(save("p.png", writePng(palette)), codec));
    EXPECT_EQ(image->format(), kPixelFormatA8R8G8B8);
    EXPECT_EQ(pixel(*image, 0, 0), 0x40010203u);
    EXPECT_EQ(pixel(*image, 1, 0), 0xFF040506u);

    PngSpec grey;
    grey.width = 3;
    grey.colourType = PNG_COLOR_TYPE_GRAY;
    grey.bitDepth = 16;
    grey.rows = {{0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF}};
    ASSERT_TRUE(image->load(save("g.png", writePng(grey)), codec));
    EXPECT_EQ(image->format(), kPixelFormatA8);
    EXPECT_EQ(pixel(*image, 0, 0), 0x12u);
    EXPECT_EQ(pixel(*image, 1, 0), 0xABu);
}

TEST_F(ImageDeviceTest, LoadSixteenBitBmpWidensToDefault) {
    BmpSpec s;
    s.width = 1;
    s.height = 1;
    s.bitCount = 16;
    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};
    s.rows = {{0xFF, 0xFF}};
    ImageCodec codec;
    InterfacePtr<Image> image = newImage();
    ASSERT_TRUE(image->load(save("s.bmp", writeBmp(s)), codec));
    EXPECT_EQ(image->format(), kPixelFormatX8R8G8B8);
    EXPECT_EQ(pixel(*image, 0, 0), 0xFFF8FCF8u);
}

TEST_F(ImageDeviceTest, FailedLoadsLeaveNoPicture) {
    ImageCodec codec;
    InterfacePtr<Image> image = newImage();
    EXPECT_FALSE(image->load(save("none.png", {}), codec));
    EXPECT_FALSE(image->load(fromUtf8((dir_ / "missing.bmp").string()), codec));
    EXPECT_FALSE(image->load(save("g.gbcf", writeGbcf(4, 4, 24, 9)), codec));
    EXPECT_FALSE(image->valid());
    EXPECT_TRUE(image->path().empty());
    InterfacePtr<Image> noDevice(new Image());
    BmpSpec s;
    s.rows = {{1, 2, 3}};
    EXPECT_FALSE(noDevice->load(save("ok.bmp", writeBmp(s)), codec));
    EXPECT_FALSE(codec.isOpen());
}

}  // namespace

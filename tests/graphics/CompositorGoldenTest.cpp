// Composed pictures on the reference software device against pictures computed from the
// layer rules by the harness's own simple implementation.
#include <gtest/gtest.h>

#include "framework/WideString.h"
#include "tests/graphics/CompositorHarness.h"
#include "tests/graphics/TestImages.h"
#include "tests/support/TestSupport.h"

namespace {

using namespace harness;

// Distinct texels: every one differs from its neighbours in every channel.
std::vector<uint32_t> pattern(uint32_t w, uint32_t h, uint32_t alpha = 0xFF) {
    std::vector<uint32_t> t(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            t[size_t(y) * w + x] =
                alpha << 24 | ((x * 7 + y * 3) & 0xFF) << 16 | ((x * 13 + 5) & 0xFF) << 8 | ((y * 11 + 1) & 0xFF);
    return t;
}

class CompositorGoldenTest : public CompositorFixture {};

TEST_F(CompositorGoldenTest, DoubledLayerRepeatsTexelsWithPointSampling) {
    makeCompositor(640, 480);
    auto texels = pattern(320, 240);
    auto layer = makeTexture(320, 240, D3DFMT_X8R8G8B8, texels);
    RECT source{0, 0, 320, 240};
    ASSERT_TRUE(frame(0xFF000000, {{layer.get(), RECT{0, 0, 640, 480}, &source, 0xFFFFFFFF}}));

    // The texture coordinates run from half a texel in to half a texel past the edge.
    const auto* v = reinterpret_cast<const LayerVertex*>(layer->mesh().vertexData());
    EXPECT_FLOAT_EQ(v[0].u, 0.5f / 320);
    EXPECT_FLOAT_EQ(v[3].u, 320.5f / 320);
    EXPECT_FLOAT_EQ(v[3].v, 240.5f / 240);

    Picture expected = referenceClear(640, 480, 0xFF000000);
    referenceLayer(expected, RefTexture{320, 240, false, texels}, RECT{0, 0, 640, 480}, &source, 0xFFFFFFFF);
    Picture got = capture_->last();
    EXPECT_PICTURE(shown(expected), got);
    // So pixel column 0 shows texel 0, columns 1-2 texel 1, 3-4 texel 2, and the last
    // column lands on 320.0, which wraps to texel 0.
    EXPECT_EQ(got.at(0, 0), texels[0] | 0xFF000000u);
    EXPECT_EQ(got.at(1, 0), texels[1] | 0xFF000000u);
    EXPECT_EQ(got.at(2, 0), texels[1] | 0xFF000000u);
    EXPECT_EQ(got.at(3, 0), texels[2] | 0xFF000000u);
    EXPECT_EQ(got.at(639, 0), texels[0] | 0xFF000000u);
    EXPECT_EQ(got.at(2, 2), texels[320 + 1] | 0xFF000000u);
}

TEST_F(CompositorGoldenTest, FirstOfTwoOpaqueFullWindowLayersIsAllThatShows) {
    makeCompositor(64, 48);
    auto top = pattern(64, 48);
    auto below = pattern(32, 24, 0xFF);
    for (uint32_t& t : below) t ^= 0x00FFFFFF;
    auto first = makeTexture(64, 48, D3DFMT_A8R8G8B8, top);
    auto second = makeTexture(32, 24, D3DFMT_A8R8G8B8, below);
    RECT all{0, 0, 64, 48};
    // The list is drawn from its last item to its first.
    ASSERT_TRUE(frame(0xFF102030, {{second.get(), all, nullptr, 0xFFFFFFFF}, {first.get(), all, nullptr, 0xFFFFFFFF}}));
    Picture expected;
    expected.width = 64;
    expected.height = 48;
    expected.pixels = top;
    EXPECT_PICTURE(shown(expected), capture_->last());
}

TEST_F(CompositorGoldenTest, OpacityZeroChangesNothingAndHalfOpacityHalvesWhite) {
    makeCompositor(64, 48);
    std::vector<uint32_t> white(16 * 16, 0xFFFFFFFFu);
    auto layer = makeTexture(16, 16, D3DFMT_A8R8G8B8, white);
    ASSERT_TRUE(frame(0xFF000000, {{layer.get(), RECT{0, 0, 64, 48}, nullptr, 0x00FFFFFF}}));
    EXPECT_PICTURE(referenceClear(64, 48, 0xFF000000), capture_->last());

    ASSERT_TRUE(frame(0xFF000000, {{layer.get(), RECT{8, 8, 40, 40}, nullptr, 0x80FFFFFF}}));
    Picture got = capture_->last();
    EXPECT_EQ(got.at(20, 20), 0xFF808080u);
    EXPECT_EQ(got.at(7, 20), 0xFF000000u);
    Picture expected = referenceClear(64, 48, 0xFF000000);
    referenceLayer(expected, RefTexture{16, 16, true, white}, RECT{8, 8, 40, 40}, nullptr, 0x80FFFFFF);
    EXPECT_PICTURE(shown(expected), got);
}

TEST_F(CompositorGoldenTest, ClearedTextureIsTransparentWithAlphaAndBlackWithout) {
    makeCompositor(64, 48);
    auto withAlpha = drawBase_->createLayerTexture(20, 10, D3DFMT_A8R8G8B8, 1, false);
    auto opaque = drawBase_->createLayerTexture(20, 10, D3DFMT_X8R8G8B8, 1, false);
    ASSERT_TRUE(withAlpha && opaque);
    ASSERT_TRUE(withAlpha->fill(0, nullptr));
    ASSERT_TRUE(opaque->fill(0, nullptr));
    const D3DCOLOR background = 0xFF4080C0;
    ASSERT_TRUE(frame(background, {{withAlpha.get(), RECT{0, 0, 32, 48}, nullptr, 0xFFFFFFFF},
                                   {opaque.get(), RECT{32, 0, 64, 24}, nullptr, 0xFFFFFFFF}}));
    Picture expected = referenceClear(64, 48, background);
    for (uint32_t y = 0; y < 24; ++y)
        for (uint32_t x = 32; x < 64; ++x) expected.pixels[y * 64 + x] = 0xFF000000u;
    EXPECT_PICTURE(expected, capture_->last());
}

TEST_F(CompositorGoldenTest, DestinationsOutsideTheWindowAreClippedAndReversedOnesMirrored) {
    makeCompositor(64, 48);
    auto texels = pattern(12, 9);
    auto layer = makeTexture(12, 9, D3DFMT_X8R8G8B8, texels);
    auto mirrored = makeTexture(12, 9, D3DFMT_X8R8G8B8, texels);
    RECT outside{-10, -5, 30, 20};
    RECT reversed{60, 20, 36, 47};
    RECT partOfSource{2, 1, 10, 8};
    ASSERT_TRUE(frame(0xFF000000, {{layer.get(), outside, nullptr, 0xFFFFFFFF},
                                   {mirrored.get(), reversed, &partOfSource, 0xFFFFFFFF}}));
    Picture expected = referenceClear(64, 48, 0xFF000000);
    referenceLayer(expected, RefTexture{12, 9, false, texels}, outside, nullptr, 0xFFFFFFFF);
    referenceLayer(expected, RefTexture{12, 9, false, texels}, reversed, &partOfSource, 0xFFFFFFFF);
    Picture got = capture_->last();
    EXPECT_PICTURE(shown(expected), got);
    // Mirrored: the right end of the destination shows the left end of the source.
    EXPECT_EQ(got.at(59, 20), texels[1 * 12 + 2] | 0xFF000000u);
}

TEST_F(CompositorGoldenTest, EveryLayerShowsItsLastPictureAfterAReset) {
    for (uint32_t options : {0u, 128u}) {
        SCOPED_TRACE(options);
        makeCompositor(64, 48, options);
        ASSERT_EQ(drawBase_->usesEx(), options == 128u);
        auto a = pattern(16, 12);
        auto b = pattern(8, 8, 0x80);
        auto first = makeTexture(16, 12, D3DFMT_X8R8G8B8, a);
        auto second = makeTexture(8, 8, D3DFMT_A8R8G8B8, b);
        std::vector<Layer> layers{{first.get(), RECT{0, 0, 40, 30}, nullptr, 0xFFFFFFFF},
                                  {second.get(), RECT{20, 10, 60, 46}, nullptr, 0xC0FFFFFF}};
        ASSERT_TRUE(frame(0xFF203040, layers));
        Picture before = capture_->last();

        // The device is lost and can be reset: the present resets it at once.
        adapter().forceCondition(gfx::DeviceCondition::NotReset);
        if (options == 128u) adapter().forceCondition(gfx::DeviceCondition::Lost);
        ASSERT_TRUE(frame(0xFF203040, layers));
        ASSERT_TRUE(drawBase_->isDeviceUsable());

        // Nothing is uploaded again; the layers are clean.
        for (Layer& l : layers) l.dirty = false;
        ASSERT_TRUE(frame(0xFF203040, layers));
        EXPECT_PICTURE(before, capture_->last());
        first.reset();
        second.reset();
        drawBase_.reset();
    }
}

TEST_F(CompositorGoldenTest, PngWithAlphaOverAColouredBackground) {
    makeCompositor(48, 40);
    // RGBA rows: an alpha ramp over varied colours, with fully transparent texels.
    testimages::PngSpec spec;
    spec.width = 6;
    spec.height = 5;
    spec.colourType = PNG_COLOR_TYPE_RGBA;
    std::vector<uint32_t> argb;
    for (uint32_t y = 0; y < spec.height; ++y) {
        testimages::Bytes row;
        for (uint32_t x = 0; x < spec.width; ++x) {
            uint8_t r = uint8_t(40 * x + 10), g = uint8_t(50 * y + 3), b = uint8_t(200 - 30 * x);
            uint8_t a = uint8_t(x == 0 ? 0 : (y * 6 + x) * 9);
            row.insert(row.end(), {r, g, b, a});
            argb.push_back(uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        }
        spec.rows.push_back(row);
    }
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "layer.png", testimages::writePng(spec));
    InterfacePtr<Image> image = drawBase_->createImageFromFile(fromUtf8((dir / "layer.png").string()));
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->hasAlpha());
    InterfacePtr<LayerTexture> layer = drawBase_->createTextureFromImage(*image, 1, false);
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->format(), D3DFMT_A8R8G8B8);

    const D3DCOLOR background = 0xFF3060A0;
    RECT dest{5, 4, 41, 34};
    ASSERT_TRUE(frame(background, {{layer.get(), dest, nullptr, 0xFFFFFFFF}}));
    Picture expected = referenceClear(48, 40, background);
    referenceLayer(expected, RefTexture{6, 5, true, argb}, dest, nullptr, 0xFFFFFFFF);
    Picture got = capture_->last();
    EXPECT_PICTURE(shown(expected), got);
    // Transparent texels leave the background; the others blend with it.
    EXPECT_EQ(got.at(5, 4), background);
    EXPECT_NE(got.at(30, 20), background);
}

}  // namespace

// Golden pictures of layer composition on the software device, computed from the rules:
// pixel centres at integer positions, top-left fill, texel = floor of the texture position
// (taken to 1/256 texel), wrap addressing, modulate by the layer colour, alpha test
// (alpha > 0), source-alpha blending with rounding to nearest.
#include <random>

#include "DeviceFixture.h"
#include "platform/gfx/PresentationTarget.h"

using namespace gfxtest;

namespace {

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

uint32_t round255(uint32_t t) {
    return (t + 127) / 255;
}

// Texel index along one axis for pixel p, or -1 when the position lies too close to a
// rounding boundary of the 1/256 grid for float vertex data to decide it.
int64_t texelAlong(int64_t p, int64_t d0, int64_t d1, int64_t s0, int64_t s1, int64_t size) {
    int64_t dw = d1 - d0, sw = s1 - s0;
    int64_t num = ((2 * s0 + 1) * dw + 2 * (p - d0) * sw) * 256, den = 2 * dw;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    int64_t rem = num - floorDiv(num, den) * den;
    if (std::llabs(2 * rem - den) * 100 < den) return -1;
    int64_t n = floorDiv(2 * num + den, 2 * den);
    int64_t t = floorDiv(n, 256) % size;
    return t < 0 ? t + size : t;
}

struct Layer {
    std::vector<uint32_t> texels;
    UINT tw, th;
    bool opaqueFormat;  // X8R8G8B8
    RECT dest, source;
    DWORD color;
};

// Draws the layer into the expected picture; marks undecidable pixels in 'unsure'.
void referenceLayer(std::vector<uint32_t>& picture, std::vector<bool>& unsure, UINT w, UINT h, const Layer& L) {
    int64_t x0 = std::min(L.dest.left, L.dest.right), x1 = std::max(L.dest.left, L.dest.right);
    int64_t y0 = std::min(L.dest.top, L.dest.bottom), y1 = std::max(L.dest.top, L.dest.bottom);
    for (int64_t y = std::max<int64_t>(0, y0); y < std::min<int64_t>(h, y1); ++y) {
        int64_t ty = texelAlong(y, L.dest.top, L.dest.bottom, L.source.top, L.source.bottom, L.th);
        for (int64_t x = std::max<int64_t>(0, x0); x < std::min<int64_t>(w, x1); ++x) {
            size_t at = size_t(y) * w + x;
            int64_t tx = texelAlong(x, L.dest.left, L.dest.right, L.source.left, L.source.right, L.tw);
            if (tx < 0 || ty < 0) {
                unsure[at] = true;
                continue;
            }
            uint32_t t = L.texels[size_t(ty) * L.tw + tx] | (L.opaqueFormat ? 0xFF000000u : 0);
            uint32_t c[4], k[4], d[4];
            for (int i = 0; i < 4; ++i) {
                c[i] = (t >> (8 * i)) & 255;
                k[i] = (L.color >> (8 * i)) & 255;
                d[i] = (picture[at] >> (8 * i)) & 255;
                c[i] = round255(c[i] * k[i]);
            }
            uint32_t a = c[3];
            if (a == 0) continue;
            uint32_t out = 0;
            for (int i = 0; i < 4; ++i) out |= round255(c[i] * a + d[i] * (255 - a)) << (8 * i);
            picture[at] = out | 0xFF000000u;  // the back buffer has no alpha
        }
    }
}

std::vector<uint32_t> randomTexels(std::mt19937& rng, UINT w, UINT h, bool someTransparent) {
    std::vector<uint32_t> t(size_t(w) * h);
    for (auto& v : t) {
        v = rng();
        uint32_t a = someTransparent ? ((rng() % 4 == 0) ? 0u : (rng() % 3 == 0 ? 255u : rng() % 256)) : 255u;
        v = (v & 0xFFFFFF) | (a << 24);
    }
    return t;
}

class Composition : public DeviceFixture {
protected:
    void SetUp() override {
        makeDevice(64, 48);
        installBaseline();
    }
    void frame(D3DCOLOR background, const std::vector<Layer>& layers,
               const std::vector<InterfacePtr<IDirect3DTexture9>>& textures) {
        ASSERT_EQ(D3D_OK, device_->BeginScene());
        ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0));
        for (size_t i = 0; i < layers.size(); ++i)
            ASSERT_EQ(D3D_OK, drawLayer(textures[i].get(), layers[i].dest, layers[i].source, layers[i].color,
                                        layers[i].tw, layers[i].th));
        ASSERT_EQ(D3D_OK, device_->EndScene());
    }
};

TEST_F(Composition, UnscaledLayerCopiesTexelsExactly) {
    std::mt19937 rng(1);
    auto texels = randomTexels(rng, 37, 23, false);
    auto texture = makeTexture(37, 23, D3DFMT_A8R8G8B8, texels);
    frame(0xFF102030, {Layer{texels, 37, 23, false, {5, 7, 42, 30}, {0, 0, 37, 23}, 0xFFFFFFFF}}, {texture});
    auto picture = readBackBuffer();
    for (UINT y = 0; y < height_; ++y)
        for (UINT x = 0; x < width_; ++x) {
            bool inside = x >= 5 && x < 42 && y >= 7 && y < 30;
            uint32_t want = inside ? texels[(y - 7) * 37 + (x - 5)] : 0xFF102030u;
            ASSERT_EQ(want, picture[y * width_ + x]) << "at " << x << "," << y;
        }
}

TEST_F(Composition, DoubledLayerRepeatsEachTexelWithPointSampling) {
    std::mt19937 rng(2);
    auto texels = randomTexels(rng, 16, 8, false);
    auto texture = makeTexture(16, 8, D3DFMT_X8R8G8B8, texels);
    frame(0xFF000000, {Layer{texels, 16, 8, true, {0, 0, 32, 16}, {0, 0, 16, 8}, 0xFFFFFFFF}}, {texture});
    auto picture = readBackBuffer();
    // u runs from 0.5 to 16.5 texels over 32 pixels: pixel x reads texel floor((x + 1) / 2),
    // the last column wrapping to texel 0.
    for (UINT y = 0; y < 16; ++y)
        for (UINT x = 0; x < 32; ++x) {
            uint32_t want = texels[((y + 1) / 2 % 8) * 16 + (x + 1) / 2 % 16] | 0xFF000000u;
            ASSERT_EQ(want, picture[y * width_ + x]) << "at " << x << "," << y;
        }
    EXPECT_EQ(0xFF000000u, picture[0 * width_ + 32]);
}

TEST_F(Composition, OpacityScalesTheLayerOverTheBackground) {
    std::vector<uint32_t> white(4 * 4, 0xFFFFFFFFu);
    auto texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, white);
    frame(0xFF000000,
          {Layer{white, 4, 4, false, {0, 0, 8, 8}, {0, 0, 4, 4}, 0x80FFFFFF},
           Layer{white, 4, 4, false, {10, 0, 18, 8}, {0, 0, 4, 4}, 0x00FFFFFF}},
          {texture, texture});
    auto picture = readBackBuffer();
    EXPECT_EQ(0xFF808080u, picture[3 * width_ + 3]);   // 128/255 of white
    EXPECT_EQ(0xFF000000u, picture[3 * width_ + 12]);  // opacity 0 changes nothing
}

TEST_F(Composition, AlphaTestDiscardsTransparentTexelsButNotOpaqueFormats) {
    std::vector<uint32_t> zero(8 * 8, 0);
    auto alpha = makeTexture(8, 8, D3DFMT_A8R8G8B8, zero);
    auto opaque = makeTexture(8, 8, D3DFMT_X8R8G8B8, zero);
    frame(0xFF3366CC,
          {Layer{zero, 8, 8, false, {0, 0, 8, 8}, {0, 0, 8, 8}, 0xFFFFFFFF},
           Layer{zero, 8, 8, true, {20, 0, 28, 8}, {0, 0, 8, 8}, 0xFFFFFFFF}},
          {alpha, opaque});
    auto picture = readBackBuffer();
    EXPECT_EQ(0xFF3366CCu, picture[4 * width_ + 4]);
    EXPECT_EQ(0xFF000000u, picture[4 * width_ + 24]);
}

TEST_F(Composition, LayersOutsideTheWindowAndMirroredFollowTheRules) {
    std::mt19937 rng(3);
    auto texels = randomTexels(rng, 16, 16, false);
    auto texture = makeTexture(16, 16, D3DFMT_A8R8G8B8, texels);
    std::vector<Layer> layers = {
        Layer{texels, 16, 16, false, {-7, -5, 9, 11}, {0, 0, 16, 16}, 0xFFFFFFFF},   // partly outside
        Layer{texels, 16, 16, false, {40, 30, 24, 46}, {0, 0, 16, 16}, 0xFFFFFFFF},  // right < left
        Layer{texels, 16, 16, false, {56, 40, 72, 56}, {0, 0, 16, 16}, 0xFFFFFFFF},  // off the corner
        Layer{texels, 16, 16, false, {10, 20, 22, 28}, {12, 0, 4, 8}, 0xFFFFFFFF}};  // reversed source
    std::vector<InterfacePtr<IDirect3DTexture9>> textures(layers.size(), texture);
    frame(0xFF000000, layers, textures);
    std::vector<uint32_t> want(size_t(width_) * height_, 0xFF000000u);
    std::vector<bool> unsure(want.size(), false);
    for (const Layer& L : layers) referenceLayer(want, unsure, width_, height_, L);
    auto picture = readBackBuffer();
    for (size_t i = 0; i < want.size(); ++i) {
        ASSERT_FALSE(unsure[i]);
        ASSERT_EQ(want[i], picture[i]) << "at " << i % width_ << "," << i / width_;
    }
    // The mirrored layer shows its texture reversed: pixel 39 reads texel 1 of the row.
    EXPECT_EQ(texels[(0 + 0) * 16 + 1] | 0xFF000000u, picture[30 * width_ + 39] | 0xFF000000u);
}

TEST_F(Composition, RandomScenesMatchTheReference) {
    std::mt19937 rng(4);
    size_t unsureTotal = 0;
    for (int scene = 0; scene < 40; ++scene) {
        std::vector<Layer> layers;
        std::vector<InterfacePtr<IDirect3DTexture9>> textures;
        for (int n = 0; n < 3; ++n) {
            static const UINT kSizes[] = {1, 3, 8, 16, 17, 32, 45};
            UINT tw = kSizes[rng() % 7], th = kSizes[rng() % 7];
            bool opaqueFormat = rng() % 3 == 0;
            Layer L{randomTexels(rng, tw, th, true), tw, th, opaqueFormat, {}, {}, 0};
            auto coord = [&](int lo, int hi) { return lo + int(rng() % uint32_t(hi - lo + 1)); };
            L.dest = {coord(-20, 70), coord(-20, 60), coord(-20, 70), coord(-20, 60)};
            if (L.dest.left == L.dest.right) ++L.dest.right;
            if (L.dest.top == L.dest.bottom) ++L.dest.bottom;
            L.source = {coord(-3, int(tw) + 3), coord(-3, int(th) + 3), coord(-3, int(tw) + 3), coord(-3, int(th) + 3)};
            uint32_t opacity = rng() % 3 == 0 ? 255 : rng() % 256;
            L.color = (opacity << 24) | (rng() & 0xFFFFFF);
            textures.push_back(makeTexture(tw, th, opaqueFormat ? D3DFMT_X8R8G8B8 : D3DFMT_A8R8G8B8, L.texels));
            layers.push_back(std::move(L));
        }
        D3DCOLOR background = 0xFF000000u | (rng() & 0xFFFFFF);
        frame(background, layers, textures);
        std::vector<uint32_t> want(size_t(width_) * height_, background);
        std::vector<bool> unsure(want.size(), false);
        for (const Layer& L : layers) referenceLayer(want, unsure, width_, height_, L);
        auto picture = readBackBuffer();
        for (size_t i = 0; i < want.size(); ++i) {
            if (unsure[i]) {
                ++unsureTotal;
                continue;
            }
            ASSERT_EQ(want[i], picture[i]) << "scene " << scene << " at " << i % width_ << "," << i / width_;
        }
    }
    // Undecidable positions are rare; the check above covers nearly every pixel.
    EXPECT_LT(unsureTotal, 40u * 64 * 48 / 50);
}

TEST_F(Composition, DepthTestKeepsTheNearerLayer) {
    std::vector<uint32_t> red(4, 0xFFFF0000u), green(4, 0xFF00FF00u);
    auto r = makeTexture(2, 2, D3DFMT_A8R8G8B8, red);
    auto g = makeTexture(2, 2, D3DFMT_A8R8G8B8, green);
    ASSERT_EQ(D3D_OK, device_->BeginScene());
    ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0));
    // Drawn at depth 0.5 first; the later layer at 1.0 fails less-or-equal.
    LayerVertex v[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0.25f, 0.25f},
                        {8, 0, 0.5f, 1, 0xFFFFFFFF, 0.75f, 0.25f},
                        {0, 8, 0.5f, 1, 0xFFFFFFFF, 0.25f, 0.75f},
                        {8, 8, 0.5f, 1, 0xFFFFFFFF, 0.75f, 0.75f}};
    device_->SetFVF(kLayerFvf);
    device_->SetTexture(0, r.get());
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(LayerVertex)));
    ASSERT_EQ(D3D_OK, drawLayer(g.get(), {0, 0, 16, 8}, {0, 0, 2, 2}, 0xFFFFFFFF, 2, 2));
    ASSERT_EQ(D3D_OK, device_->EndScene());
    auto picture = readBackBuffer();
    EXPECT_EQ(0xFFFF0000u, picture[4 * width_ + 4]);
    EXPECT_EQ(0xFF00FF00u, picture[4 * width_ + 12]);
}

TEST_F(Composition, ViewportClipsDrawingAndClearing) {
    std::vector<uint32_t> blue(4, 0xFF0000FFu);
    auto texture = makeTexture(2, 2, D3DFMT_A8R8G8B8, blue);
    ASSERT_EQ(D3D_OK, device_->BeginScene());
    ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0));
    D3DVIEWPORT9 vp{10, 5, 20, 10, 0.0f, 1.0f};
    ASSERT_EQ(D3D_OK, device_->SetViewport(&vp));
    ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0));
    ASSERT_EQ(D3D_OK, drawLayer(texture.get(), {0, 0, 64, 48}, {0, 0, 2, 2}, 0xFFFFFFFF, 2, 2));
    ASSERT_EQ(D3D_OK, device_->EndScene());
    auto picture = readBackBuffer();
    for (UINT y = 0; y < height_; ++y)
        for (UINT x = 0; x < width_; ++x) {
            bool inside = x >= 10 && x < 30 && y >= 5 && y < 15;
            ASSERT_EQ(inside ? 0xFF0000FFu : 0xFF000000u, picture[y * width_ + x]) << x << "," << y;
        }
}

TEST_F(Composition, LinearSamplingWeighsTheFourNearestTexels) {
    std::vector<uint32_t> texels = {0xFF000000u, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
    auto texture = makeTexture(2, 2, D3DFMT_A8R8G8B8, texels);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    // 2x2 texels over 8x8 pixels, coordinates from texel centre to texel centre.
    frame(0xFF000000, {Layer{texels, 2, 2, false, {0, 0, 8, 8}, {0, 0, 1, 1}, 0xFFFFFFFF}}, {texture});
    auto picture = readBackBuffer();
    for (UINT y = 0; y < 8; ++y)
        for (UINT x = 0; x < 8; ++x) {
            // Position in texels: 0.5 + p / 8; minus the half texel of linear filtering.
            int64_t fx = int64_t(x) * 256 / 8, fy = int64_t(y) * 256 / 8;
            uint32_t want = 0xFF000000u;
            for (int shift = 0; shift < 24; shift += 8) {
                auto c = [&](int i) { return (texels[i] >> shift) & 255; };
                uint32_t top = c(0) * (256 - fx) + c(1) * fx, bottom = c(2) * (256 - fx) + c(3) * fx;
                want |= uint32_t((top * (256 - fy) + bottom * fy + 32768) >> 16) << shift;
            }
            ASSERT_EQ(want, picture[y * width_ + x]) << x << "," << y;
        }
}

class CapturingTarget : public gfx::PresentationTarget {
public:
    void present(const uint8_t* bgra, uint32_t w, uint32_t h, uint32_t stride) override {
        width = w;
        height = h;
        pixels.assign(size_t(w) * h, 0);
        for (uint32_t y = 0; y < h; ++y) std::memcpy(pixels.data() + size_t(y) * w, bgra + size_t(y) * stride, w * 4);
        ++count;
    }
    std::vector<uint32_t> pixels;
    uint32_t width = 0, height = 0;
    int count = 0;
};

TEST_F(Composition, PresentHandsTheOpaquePictureToTheWindowsTarget) {
    auto target = std::make_shared<CapturingTarget>();
    adapter_->setPresentationTarget(fakeWindow(), target);
    std::vector<uint32_t> half(4, 0x80FFFFFFu);
    auto texture = makeTexture(2, 2, D3DFMT_A8R8G8B8, half);
    frame(0xFF000000, {Layer{half, 2, 2, false, {0, 0, 4, 4}, {0, 0, 2, 2}, 0xFFFFFFFF}}, {texture});
    ASSERT_EQ(D3D_OK, device_->Present(nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(1, target->count);
    EXPECT_EQ(64u, target->width);
    EXPECT_EQ(48u, target->height);
    EXPECT_EQ(0xFF808080u, target->pixels[0]);
    EXPECT_EQ(0xFF000000u, target->pixels[10]);
    // Another window's presents do not reach this target.
    ASSERT_EQ(D3D_OK, device_->Present(nullptr, nullptr, fakeWindow(0x2000), nullptr));
    EXPECT_EQ(1, target->count);
    EXPECT_EQ(2u, software()->presentCount());
}

}  // namespace

// Parts of the fixed-function pipeline beyond the layer rectangle: points and lines,
// untransformed vertices, mip selection, flat and Gouraud colours, blend factors.
#include "DeviceFixture.h"

using namespace gfxtest;

namespace {

struct ColorVertex {
    float x, y, z, rhw;
    DWORD diffuse;
};
constexpr DWORD kColorFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class Pipeline : public DeviceFixture {
protected:
    void SetUp() override {
        makeDevice(16, 16);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        ASSERT_EQ(D3D_OK, device_->BeginScene());
        ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0));
    }
    std::vector<uint32_t> finish() {
        EXPECT_EQ(D3D_OK, device_->EndScene());
        return readBackBuffer();
    }
};

TEST_F(Pipeline, PointsLandOnTheNearestPixelAndLinesHonourTheLastPixelState) {
    device_->SetFVF(kColorFvf);
    ColorVertex point{3.2f, 4.7f, 0.5f, 1, 0xFFFF0000};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_POINTLIST, 1, &point, sizeof point));
    ColorVertex line[2] = {{0, 8, 0.5f, 1, 0xFF00FF00}, {5, 8, 0.5f, 1, 0xFF00FF00}};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_LINELIST, 1, line, sizeof(ColorVertex)));
    device_->SetRenderState(D3DRS_LASTPIXEL, FALSE);
    ColorVertex column[2] = {{10, 0, 0.5f, 1, 0xFF0000FF}, {10, 4, 0.5f, 1, 0xFF0000FF}};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_LINELIST, 1, column, sizeof(ColorVertex)));
    auto picture = finish();
    EXPECT_EQ(0xFFFF0000u, picture[5 * 16 + 3]);
    EXPECT_EQ(0xFF000000u, picture[4 * 16 + 3]);
    for (int x = 0; x <= 5; ++x) EXPECT_EQ(0xFF00FF00u, picture[8 * 16 + x]) << x;
    EXPECT_EQ(0xFF000000u, picture[8 * 16 + 6]);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(0xFF0000FFu, picture[y * 16 + 10]) << y;
    EXPECT_EQ(0xFF000000u, picture[4 * 16 + 10]);
}

TEST_F(Pipeline, UntransformedVerticesMapThroughTheViewport) {
    struct Vertex {
        float x, y, z;
        DWORD diffuse;
    } quad[4] = {
        {-1, 1, 0.5f, 0xFF123456}, {1, 1, 0.5f, 0xFF123456}, {-1, -1, 0.5f, 0xFF123456}, {1, -1, 0.5f, 0xFF123456}};
    D3DVIEWPORT9 vp{4, 4, 8, 8, 0.0f, 1.0f};
    device_->SetViewport(&vp);
    device_->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex)));
    auto picture = finish();
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            bool inside = x >= 4 && x < 12 && y >= 4 && y < 12;
            ASSERT_EQ(inside ? 0xFF123456u : 0xFF000000u, picture[y * 16 + x]) << x << "," << y;
        }
}

TEST_F(Pipeline, GouraudInterpolatesAndFlatTakesTheFirstVertex) {
    device_->SetFVF(kColorFvf);
    // Blue grows from 0 at x = 0 to 255 at x = 15 along the top row.
    ColorVertex tri[3] = {{0, 0, 0.5f, 1, 0xFF000000}, {15, 0, 0.5f, 1, 0xFF0000FF}, {0, 15, 0.5f, 1, 0xFF000000}};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ColorVertex)));
    auto gouraud = finish();
    EXPECT_EQ(0xFF000000u, gouraud[0]);
    EXPECT_EQ(0xFF000011u, gouraud[1]);  // 255 / 15 per pixel
    EXPECT_EQ(0xFF000077u, gouraud[7]);
    ASSERT_EQ(D3D_OK, device_->BeginScene());
    device_->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(ColorVertex)));
    auto flat = finish();
    EXPECT_EQ(0xFF000000u, flat[7]);
}

TEST_F(Pipeline, BlendFactorsAndOperations) {
    device_->SetFVF(kColorFvf);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    ColorVertex base[4] = {{0, 0, 0.5f, 1, 0xFF806040},
                           {16, 0, 0.5f, 1, 0xFF806040},
                           {0, 16, 0.5f, 1, 0xFF806040},
                           {16, 16, 0.5f, 1, 0xFF806040}};
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, base, sizeof(ColorVertex)));
    // Additive: source one, destination one, saturating.
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    ColorVertex add[4] = {{0, 0, 0.5f, 1, 0xFF90A0B0},
                          {8, 0, 0.5f, 1, 0xFF90A0B0},
                          {0, 8, 0.5f, 1, 0xFF90A0B0},
                          {8, 8, 0.5f, 1, 0xFF90A0B0}};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, add, sizeof(ColorVertex)));
    // Reverse subtract with destination colour: dest * dest - src * 1 (clamped at zero).
    device_->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_REVSUBTRACT);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_DESTCOLOR);
    ColorVertex sub[4] = {{8, 8, 0.5f, 1, 0xFF102030},
                          {16, 8, 0.5f, 1, 0xFF102030},
                          {8, 16, 0.5f, 1, 0xFF102030},
                          {16, 16, 0.5f, 1, 0xFF102030}};
    ASSERT_EQ(D3D_OK, device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, sub, sizeof(ColorVertex)));
    auto picture = finish();
    EXPECT_EQ(0xFFFFFFF0u, picture[2 * 16 + 2]);
    auto channel = [](uint32_t d, uint32_t s) { return uint32_t(std::max<int>(0, int((d * d + 127) / 255) - int(s))); };
    uint32_t want = 0xFF000000u | (channel(0x80, 0x10) << 16) | (channel(0x60, 0x20) << 8) | channel(0x40, 0x30);
    EXPECT_EQ(want, picture[12 * 16 + 12]);
}

TEST_F(Pipeline, MinifiedTexturesSampleTheMipLevelTheFilterChooses) {
    InterfacePtr<IDirect3DTexture9> texture;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 0, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, texture.put(), nullptr));
    ASSERT_EQ(4u, texture->GetLevelCount());
    const uint32_t colors[4] = {0xFF0000FF, 0xFF00FF00, 0xFFFF0000, 0xFFFFFFFF};
    for (UINT level = 0; level < 4; ++level) {
        D3DSURFACE_DESC desc{};
        texture->GetLevelDesc(level, &desc);
        EXPECT_EQ(8u >> level, desc.Width);
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(D3D_OK, texture->LockRect(level, &lr, nullptr, 0));
        for (UINT y = 0; y < desc.Height; ++y)
            std::fill_n(reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch), desc.Width,
                        colors[level]);
        texture->UnlockRect(level);
    }
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    // 8 texels over 2 pixels: a level of detail of 2.
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    ASSERT_EQ(D3D_OK, drawLayer(texture.get(), {0, 0, 2, 2}, {0, 0, 8, 8}, 0xFFFFFFFF, 8, 8));
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    ASSERT_EQ(D3D_OK, drawLayer(texture.get(), {4, 0, 6, 2}, {0, 0, 8, 8}, 0xFFFFFFFF, 8, 8));
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
    device_->SetSamplerState(0, D3DSAMP_MAXMIPLEVEL, 3);
    ASSERT_EQ(D3D_OK, drawLayer(texture.get(), {8, 0, 10, 2}, {0, 0, 8, 8}, 0xFFFFFFFF, 8, 8));
    auto picture = finish();
    EXPECT_EQ(colors[2], picture[0]);
    EXPECT_EQ(colors[0], picture[4]);
    EXPECT_EQ(colors[3], picture[8]) << "the most detailed level allowed is 3";
}

}  // namespace

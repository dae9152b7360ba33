// Surfaces: locking and pitch, the copy operations with their pool and format rules, and
// pixel formats as they are sampled.
#include "DeviceFixture.h"

using namespace gfxtest;

namespace {

class Surfaces : public DeviceFixture {
protected:
    void SetUp() override { makeDevice(32, 32); }

    InterfacePtr<IDirect3DSurface9> plain(UINT w, UINT h, D3DFORMAT f, D3DPOOL pool) {
        InterfacePtr<IDirect3DSurface9> s;
        EXPECT_EQ(D3D_OK, device_->CreateOffscreenPlainSurface(w, h, f, pool, s.put(), nullptr));
        return s;
    }
    void fill(IDirect3DSurface9* s, const std::vector<uint32_t>& pixels, UINT w, UINT h) {
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(D3D_OK, s->LockRect(&lr, nullptr, 0));
        for (UINT y = 0; y < h; ++y)
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, pixels.data() + size_t(y) * w, w * 4);
        ASSERT_EQ(D3D_OK, s->UnlockRect());
    }
    std::vector<uint32_t> read(IDirect3DSurface9* s, UINT w, UINT h) {
        // Render targets are read through a system-memory copy.
        D3DSURFACE_DESC desc{};
        s->GetDesc(&desc);
        InterfacePtr<IDirect3DSurface9> copy = plain(w, h, desc.Format, D3DPOOL_SYSTEMMEM);
        EXPECT_EQ(D3D_OK, device_->GetRenderTargetData(s, copy.get()));
        std::vector<uint32_t> out(size_t(w) * h);
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(D3D_OK, copy->LockRect(&lr, nullptr, D3DLOCK_READONLY));
        for (UINT y = 0; y < h; ++y)
            std::memcpy(out.data() + size_t(y) * w, static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, w * 4);
        copy->UnlockRect();
        return out;
    }
};

TEST_F(Surfaces, LockGivesARowPitchAndTheRectanglesFirstPixel) {
    struct Case {
        D3DFORMAT format;
        UINT bytes;
    } cases[] = {{D3DFMT_A8R8G8B8, 4}, {D3DFMT_R8G8B8, 3}, {D3DFMT_R5G6B5, 2}, {D3DFMT_A8, 1}};
    for (const Case& c : cases) {
        auto s = plain(13, 5, c.format, D3DPOOL_SYSTEMMEM);
        D3DLOCKED_RECT whole{}, part{};
        ASSERT_EQ(D3D_OK, s->LockRect(&whole, nullptr, 0));
        EXPECT_GE(UINT(whole.Pitch), 13 * c.bytes);
        EXPECT_EQ(0, whole.Pitch % 4);
        EXPECT_EQ(D3DERR_INVALIDCALL, s->LockRect(&part, nullptr, 0)) << "locked twice";
        ASSERT_EQ(D3D_OK, s->UnlockRect());
        EXPECT_EQ(D3DERR_INVALIDCALL, s->UnlockRect()) << "not locked";
        RECT r{3, 2, 7, 4};
        ASSERT_EQ(D3D_OK, s->LockRect(&part, &r, 0));
        EXPECT_EQ(static_cast<uint8_t*>(whole.pBits) + 2 * whole.Pitch + 3 * c.bytes, part.pBits);
        s->UnlockRect();
        RECT outside{10, 0, 14, 5};
        EXPECT_EQ(D3DERR_INVALIDCALL, s->LockRect(&part, &outside, 0));
        RECT empty{4, 4, 4, 5};
        EXPECT_EQ(D3DERR_INVALIDCALL, s->LockRect(&part, &empty, 0));
    }
    // Default-pool textures are not for the CPU unless dynamic.
    InterfacePtr<IDirect3DTexture9> t;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
    D3DLOCKED_RECT lr{};
    EXPECT_EQ(D3DERR_INVALIDCALL, t->LockRect(0, &lr, nullptr, 0));
    EXPECT_EQ(D3DERR_INVALIDCALL, t->LockRect(1, &lr, nullptr, 0));
    ASSERT_EQ(D3D_OK,
              device_->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, t.put(), nullptr));
    EXPECT_EQ(D3D_OK, t->LockRect(0, &lr, nullptr, D3DLOCK_DISCARD));
    EXPECT_EQ(D3D_OK, t->UnlockRect(0));
}

TEST_F(Surfaces, UpdateSurfaceCopiesARectangleFromSystemMemory) {
    std::vector<uint32_t> src(8 * 6);
    for (size_t i = 0; i < src.size(); ++i) src[i] = 0xFF000000u | uint32_t(i * 0x010203);
    auto staging = plain(8, 6, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
    fill(staging.get(), src, 8, 6);
    InterfacePtr<IDirect3DSurface9> target;
    ASSERT_EQ(D3D_OK, device_->CreateRenderTarget(10, 10, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, target.put(),
                                                  nullptr));
    ASSERT_EQ(D3D_OK, device_->ColorFill(target.get(), nullptr, 0xFF112233));
    RECT r{2, 1, 6, 4};
    POINT at{5, 6};
    ASSERT_EQ(D3D_OK, device_->UpdateSurface(staging.get(), &r, target.get(), &at));
    auto out = read(target.get(), 10, 10);
    for (UINT y = 0; y < 10; ++y)
        for (UINT x = 0; x < 10; ++x) {
            bool inside = x >= 5 && x < 9 && y >= 6 && y < 9;
            uint32_t want = inside ? src[(y - 6 + 1) * 8 + (x - 5 + 2)] : 0xFF112233u;
            ASSERT_EQ(want, out[y * 10 + x]) << x << "," << y;
        }
    // Rules: source in system memory, destination in the default pool, same format, inside.
    POINT corner{8, 8};
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->UpdateSurface(staging.get(), &r, target.get(), &corner));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->UpdateSurface(target.get(), nullptr, staging.get(), nullptr));
    auto other = plain(8, 6, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->UpdateSurface(other.get(), nullptr, target.get(), nullptr));
    D3DLOCKED_RECT lr{};
    staging->LockRect(&lr, nullptr, 0);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->UpdateSurface(staging.get(), nullptr, target.get(), nullptr));
    staging->UnlockRect();
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->UpdateSurface(nullptr, nullptr, target.get(), nullptr));
}

TEST_F(Surfaces, StretchRectPointRepeatsAndLinearInterpolates) {
    std::vector<uint32_t> row = {0xFF000000u, 0xFF000064u, 0xFF0000C8u, 0xFF000028u};  // blue 0 100 200 40
    auto staging = plain(4, 1, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM);
    fill(staging.get(), row, 4, 1);
    auto source = plain(4, 1, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT);
    ASSERT_EQ(D3D_OK, device_->UpdateSurface(staging.get(), nullptr, source.get(), nullptr));
    InterfacePtr<IDirect3DSurface9> target;
    ASSERT_EQ(D3D_OK,
              device_->CreateRenderTarget(8, 1, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE, target.put(), nullptr));

    ASSERT_EQ(D3D_OK, device_->StretchRect(source.get(), nullptr, target.get(), nullptr, D3DTEXF_POINT));
    auto point = read(target.get(), 8, 1);
    const uint32_t wantPoint[8] = {0, 0, 100, 100, 200, 200, 40, 40};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(0xFF000000u | wantPoint[i], point[i]) << i;

    ASSERT_EQ(D3D_OK, device_->StretchRect(source.get(), nullptr, target.get(), nullptr, D3DTEXF_LINEAR));
    auto linear = read(target.get(), 8, 1);
    const uint32_t wantLinear[8] = {0, 25, 75, 125, 175, 160, 80, 40};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(0xFF000000u | wantLinear[i], linear[i]) << i;

    // Sub-rectangles, and the rules: default pool only, targets must be render targets.
    RECT s{1, 0, 3, 1}, d{2, 0, 4, 1};
    ASSERT_EQ(D3D_OK, device_->StretchRect(source.get(), &s, target.get(), &d, D3DTEXF_NONE));
    EXPECT_EQ(0xFF000064u, read(target.get(), 8, 1)[2]);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->StretchRect(staging.get(), nullptr, target.get(), nullptr, D3DTEXF_POINT));
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->StretchRect(target.get(), nullptr, source.get(), nullptr, D3DTEXF_POINT));
    RECT beyond{0, 0, 9, 1};
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->StretchRect(source.get(), nullptr, target.get(), &beyond, D3DTEXF_POINT));
    EXPECT_EQ(D3DERR_INVALIDCALL,
              device_->StretchRect(source.get(), nullptr, target.get(), nullptr, D3DTEXF_ANISOTROPIC));
    InterfacePtr<IDirect3DTexture9> plainTexture;
    ASSERT_EQ(D3D_OK,
              device_->CreateTexture(4, 1, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, plainTexture.put(), nullptr));
    InterfacePtr<IDirect3DSurface9> level;
    plainTexture->GetSurfaceLevel(0, level.put());
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->StretchRect(source.get(), nullptr, level.get(), nullptr, D3DTEXF_POINT));
}

TEST_F(Surfaces, StretchRectConvertsFormatsIntoARenderTargetTexture) {
    // A 16-bit picture copied into a 32-bit render-target texture, as a presenter does.
    InterfacePtr<IDirect3DSurface9> staging = plain(2, 1, D3DFMT_R5G6B5, D3DPOOL_SYSTEMMEM);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, staging->LockRect(&lr, nullptr, 0));
    uint16_t px[2] = {0xF800, 0x07FF};  // pure red; green + blue
    std::memcpy(lr.pBits, px, 4);
    staging->UnlockRect();
    auto source = plain(2, 1, D3DFMT_R5G6B5, D3DPOOL_DEFAULT);
    ASSERT_EQ(D3D_OK, device_->UpdateSurface(staging.get(), nullptr, source.get(), nullptr));
    InterfacePtr<IDirect3DTexture9> texture;
    ASSERT_EQ(D3D_OK, device_->CreateTexture(2, 1, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                             texture.put(), nullptr));
    InterfacePtr<IDirect3DSurface9> level;
    texture->GetSurfaceLevel(0, level.put());
    ASSERT_EQ(D3D_OK, device_->StretchRect(source.get(), nullptr, level.get(), nullptr, D3DTEXF_NONE));
    auto out = read(level.get(), 2, 1);
    EXPECT_EQ(0xFFFF0000u, out[0]);
    EXPECT_EQ(0xFF00FFFFu, out[1]);
}

TEST_F(Surfaces, SixteenBitAndAlphaOnlyTexturesAreSampledExpanded) {
    installBaseline();
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    struct Case {
        D3DFORMAT format;
        uint32_t raw;
        uint32_t bytes;
        uint32_t sampled;
    } cases[] = {{D3DFMT_R5G6B5, 0x801F, 2, 0xFF8400FFu},  // r 16 -> 132, g 0, b 31 -> 255
                 {D3DFMT_A4R4G4B4, 0x8F30, 2, 0x88FF3300u},
                 {D3DFMT_A8, 0x7F, 1, 0x7F000000u},
                 {D3DFMT_R8G8B8, 0x123456, 3, 0xFF123456u}};
    for (const Case& c : cases) {
        InterfacePtr<IDirect3DTexture9> texture;
        ASSERT_EQ(D3D_OK, device_->CreateTexture(1, 1, 1, 0, c.format, D3DPOOL_DEFAULT, texture.put(), nullptr));
        auto staging = plain(1, 1, c.format, D3DPOOL_SYSTEMMEM);
        D3DLOCKED_RECT lr{};
        ASSERT_EQ(D3D_OK, staging->LockRect(&lr, nullptr, 0));
        std::memcpy(lr.pBits, &c.raw, c.bytes);
        staging->UnlockRect();
        InterfacePtr<IDirect3DSurface9> level;
        texture->GetSurfaceLevel(0, level.put());
        ASSERT_EQ(D3D_OK, device_->UpdateSurface(staging.get(), nullptr, level.get(), nullptr));
        ASSERT_EQ(D3D_OK, device_->BeginScene());
        ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0));
        ASSERT_EQ(D3D_OK, drawLayer(texture.get(), {0, 0, 4, 4}, {0, 0, 1, 1}, 0xFFFFFFFF, 1, 1));
        ASSERT_EQ(D3D_OK, device_->EndScene());
        // The back buffer has no alpha; the colour channels show the expansion.
        EXPECT_EQ(c.sampled | 0xFF000000u, readBackBuffer()[0]) << c.format;
    }
}

TEST_F(Surfaces, ColorFillAndClearWriteTheFormatsPixels) {
    InterfacePtr<IDirect3DSurface9> target;
    ASSERT_EQ(D3D_OK,
              device_->CreateRenderTarget(4, 4, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, TRUE, target.put(), nullptr));
    RECT r{1, 1, 3, 2};
    ASSERT_EQ(D3D_OK, device_->ColorFill(target.get(), nullptr, 0x00000000));
    ASSERT_EQ(D3D_OK, device_->ColorFill(target.get(), &r, 0x80402010));
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(D3D_OK, target->LockRect(&lr, nullptr, 0)) << "made lockable";
    auto row = [&](int y) { return reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch); };
    EXPECT_EQ(0u, row(1)[0]);
    EXPECT_EQ(0x80402010u, row(1)[1]);
    EXPECT_EQ(0x80402010u, row(1)[2]);
    EXPECT_EQ(0u, row(2)[1]);
    target->UnlockRect();
    RECT outside{3, 3, 5, 4};
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->ColorFill(target.get(), &outside, 0));
    auto system = plain(4, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(D3DERR_INVALIDCALL, device_->ColorFill(system.get(), nullptr, 0));
    // Clear fills the X8R8G8B8 back buffer with opaque pixels.
    ASSERT_EQ(D3D_OK, device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00ABCDEF, 1.0f, 0));
    EXPECT_EQ(0xFFABCDEFu, readBackBuffer()[5]);
    D3DRECT one{2, 2, 3, 3};
    ASSERT_EQ(D3D_OK, device_->Clear(1, &one, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0));
    auto picture = readBackBuffer();
    EXPECT_EQ(0xFF000000u, picture[2 * 32 + 2]);
    EXPECT_EQ(0xFFABCDEFu, picture[2 * 32 + 3]);
}

}  // namespace

#pragma once
// Shared set-up for the software device tests: a private adapter, a device with a
// back buffer of a chosen size, the compositor's render-state baseline, and helpers to
// make textures, draw layer rectangles the way the compositor does, and read pixels back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace gfxtest {

inline HWND fakeWindow(uintptr_t n = 0x1000) {
    return reinterpret_cast<HWND>(n);
}

inline D3DPRESENT_PARAMETERS windowedParameters(UINT w, UINT h) {
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = w;
    p.BackBufferHeight = h;
    p.BackBufferFormat = D3DFMT_UNKNOWN;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.Windowed = TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    return p;
}

struct LayerVertex {
    float x, y, z, rhw;
    DWORD diffuse;
    float u, v;
};
static_assert(sizeof(LayerVertex) == 28);
constexpr DWORD kLayerFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

class DeviceFixture : public ::testing::Test {
protected:
    void makeDevice(UINT w, UINT h, bool ex = false) {
        adapter_ = std::make_shared<gfx::SoftwareAdapter>();
        d3d_ = InterfacePtr<IDirect3D9Ex>::adopt(gfx::SoftwareDirect3D::create(adapter_, true));
        D3DPRESENT_PARAMETERS p = windowedParameters(w, h);
        if (ex) {
            ASSERT_EQ(D3D_OK,
                      d3d_->CreateDeviceEx(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &p, nullptr, deviceEx_.put()));
            device_ = deviceEx_.get();
        } else {
            ASSERT_EQ(D3D_OK, d3d_->CreateDevice(0, D3DDEVTYPE_HAL, fakeWindow(), 0x24, &p, device_.put()));
        }
        width_ = w;
        height_ = h;
    }

    // The compositor's baseline.
    void installBaseline() {
        IDirect3DDevice9* d = device_.get();
        d->SetRenderState(D3DRS_ZENABLE, TRUE);
        d->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
        d->SetRenderState(D3DRS_ALPHAREF, 0);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetRenderState(D3DRS_COLORWRITEENABLE, 15);
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    }

    // A default-pool texture holding the pixels (tightly packed rows of 32-bit texels),
    // uploaded through a system-memory surface as the compositor does.
    InterfacePtr<IDirect3DTexture9> makeTexture(UINT w, UINT h, D3DFORMAT format, const std::vector<uint32_t>& pixels) {
        InterfacePtr<IDirect3DTexture9> texture;
        EXPECT_EQ(D3D_OK, device_->CreateTexture(w, h, 1, 0, format, D3DPOOL_DEFAULT, texture.put(), nullptr));
        InterfacePtr<IDirect3DSurface9> staging;
        EXPECT_EQ(D3D_OK,
                  device_->CreateOffscreenPlainSurface(w, h, format, D3DPOOL_SYSTEMMEM, staging.put(), nullptr));
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(D3D_OK, staging->LockRect(&lr, nullptr, 0));
        for (UINT y = 0; y < h; ++y)
            std::memcpy(static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch, pixels.data() + size_t(y) * w, w * 4);
        EXPECT_EQ(D3D_OK, staging->UnlockRect());
        InterfacePtr<IDirect3DSurface9> level;
        EXPECT_EQ(D3D_OK, texture->GetSurfaceLevel(0, level.put()));
        EXPECT_EQ(D3D_OK, device_->UpdateSurface(staging.get(), nullptr, level.get(), nullptr));
        return texture;
    }

    // One layer as the compositor draws it: corners with the half-texel offset, indices
    // 0 1 3 3 2 0, vertex and index buffers, DrawIndexedPrimitive.
    HRESULT drawLayer(IDirect3DTexture9* texture, RECT dest, RECT source, DWORD color, UINT tw, UINT th) {
        float u0 = (source.left + 0.5f) / float(tw), v0 = (source.top + 0.5f) / float(th);
        float u1 = (source.right + 0.5f) / float(tw), v1 = (source.bottom + 0.5f) / float(th);
        float l = float(dest.left), t = float(dest.top), r = float(dest.right), b = float(dest.bottom);
        LayerVertex v[4] = {{l, t, 1, 1, color, u0, v0},
                            {r, t, 1, 1, color, u1, v0},
                            {l, b, 1, 1, color, u0, v1},
                            {r, b, 1, 1, color, u1, v1}};
        uint16_t idx[6] = {0, 1, 3, 3, 2, 0};
        InterfacePtr<IDirect3DVertexBuffer9> vb;
        InterfacePtr<IDirect3DIndexBuffer9> ib;
        HRESULT hr =
            device_->CreateVertexBuffer(sizeof v, D3DUSAGE_WRITEONLY, kLayerFvf, D3DPOOL_DEFAULT, vb.put(), nullptr);
        if (FAILED(hr)) return hr;
        hr = device_->CreateIndexBuffer(sizeof idx, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_DEFAULT, ib.put(),
                                        nullptr);
        if (FAILED(hr)) return hr;
        void* p = nullptr;
        vb->Lock(0, 0, &p, 0);
        std::memcpy(p, v, sizeof v);
        vb->Unlock();
        ib->Lock(0, 0, &p, 0);
        std::memcpy(p, idx, sizeof idx);
        ib->Unlock();
        device_->SetFVF(kLayerFvf);
        device_->SetStreamSource(0, vb.get(), 0, sizeof(LayerVertex));
        device_->SetIndices(ib.get());
        device_->SetTexture(0, texture);
        hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2);
        device_->SetTexture(0, nullptr);
        device_->SetIndices(nullptr);
        device_->SetStreamSource(0, nullptr, 0, 0);
        return hr;
    }

    // The back buffer as A8R8G8B8 values, row by row.
    std::vector<uint32_t> readBackBuffer() {
        InterfacePtr<IDirect3DSurface9> back;
        EXPECT_EQ(D3D_OK, device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()));
        D3DLOCKED_RECT lr{};
        EXPECT_EQ(D3D_OK, back->LockRect(&lr, nullptr, D3DLOCK_READONLY));
        std::vector<uint32_t> out(size_t(width_) * height_);
        for (UINT y = 0; y < height_; ++y)
            std::memcpy(out.data() + size_t(y) * width_, static_cast<uint8_t*>(lr.pBits) + size_t(y) * lr.Pitch,
                        width_ * 4);
        back->UnlockRect();
        return out;
    }

    gfx::SoftwareDevice* software() { return gfx::softwareDevice(device_.get()); }

    std::shared_ptr<gfx::SoftwareAdapter> adapter_;
    InterfacePtr<IDirect3D9Ex> d3d_;
    InterfacePtr<IDirect3DDevice9Ex> deviceEx_;
    InterfacePtr<IDirect3DDevice9> device_;
    UINT width_ = 0, height_ = 0;
};

}  // namespace gfxtest

#pragma once
// Test double of a system-memory surface: pixels in a vector, a pitch wider than the row
// (so pitch handling shows), lock counting and a switch that makes locking fail.
#include <vector>

#include "framework/ComObject.h"
#include "framework/d3d9/D3D9.h"

class MemorySurface : public ComObject<IDirect3DSurface9> {
public:
    MemorySurface(UINT width, UINT height, D3DFORMAT format, UINT bytesPerPixel, UINT extraPitch = 12)
        : width_(width),
          height_(height),
          format_(format),
          pitch_(width * bytesPerPixel + extraPitch),
          pixels_(size_t(pitch_) * height, 0xEE) {}

    HRESULT GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
    DWORD SetPriority(DWORD) override { return 0; }
    DWORD GetPriority() override { return 0; }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }
    HRESULT GetContainer(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override {
        *desc = D3DSURFACE_DESC{};
        desc->Format = format_;
        desc->Type = D3DRTYPE_SURFACE;
        desc->Pool = D3DPOOL_SYSTEMMEM;
        desc->Width = width_;
        desc->Height = height_;
        return S_OK;
    }
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT*, DWORD) override {
        if (failLock || locks > 0) return D3DERR_INVALIDCALL;
        ++locks;
        ++lockCalls;
        locked->pBits = pixels_.data();
        locked->Pitch = INT(pitch_);
        return S_OK;
    }
    HRESULT UnlockRect() override {
        if (locks == 0) return D3DERR_INVALIDCALL;
        --locks;
        return S_OK;
    }

    uint8_t* row(UINT y) { return pixels_.data() + size_t(y) * pitch_; }
    UINT pitch() const { return pitch_; }

    bool failLock = false;
    int locks = 0;
    int lockCalls = 0;

private:
    UINT width_, height_;
    D3DFORMAT format_;
    UINT pitch_;
    std::vector<uint8_t> pixels_;
};

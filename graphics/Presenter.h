#pragma once
// Presentation of the composed picture: straight from the back buffer (mode 0), or, when
// the logical size differs from the back buffer, through an offscreen target copied with
// point (mode 1) or linear (mode 2) filtering. The player's back buffer always has the
// logical size, so in practice the copy is never made; the mode still records what the
// device can stretch with.
#include <cstdint>

#include "framework/InterfacePtr.h"
#include "framework/Rect.h"
#include "framework/d3d9/D3D9.h"

class DrawBase;

class Presenter {
public:
    static constexpr int kModeDirect = 0;
    static constexpr int kModePoint = 1;
    static constexpr int kModeLinear = 2;
    static constexpr int kMaxMode = 4;

    Presenter(DrawBase& owner, IDirect3DDevice9* device);
    Presenter(const Presenter&) = delete;
    Presenter& operator=(const Presenter&) = delete;

    // E_INVALIDARG above 4, E_FAIL inside a scene, E_NOTIMPL for a mode the device cannot
    // do (modes 3 and 4 need pixel shaders, which this presenter does not use).
    HRESULT setMode(int mode);
    int mode() const { return mode_; }
    // The offscreen copy onto the back buffer, when there is one.
    HRESULT copyToBackBuffer();
    bool hasOffscreenTarget() const { return offscreen_ != nullptr; }

    void releaseDeviceObjects();
    HRESULT rebuildDeviceObjects();

private:
    HRESULT prepare();

    DrawBase& owner_;
    InterfacePtr<IDirect3DDevice9> device_;
    int mode_ = -1;
    InterfacePtr<IDirect3DSurface9> backBuffer_;
    InterfacePtr<IDirect3DSurface9> offscreen_;
    RECT sourceRect_{};
    RECT destRect_{};
};

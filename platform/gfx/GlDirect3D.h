#pragma once
// The entry object of the runtime when OpenGL may be used: everything a software entry
// object answers, except that a device for a window that can carry an OpenGL context is an
// OpenGL device (GlDevice). Windows without one get the software device.
#include <atomic>
#include <memory>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/IDirect3D9.h"

namespace gfx {

class SoftwareAdapter;

class GlDirect3D : public IDirect3D9Ex {
public:
    // One reference for the caller. A plain object does not answer IDirect3D9Ex.
    static GlDirect3D* create(std::shared_ptr<SoftwareAdapter> adapter, bool ex);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    UINT GetAdapterCount() override { return inner_->GetAdapterCount(); }
    UINT GetAdapterModeCount(UINT adapter, D3DFORMAT format) override;
    HRESULT EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) override;
    HRESULT GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) override;
    HRESULT CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, D3DFORMAT backBufferFormat,
                            BOOL windowed) override;
    HRESULT CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, DWORD usage,
                              D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) override;
    HRESULT CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT surfaceFormat, BOOL windowed,
                                       D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) override;
    HRESULT CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                   D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) override;
    HRESULT GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) override;
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;
    HRESULT GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) override;
    HRESULT CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                           D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode,
                           IDirect3DDevice9Ex** device) override;

private:
    GlDirect3D(IDirect3D9Ex* inner, bool ex) : inner_(InterfacePtr<IDirect3D9Ex>::adopt(inner)), ex_(ex) {}
    virtual ~GlDirect3D() = default;
    // Puts an OpenGL device over the software one when the window takes it.
    IDirect3DDevice9* wrap(IDirect3DDevice9* software, HWND focusWindow, const D3DPRESENT_PARAMETERS& params);

    InterfacePtr<IDirect3D9Ex> inner_;
    bool ex_;
    std::atomic<ULONG> refs_{1};
};

// The "d3d9.dll" entry points of the runtime that prefers OpenGL (process adapter).
IDirect3D9* glDirect3DCreate9(UINT sdkVersion);
HRESULT glDirect3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** out);

}  // namespace gfx

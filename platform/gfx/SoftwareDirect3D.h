#pragma once
// The entry object of the software runtime: one adapter, its capabilities and formats,
// and creation of software devices (9 and, for objects made as 9Ex, 9Ex).
#include <memory>

#include <atomic>
#include "framework/d3d9/IDirect3D9.h"
#include "platform/gfx/SoftwareAdapter.h"

namespace gfx {

class SoftwareDirect3D : public IDirect3D9Ex {
public:
    // One reference for the caller. A plain object does not answer IDirect3D9Ex.
    static SoftwareDirect3D* create(std::shared_ptr<SoftwareAdapter> adapter, bool ex);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    UINT GetAdapterCount() override { return 1; }
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

    const std::shared_ptr<SoftwareAdapter>& adapter() const { return adapter_; }

private:
    SoftwareDirect3D(std::shared_ptr<SoftwareAdapter> adapter, bool ex) : adapter_(std::move(adapter)), ex_(ex) {}
    virtual ~SoftwareDirect3D() = default;
    HRESULT checkAdapter(UINT adapter, D3DDEVTYPE deviceType) const;

    std::shared_ptr<SoftwareAdapter> adapter_;
    bool ex_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace gfx

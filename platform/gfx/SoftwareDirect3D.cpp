#include "platform/gfx/SoftwareDirect3D.h"

#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareFormats.h"

namespace gfx {

SoftwareDirect3D* SoftwareDirect3D::create(std::shared_ptr<SoftwareAdapter> adapter, bool ex) {
    return new (std::nothrow) SoftwareDirect3D(std::move(adapter), ex);
}

HRESULT SoftwareDirect3D::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3D9::iid || (ex_ && riid == IDirect3D9Ex::iid)) {
        *ppv = static_cast<IDirect3D9Ex*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareDirect3D::AddRef() {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG SoftwareDirect3D::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT SoftwareDirect3D::checkAdapter(UINT adapter, D3DDEVTYPE deviceType) const {
    if (adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    if (deviceType == D3DDEVTYPE_REF || deviceType == D3DDEVTYPE_NULLREF) return D3DERR_NOTAVAILABLE;
    if (deviceType != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    return D3D_OK;
}

UINT SoftwareDirect3D::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    return adapter == D3DADAPTER_DEFAULT && format == adapter_->desktopFormat() ? 1 : 0;
}

HRESULT SoftwareDirect3D::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
    if (!out || mode >= GetAdapterModeCount(adapter, format)) return D3DERR_INVALIDCALL;
    return GetAdapterDisplayMode(adapter, out);
}

HRESULT SoftwareDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (!mode || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    adapter_->desktopSize(&mode->Width, &mode->Height);
    mode->RefreshRate = 60;
    mode->Format = adapter_->desktopFormat();
    return D3D_OK;
}

HRESULT SoftwareDirect3D::GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) {
    if (!mode || adapter != D3DADAPTER_DEFAULT || mode->Size != sizeof(D3DDISPLAYMODEEX)) return D3DERR_INVALIDCALL;
    adapter_->desktopSize(&mode->Width, &mode->Height);
    mode->RefreshRate = 60;
    mode->Format = adapter_->desktopFormat();
    mode->ScanLineOrdering = D3DSCANLINEORDERING_PROGRESSIVE;
    if (rotation) *rotation = D3DDISPLAYROTATION_IDENTITY;
    return D3D_OK;
}

HRESULT SoftwareDirect3D::CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                          D3DFORMAT backBufferFormat, BOOL windowed) {
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    if (adapterFormat != adapter_->desktopFormat() && !windowed) return D3DERR_NOTAVAILABLE;
    if (backBufferFormat == D3DFMT_UNKNOWN) return windowed ? D3D_OK : D3DERR_INVALIDCALL;
    return (adapter_->formatUses(backBufferFormat) & kUseDisplay) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT SoftwareDirect3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT, DWORD usage,
                                            D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    uint32_t uses = adapter_->formatUses(checkFormat);
    uint32_t wanted = 0;
    switch (resourceType) {
        case D3DRTYPE_TEXTURE:
            wanted = kUseTexture;
            break;
        case D3DRTYPE_SURFACE:
            wanted = (usage & (D3DUSAGE_RENDERTARGET | D3DUSAGE_DEPTHSTENCIL)) ? 0u : uint32_t(kUseSurface);
            break;
        default:
            return D3DERR_NOTAVAILABLE;
    }
    if (usage & D3DUSAGE_RENDERTARGET) wanted |= kUseRenderTarget;
    if (usage & D3DUSAGE_DEPTHSTENCIL) {
        if (resourceType != D3DRTYPE_SURFACE) return D3DERR_NOTAVAILABLE;
        wanted |= kUseDepthStencil;
    }
    if (usage & (D3DUSAGE_DMAP | D3DUSAGE_QUERY_VERTEXTEXTURE | D3DUSAGE_QUERY_LEGACYBUMPMAP))
        return D3DERR_NOTAVAILABLE;
    if (wanted == 0 || (uses & wanted) != wanted) return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT SoftwareDirect3D::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT surfaceFormat, BOOL,
                                                     D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) {
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    if (multiSample != D3DMULTISAMPLE_NONE || adapter_->formatUses(surfaceFormat) == 0) return D3DERR_NOTAVAILABLE;
    if (qualityLevels) *qualityLevels = 1;
    return D3D_OK;
}

HRESULT SoftwareDirect3D::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT,
                                                 D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    if (!(adapter_->formatUses(renderTargetFormat) & kUseRenderTarget) ||
        !(adapter_->formatUses(depthStencilFormat) & kUseDepthStencil))
        return D3DERR_NOTAVAILABLE;
    return D3D_OK;
}

HRESULT SoftwareDirect3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    *caps = adapter_->caps();
    return D3D_OK;
}

HRESULT SoftwareDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                       D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    HRESULT hr = D3D_OK;
    *device = SoftwareDevice::create(adapter_, this, false, focusWindow, behaviorFlags, params, &hr);
    return hr;
}

HRESULT SoftwareDirect3D::CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                         D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode,
                                         IDirect3DDevice9Ex** device) {
    if (!device) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (!ex_) return D3DERR_INVALIDCALL;
    if (HRESULT hr = checkAdapter(adapter, deviceType); FAILED(hr)) return hr;
    if (!params || (params->Windowed ? fullscreenMode != nullptr : fullscreenMode == nullptr))
        return D3DERR_INVALIDCALL;
    if (fullscreenMode &&
        (fullscreenMode->Size != sizeof(D3DDISPLAYMODEEX) || fullscreenMode->Width != params->BackBufferWidth ||
         fullscreenMode->Height != params->BackBufferHeight))
        return D3DERR_INVALIDCALL;
    HRESULT hr = D3D_OK;
    *device = SoftwareDevice::create(adapter_, this, true, focusWindow, behaviorFlags, params, &hr);
    return hr;
}

}  // namespace gfx

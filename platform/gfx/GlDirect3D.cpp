#include "platform/gfx/GlDirect3D.h"

#include "platform/gfx/GlDevice.h"
#include "platform/gfx/GlWindow.h"
#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace gfx {

GlDirect3D* GlDirect3D::create(std::shared_ptr<SoftwareAdapter> adapter, bool ex) {
    SoftwareDirect3D* inner = SoftwareDirect3D::create(std::move(adapter), ex);
    if (!inner) return nullptr;
    return new GlDirect3D(inner, ex);
}

HRESULT GlDirect3D::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3D9::iid || (ex_ && riid == IDirect3D9Ex::iid)) {
        *ppv = static_cast<IDirect3D9Ex*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG GlDirect3D::AddRef() {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG GlDirect3D::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

UINT GlDirect3D::GetAdapterModeCount(UINT adapter, D3DFORMAT format) {
    return inner_->GetAdapterModeCount(adapter, format);
}
HRESULT GlDirect3D::EnumAdapterModes(UINT adapter, D3DFORMAT format, UINT mode, D3DDISPLAYMODE* out) {
    return inner_->EnumAdapterModes(adapter, format, mode, out);
}
HRESULT GlDirect3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    return inner_->GetAdapterDisplayMode(adapter, mode);
}
HRESULT GlDirect3D::CheckDeviceType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                    D3DFORMAT backBufferFormat, BOOL windowed) {
    return inner_->CheckDeviceType(adapter, deviceType, adapterFormat, backBufferFormat, windowed);
}
HRESULT GlDirect3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat, DWORD usage,
                                      D3DRESOURCETYPE resourceType, D3DFORMAT checkFormat) {
    return inner_->CheckDeviceFormat(adapter, deviceType, adapterFormat, usage, resourceType, checkFormat);
}
HRESULT GlDirect3D::CheckDeviceMultiSampleType(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT surfaceFormat,
                                               BOOL windowed, D3DMULTISAMPLE_TYPE multiSample, DWORD* qualityLevels) {
    return inner_->CheckDeviceMultiSampleType(adapter, deviceType, surfaceFormat, windowed, multiSample, qualityLevels);
}
HRESULT GlDirect3D::CheckDepthStencilMatch(UINT adapter, D3DDEVTYPE deviceType, D3DFORMAT adapterFormat,
                                           D3DFORMAT renderTargetFormat, D3DFORMAT depthStencilFormat) {
    return inner_->CheckDepthStencilMatch(adapter, deviceType, adapterFormat, renderTargetFormat, depthStencilFormat);
}
HRESULT GlDirect3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE deviceType, D3DCAPS9* caps) {
    return inner_->GetDeviceCaps(adapter, deviceType, caps);
}
HRESULT GlDirect3D::GetAdapterDisplayModeEx(UINT adapter, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) {
    if (!ex_) return D3DERR_INVALIDCALL;
    return inner_->GetAdapterDisplayModeEx(adapter, mode, rotation);
}

IDirect3DDevice9* GlDirect3D::wrap(IDirect3DDevice9* software, HWND focusWindow, const D3DPRESENT_PARAMETERS& params) {
    HWND window = params.hDeviceWindow ? params.hDeviceWindow : focusWindow;
    QWindow* qwindow = findGlWindow(window);
    SoftwareDevice* inner = softwareDevice(software);
    if (!qwindow || !inner) return software;
    GlDevice* gl = GlDevice::create(this, inner, qwindow);
    return gl ? static_cast<IDirect3DDevice9*>(gl) : software;
}

HRESULT GlDirect3D::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                 D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
    HRESULT hr = inner_->CreateDevice(adapter, deviceType, focusWindow, behaviorFlags, params, device);
    if (FAILED(hr) || !device || !*device) return hr;
    *device = wrap(*device, focusWindow, *params);
    return hr;
}

HRESULT GlDirect3D::CreateDeviceEx(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                                   D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode,
                                   IDirect3DDevice9Ex** device) {
    if (!ex_) return D3DERR_INVALIDCALL;
    HRESULT hr =
        inner_->CreateDeviceEx(adapter, deviceType, focusWindow, behaviorFlags, params, fullscreenMode, device);
    if (FAILED(hr) || !device || !*device) return hr;
    IDirect3DDevice9* wrapped = wrap(*device, focusWindow, *params);
    *device = static_cast<IDirect3DDevice9Ex*>(wrapped);
    return hr;
}

IDirect3D9* glDirect3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return GlDirect3D::create(SoftwareAdapter::processAdapter(), false);
}

HRESULT glDirect3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (sdkVersion != D3D_SDK_VERSION) return D3DERR_NOTAVAILABLE;
    *out = GlDirect3D::create(SoftwareAdapter::processAdapter(), true);
    return *out ? D3D_OK : E_OUTOFMEMORY;
}

}  // namespace gfx

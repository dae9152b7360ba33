#include "platform/gfx/SoftwareDevice.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "platform/gfx/SoftwareBuffers.h"
#include "platform/gfx/SoftwareFormats.h"
#include "platform/gfx/SoftwareSurface.h"
#include "platform/gfx/SoftwareTexture.h"
#include "platform/gfx/SurfaceCopy.h"
#include "platform/gfx/VertexLayout.h"

namespace gfx {
namespace {

constexpr UINT kMaxBackBuffers = 3;

DWORD floatBits(float f) {
    return std::bit_cast<DWORD>(f);
}
float bitsFloat(DWORD d) {
    return std::bit_cast<float>(d);
}

bool validRenderState(DWORD s) {
    if (s >= D3DRS_STATE_COUNT) return false;
    static const DWORD kValid[] = {
        7,   8,   9,   14,  15,  16,  19,  20,  22,  23,  24,  25,  26,  27,  28,  29,  34,  35,  36,  37,  38,
        48,  52,  53,  54,  55,  56,  57,  58,  59,  60,  128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 139,
        140, 141, 142, 143, 145, 146, 147, 148, 151, 152, 154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 165,
        166, 167, 168, 170, 171, 172, 173, 174, 175, 176, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 188,
        189, 190, 191, 192, 193, 194, 195, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209};
    return std::find(std::begin(kValid), std::end(kValid), s) != std::end(kValid);
}

bool validStageState(DWORD t) {
    return (t >= 1 && t <= 11) || t == 22 || t == 23 || t == 24 || (t >= 26 && t <= 28) || t == 32;
}

bool rectInside(const RECT& r, UINT width, UINT height) {
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && uint32_t(r.right) <= width &&
           uint32_t(r.bottom) <= height;
}

bool overlap(const RECT& a, const RECT& b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

D3DMATRIX identity() {
    D3DMATRIX m{};
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    return m;
}

D3DMATRIX multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            float s = 0;
            for (int k = 0; k < 4; ++k) s += a.m[i][k] * b.m[k][j];
            r.m[i][j] = s;
        }
    return r;
}

}  // namespace

// ---- creation and lifetime ---------------------------------------------------------------

SoftwareDevice::SoftwareDevice(std::shared_ptr<SoftwareAdapter> adapter, IDirect3D9* parent, bool ex)
    : adapter_(std::move(adapter)), parent_(parent), ex_(ex) {
    adapter_->addDevice(this);
}

SoftwareDevice::~SoftwareDevice() {
    adapter_->removeDevice(this);
    releaseSwapChain();
}

SoftwareDevice* SoftwareDevice::create(std::shared_ptr<SoftwareAdapter> adapter, IDirect3D9* parent, bool ex,
                                       HWND focusWindow, DWORD flags, D3DPRESENT_PARAMETERS* params, HRESULT* result) {
    DWORD vp = flags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_HARDWARE_VERTEXPROCESSING |
                        D3DCREATE_MIXED_VERTEXPROCESSING);
    D3DCAPS9 caps = adapter->caps();
    if (!params || std::popcount(vp) != 1 || (!focusWindow && !params->hDeviceWindow)) {
        *result = D3DERR_INVALIDCALL;
        return nullptr;
    }
    if (vp != D3DCREATE_SOFTWARE_VERTEXPROCESSING && !(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT)) {
        *result = D3DERR_INVALIDCALL;
        return nullptr;
    }
    if ((flags & D3DCREATE_PUREDEVICE) && vp != D3DCREATE_HARDWARE_VERTEXPROCESSING) {
        *result = D3DERR_INVALIDCALL;
        return nullptr;
    }
    if (HRESULT forced = adapter->creationFailure(flags); FAILED(forced)) {
        *result = forced;
        return nullptr;
    }
    auto* device = new (std::nothrow) SoftwareDevice(adapter, parent, ex);
    if (!device) {
        *result = E_OUTOFMEMORY;
        return nullptr;
    }
    device->creation_ = D3DDEVICE_CREATION_PARAMETERS{D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, focusWindow, flags};
    HRESULT hr = device->validateParameters(params);
    if (SUCCEEDED(hr)) hr = device->buildSwapChain(*params);
    if (FAILED(hr)) {
        device->Release();
        *result = hr;
        return nullptr;
    }
    device->params_ = *params;
    device->resetStates();
    *result = D3D_OK;
    return device;
}

HRESULT SoftwareDevice::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DDevice9::iid || (ex_ && riid == IDirect3DDevice9Ex::iid)) {
        *ppv = static_cast<IDirect3DDevice9Ex*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareDevice::AddRef() {
    total_.fetch_add(1, std::memory_order_relaxed);
    return static_cast<ULONG>(external_.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG SoftwareDevice::Release() {
    uint64_t left = external_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        // The last outside holder: bound resources are let go so that they can die.
        ScopedLock hold(lock_);
        unbindAll();
        if (renderTarget_) std::exchange(renderTarget_, nullptr)->Release();
        if (depthStencil_) std::exchange(depthStencil_, nullptr)->Release();
    }
    releaseInternal();
    return static_cast<ULONG>(left);
}

void SoftwareDevice::releaseInternal() {
    if (total_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void SoftwareDevice::resourceCreated(D3DPOOL pool) {
    if (pool == D3DPOOL_DEFAULT) defaultPool_.fetch_add(1, std::memory_order_relaxed);
}

void SoftwareDevice::resourceDestroyed(D3DPOOL pool) {
    if (pool == D3DPOOL_DEFAULT) defaultPool_.fetch_sub(1, std::memory_order_relaxed);
}

HRESULT SoftwareDevice::validateParameters(D3DPRESENT_PARAMETERS* p) const {
    if (!p) return D3DERR_INVALIDCALL;
    if (p->BackBufferCount > kMaxBackBuffers) return D3DERR_INVALIDCALL;
    if (p->MultiSampleType != D3DMULTISAMPLE_NONE || p->MultiSampleQuality != 0) return D3DERR_INVALIDCALL;
    if (p->SwapEffect < D3DSWAPEFFECT_DISCARD || p->SwapEffect > D3DSWAPEFFECT_FLIPEX ||
        p->SwapEffect == D3DSWAPEFFECT_OVERLAY || (p->SwapEffect == D3DSWAPEFFECT_FLIPEX && !ex_))
        return D3DERR_INVALIDCALL;
    if (p->SwapEffect == D3DSWAPEFFECT_COPY && p->BackBufferCount > 1) return D3DERR_INVALIDCALL;
    if (p->Windowed && p->FullScreen_RefreshRateInHz != 0) return D3DERR_INVALIDCALL;
    DWORD interval = p->PresentationInterval;
    if (interval != D3DPRESENT_INTERVAL_DEFAULT && interval != D3DPRESENT_INTERVAL_ONE &&
        interval != D3DPRESENT_INTERVAL_IMMEDIATE)
        return D3DERR_INVALIDCALL;
    D3DFORMAT format = p->BackBufferFormat;
    if (format == D3DFMT_UNKNOWN) {
        if (!p->Windowed) return D3DERR_INVALIDCALL;
        format = adapter_->desktopFormat();
    }
    if (!(adapter_->formatUses(format) & kUseDisplay)) return D3DERR_INVALIDCALL;
    if (p->BackBufferWidth == 0 || p->BackBufferHeight == 0) {
        // A window's client size is not known here; full screen needs a mode anyway.
        return D3DERR_INVALIDCALL;
    }
    if (p->BackBufferWidth > 16384 || p->BackBufferHeight > 16384) return D3DERR_INVALIDCALL;
    if (p->EnableAutoDepthStencil && !(adapter_->formatUses(p->AutoDepthStencilFormat) & kUseDepthStencil))
        return D3DERR_INVALIDCALL;
    if (!p->hDeviceWindow && !creation_.hFocusWindow) return D3DERR_INVALIDCALL;
    // What the device fills in.
    p->BackBufferFormat = format;
    if (p->BackBufferCount == 0) p->BackBufferCount = 1;
    return D3D_OK;
}

HRESULT SoftwareDevice::buildSwapChain(const D3DPRESENT_PARAMETERS& p) {
    releaseSwapChain();
    bool lockable = (p.Flags & D3DPRESENTFLAG_LOCKABLE_BACKBUFFER) != 0;
    for (UINT i = 0; i < std::max(1u, p.BackBufferCount); ++i) {
        D3DSURFACE_DESC desc{p.BackBufferFormat, D3DRTYPE_SURFACE,    D3DUSAGE_RENDERTARGET,
                             D3DPOOL_DEFAULT,    D3DMULTISAMPLE_NONE, 0,
                             p.BackBufferWidth,  p.BackBufferHeight};
        SoftwareSurface* s = SoftwareSurface::create(this, desc, lockable, true);
        if (!s) {
            releaseSwapChain();
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        backBuffers_.push_back(s);
    }
    if (p.EnableAutoDepthStencil) {
        D3DSURFACE_DESC desc{p.AutoDepthStencilFormat, D3DRTYPE_SURFACE,    D3DUSAGE_DEPTHSTENCIL,
                             D3DPOOL_DEFAULT,          D3DMULTISAMPLE_NONE, 0,
                             p.BackBufferWidth,        p.BackBufferHeight};
        autoDepth_ = SoftwareSurface::create(this, desc, false, true);
        if (!autoDepth_) {
            releaseSwapChain();
            return D3DERR_OUTOFVIDEOMEMORY;
        }
    }
    renderTarget_ = backBuffers_[0];
    renderTarget_->AddRef();
    if (autoDepth_) {
        depthStencil_ = autoDepth_;
        depthStencil_->AddRef();
    }
    return D3D_OK;
}

void SoftwareDevice::releaseSwapChain() {
    if (renderTarget_) std::exchange(renderTarget_, nullptr)->Release();
    if (depthStencil_) std::exchange(depthStencil_, nullptr)->Release();
    for (SoftwareSurface* s : backBuffers_) {
        s->detachFromDevice();
        s->Release();
    }
    backBuffers_.clear();
    if (autoDepth_) {
        autoDepth_->detachFromDevice();
        std::exchange(autoDepth_, nullptr)->Release();
    }
}

void SoftwareDevice::unbindAll() {
    for (auto& t : textures_)
        if (t) std::exchange(t, nullptr)->Release();
    if (stream_) std::exchange(stream_, nullptr)->Release();
    if (indices_) std::exchange(indices_, nullptr)->Release();
    streamOffset_ = streamStride_ = 0;
}

D3DVIEWPORT9 SoftwareDevice::fullViewport() const {
    D3DVIEWPORT9 v{0, 0, 0, 0, 0.0f, 1.0f};
    if (renderTarget_) {
        v.Width = renderTarget_->width();
        v.Height = renderTarget_->height();
    }
    return v;
}

void SoftwareDevice::resetStates() {
    auto& rs = renderStates_;
    rs.fill(0);
    rs[D3DRS_ZENABLE] = autoDepth_ ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = floatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = floatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = rs[D3DRS_STENCILZFAIL] = rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_POINTSIZE] = rs[D3DRS_POINTSIZE_MIN] = rs[D3DRS_POINTSCALE_A] = floatBits(1.0f);
    rs[D3DRS_POINTSIZE_MAX] = floatBits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_COLORWRITEENABLE] = rs[D3DRS_COLORWRITEENABLE1] = rs[D3DRS_COLORWRITEENABLE2] =
        rs[D3DRS_COLORWRITEENABLE3] = 0xF;
    rs[D3DRS_BLENDOP] = rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3;
    rs[D3DRS_NORMALDEGREE] = 1;
    rs[D3DRS_MINTESSELLATIONLEVEL] = rs[D3DRS_MAXTESSELLATIONLEVEL] = floatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = floatBits(1.0f);
    rs[D3DRS_CCW_STENCILFAIL] = rs[D3DRS_CCW_STENCILZFAIL] = rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    for (auto& s : samplerStates_) {
        s.fill(0);
        s[D3DSAMP_ADDRESSU] = s[D3DSAMP_ADDRESSV] = s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        s[D3DSAMP_MAGFILTER] = s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        s[D3DSAMP_MAXANISOTROPY] = 1;
    }
    for (DWORD i = 0; i < D3D_MAX_TEXTURE_STAGES; ++i) {
        auto& t = stageStates_[i];
        t.fill(0);
        t[D3DTSS_COLOROP] = i == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAOP] = i == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_COLORARG0] = t[D3DTSS_ALPHAARG0] = t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = i;
        t[D3DTSS_CONSTANT] = 0xFFFFFFFF;
    }
    viewport_ = fullViewport();
    scissor_ = RECT{0, 0, LONG(viewport_.Width), LONG(viewport_.Height)};
    transforms_.clear();
    material_ = D3DMATERIAL9{};
    lights_.clear();
    lightEnabled_.clear();
    fvf_ = 0;
    inScene_ = false;
}

// ---- device state and presentation -----------------------------------------------------

HRESULT SoftwareDevice::TestCooperativeLevel() {
    if (ex_) return D3D_OK;
    switch (condition()) {
        case DeviceCondition::Ok:
        case DeviceCondition::Occluded:
            return D3D_OK;
        case DeviceCondition::NotReset:
            return D3DERR_DEVICENOTRESET;
        case DeviceCondition::DriverInternalError:
            return D3DERR_DRIVERINTERNALERROR;
        default:
            return D3DERR_DEVICELOST;
    }
}

HRESULT SoftwareDevice::CheckDeviceState(HWND) {
    switch (condition()) {
        case DeviceCondition::Ok:
            return D3D_OK;
        case DeviceCondition::Occluded:
            return S_PRESENT_OCCLUDED;
        case DeviceCondition::Removed:
            return D3DERR_DEVICEREMOVED;
        case DeviceCondition::Hung:
            return D3DERR_DEVICEHUNG;
        case DeviceCondition::DriverInternalError:
            return D3DERR_DRIVERINTERNALERROR;
        default:
            return D3DERR_DEVICELOST;
    }
}

HRESULT SoftwareDevice::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d) return D3DERR_INVALIDCALL;
    *d3d = parent_.get();
    if (*d3d) (*d3d)->AddRef();
    return *d3d ? D3D_OK : D3DERR_INVALIDCALL;
}

HRESULT SoftwareDevice::GetDeviceCaps(D3DCAPS9* caps) {
    if (!caps) return D3DERR_INVALIDCALL;
    *caps = adapter_->caps();
    return D3D_OK;
}

HRESULT SoftwareDevice::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    if (!mode || swapChain != 0) return D3DERR_INVALIDCALL;
    adapter_->desktopSize(&mode->Width, &mode->Height);
    mode->RefreshRate = 60;
    mode->Format = adapter_->desktopFormat();
    return D3D_OK;
}

HRESULT SoftwareDevice::GetDisplayModeEx(UINT swapChain, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) {
    if (!mode || swapChain != 0 || mode->Size != sizeof(D3DDISPLAYMODEEX)) return D3DERR_INVALIDCALL;
    adapter_->desktopSize(&mode->Width, &mode->Height);
    mode->RefreshRate = 60;
    mode->Format = adapter_->desktopFormat();
    mode->ScanLineOrdering = D3DSCANLINEORDERING_PROGRESSIVE;
    if (rotation) *rotation = D3DDISPLAYROTATION_IDENTITY;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
    if (!params) return D3DERR_INVALIDCALL;
    *params = creation_;
    return D3D_OK;
}

UINT SoftwareDevice::GetAvailableTextureMem() {
    return 512u << 20;
}

HRESULT SoftwareDevice::SetMaximumFrameLatency(UINT maxLatency) {
    if (maxLatency > 16) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    frameLatency_ = maxLatency == 0 ? 3 : maxLatency;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetMaximumFrameLatency(UINT* maxLatency) {
    if (!maxLatency) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *maxLatency = frameLatency_;
    return D3D_OK;
}

HRESULT SoftwareDevice::presentLocked(const RECT* sourceRect, HWND override) {
    SoftwareSurface* back = backBuffers_.empty() ? nullptr : backBuffers_[0];
    if (!back) return D3DERR_INVALIDCALL;
    RECT r{0, 0, LONG(back->width()), LONG(back->height())};
    if (sourceRect) {
        if (!rectInside(*sourceRect, back->width(), back->height())) return D3DERR_INVALIDCALL;
        r = *sourceRect;
    }
    HWND window = override ? override : (params_.hDeviceWindow ? params_.hDeviceWindow : creation_.hFocusWindow);
    if (auto target = adapter_->presentationTarget(window)) {
        uint32_t w = static_cast<uint32_t>(rectWidth(r)), h = static_cast<uint32_t>(rectHeight(r));
        presentCopy_.resize(size_t(w) * h * 4);
        // A window shows opaque pixels whatever the back buffer's alpha.
        for (uint32_t y = 0; y < h; ++y) {
            const uint32_t* s =
                reinterpret_cast<const uint32_t*>(back->bits() + size_t(r.top + y) * back->pitch()) + r.left;
            uint32_t* d = reinterpret_cast<uint32_t*>(presentCopy_.data()) + size_t(y) * w;
            for (uint32_t x = 0; x < w; ++x) d[x] = s[x] | 0xFF000000u;
        }
        target->present(presentCopy_.data(), w, h, w * 4);
    }
    presents_.fetch_add(1, std::memory_order_relaxed);
    return D3D_OK;
}

HRESULT SoftwareDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                const RGNDATA* dirtyRegion) {
    ScopedLock hold(lock_);
    if (inScene_) return D3DERR_INVALIDCALL;
    if (params_.SwapEffect != D3DSWAPEFFECT_COPY && (sourceRect || destRect || dirtyRegion)) return D3DERR_INVALIDCALL;
    switch (condition()) {
        case DeviceCondition::Ok:
        case DeviceCondition::Occluded:
            break;
        case DeviceCondition::DriverInternalError:
            return D3DERR_DRIVERINTERNALERROR;
        default:
            if (!ex_) return D3DERR_DEVICELOST;
            return CheckDeviceState(nullptr);
    }
    if (ex_ && condition() == DeviceCondition::Occluded) return S_PRESENT_OCCLUDED;
    return presentLocked(sourceRect, destWindowOverride);
}

HRESULT SoftwareDevice::PresentEx(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                  const RGNDATA* dirtyRegion, DWORD) {
    return Present(sourceRect, destRect, destWindowOverride, dirtyRegion);
}

HRESULT SoftwareDevice::resetLocked(D3DPRESENT_PARAMETERS* params, bool ex) {
    DeviceCondition c = condition();
    if (c == DeviceCondition::DriverInternalError) return D3DERR_DRIVERINTERNALERROR;
    if (ex && c == DeviceCondition::Removed) return D3DERR_DEVICEREMOVED;
    if (!ex && (c == DeviceCondition::Lost || c == DeviceCondition::Removed || c == DeviceCondition::Hung))
        return D3DERR_DEVICELOST;
    if (!params) return D3DERR_INVALIDCALL;
    D3DPRESENT_PARAMETERS p = *params;
    HRESULT hr = validateParameters(&p);
    if (FAILED(hr)) return hr;
    inScene_ = false;
    unbindAll();
    if (renderTarget_) std::exchange(renderTarget_, nullptr)->Release();
    if (depthStencil_) std::exchange(depthStencil_, nullptr)->Release();
    if (!ex) {
        // Direct3D 9 resets only once the application let go of every default-pool
        // resource, the swap chain's surfaces included.
        bool held = defaultPool_.load(std::memory_order_relaxed) != 0;
        for (SoftwareSurface* s : backBuffers_) held = held || s->refCount() > 1;
        if (autoDepth_ && autoDepth_->refCount() > 1) held = true;
        if (held) {
            condition_.store(DeviceCondition::NotReset, std::memory_order_release);
            renderTarget_ = backBuffers_.empty() ? nullptr : backBuffers_[0];
            if (renderTarget_) renderTarget_->AddRef();
            depthStencil_ = autoDepth_;
            if (depthStencil_) depthStencil_->AddRef();
            return D3DERR_INVALIDCALL;
        }
    }
    hr = buildSwapChain(p);
    if (FAILED(hr)) {
        condition_.store(DeviceCondition::NotReset, std::memory_order_release);
        return hr;
    }
    params_ = p;
    *params = p;
    resetStates();
    condition_.store(DeviceCondition::Ok, std::memory_order_release);
    return D3D_OK;
}

HRESULT SoftwareDevice::Reset(D3DPRESENT_PARAMETERS* params) {
    ScopedLock hold(lock_);
    return resetLocked(params, ex_);
}

HRESULT SoftwareDevice::ResetEx(D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode) {
    ScopedLock hold(lock_);
    if (!params) return D3DERR_INVALIDCALL;
    if (params->Windowed ? fullscreenMode != nullptr : fullscreenMode == nullptr) return D3DERR_INVALIDCALL;
    if (fullscreenMode &&
        (fullscreenMode->Size != sizeof(D3DDISPLAYMODEEX) || fullscreenMode->Width != params->BackBufferWidth ||
         fullscreenMode->Height != params->BackBufferHeight))
        return D3DERR_INVALIDCALL;
    return resetLocked(params, true);
}

HRESULT SoftwareDevice::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                                      IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    ScopedLock hold(lock_);
    if (swapChain != 0 || backBuffer >= backBuffers_.size() || type != D3DBACKBUFFER_TYPE_MONO)
        return D3DERR_INVALIDCALL;
    backBuffers_[backBuffer]->AddRef();
    *surface = backBuffers_[backBuffer];
    return D3D_OK;
}

// ---- resources ----------------------------------------------------------------------------

bool SoftwareDevice::formatAllows(D3DFORMAT format, uint32_t use) const {
    return (adapter_->formatUses(format) & use) == use;
}

HRESULT SoftwareDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                      IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (sharedHandle || width == 0 || height == 0 || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    if (ex_ && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    if (usage & ~(D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC | D3DUSAGE_AUTOGENMIPMAP | D3DUSAGE_WRITEONLY))
        return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_DYNAMIC) && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    D3DCAPS9 caps = adapter_->caps();
    if (pool != D3DPOOL_SCRATCH && (width > caps.MaxTextureWidth || height > caps.MaxTextureHeight))
        return D3DERR_INVALIDCALL;
    bool pow2 = std::has_single_bit(width) && std::has_single_bit(height);
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) && !(caps.TextureCaps & D3DPTEXTURECAPS_NONPOW2CONDITIONAL) &&
        !pow2 && pool != D3DPOOL_SCRATCH)
        return D3DERR_INVALIDCALL;
    if ((caps.TextureCaps & D3DPTEXTURECAPS_SQUAREONLY) && width != height) return D3DERR_INVALIDCALL;
    uint32_t use = kUseTexture | ((usage & D3DUSAGE_RENDERTARGET) ? uint32_t(kUseRenderTarget) : 0u);
    if (!formatAllows(format, use)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    HRESULT hr = D3D_OK;
    *texture = SoftwareTexture::create(this, width, height, levels, usage, format, pool, &hr);
    return hr;
}

HRESULT SoftwareDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                           IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle || length == 0 || pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if (ex_ && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    if (fvf != 0) {
        VertexLayout layout = vertexLayout(fvf);
        if (!layout.valid || length < layout.size) return D3DERR_INVALIDCALL;
    }
    ScopedLock hold(lock_);
    HRESULT hr = D3D_OK;
    *buffer = SoftwareVertexBuffer::create(this, length, usage, fvf, pool, &hr);
    return hr;
}

HRESULT SoftwareDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                          IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle || pool > D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if (ex_ && pool == D3DPOOL_MANAGED) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    if (length < (format == D3DFMT_INDEX16 ? 2u : 4u)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    HRESULT hr = D3D_OK;
    *buffer = SoftwareIndexBuffer::create(this, length, usage, format, pool, &hr);
    return hr;
}

HRESULT SoftwareDevice::createSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, DWORD usage,
                                      bool lockable, uint32_t use, IDirect3DSurface9** out) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384) return D3DERR_INVALIDCALL;
    if (!formatAllows(format, use)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    D3DSURFACE_DESC desc{format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0, width, height};
    SoftwareSurface* s = SoftwareSurface::create(this, desc, lockable, false);
    if (!s) return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
    *out = s;
    return D3D_OK;
}

HRESULT SoftwareDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                           DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                           HANDLE* sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || multiSample != D3DMULTISAMPLE_NONE || multiSampleQuality != 0) return D3DERR_INVALIDCALL;
    return createSurface(width, height, format, D3DPOOL_DEFAULT, D3DUSAGE_RENDERTARGET, lockable != FALSE,
                         kUseRenderTarget, surface);
}

HRESULT SoftwareDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format,
                                                  D3DMULTISAMPLE_TYPE multiSample, DWORD multiSampleQuality, BOOL,
                                                  IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || multiSample != D3DMULTISAMPLE_NONE || multiSampleQuality != 0) return D3DERR_INVALIDCALL;
    return createSurface(width, height, format, D3DPOOL_DEFAULT, D3DUSAGE_DEPTHSTENCIL, false, kUseDepthStencil,
                         surface);
}

HRESULT SoftwareDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                                    IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (sharedHandle || pool == D3DPOOL_MANAGED || pool > D3DPOOL_SCRATCH) return D3DERR_INVALIDCALL;
    return createSurface(width, height, format, pool, 0, true, kUseSurface, surface);
}

// ---- copies -------------------------------------------------------------------------------

HRESULT SoftwareDevice::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                      const POINT* destPoint) {
    SoftwareSurface* s = softwareSurface(source);
    SoftwareSurface* d = softwareSurface(dest);
    ScopedLock hold(lock_);
    if (!s || !d || s->device() != this || d->device() != this) return D3DERR_INVALIDCALL;
    if (s->desc().Pool != D3DPOOL_SYSTEMMEM || d->desc().Pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if (s->format() != d->format() || d->isDepthStencil() || s->isLocked() || d->isLocked()) return D3DERR_INVALIDCALL;
    RECT r = sourceRect ? *sourceRect : RECT{0, 0, LONG(s->width()), LONG(s->height())};
    if (!rectInside(r, s->width(), s->height())) return D3DERR_INVALIDCALL;
    POINT p = destPoint ? *destPoint : POINT{0, 0};
    RECT target{p.x, p.y, p.x + rectWidth(r), p.y + rectHeight(r)};
    if (p.x < 0 || p.y < 0 || !rectInside(target, d->width(), d->height())) return D3DERR_INVALIDCALL;
    copyRect(*s, r, *d, p.x, p.y);
    if (SoftwareTexture* t = d->container(); t && t->level(0) == d && (t->usage() & D3DUSAGE_AUTOGENMIPMAP))
        t->regenerateMips();
    return D3D_OK;
}

HRESULT SoftwareDevice::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) {
    SoftwareTexture* s = softwareTexture(source);
    SoftwareTexture* d = softwareTexture(dest);
    ScopedLock hold(lock_);
    if (!s || !d || s->device() != this || d->device() != this) return D3DERR_INVALIDCALL;
    if (s->pool() != D3DPOOL_SYSTEMMEM || d->pool() != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if (s->level(0)->format() != d->level(0)->format()) return D3DERR_INVALIDCALL;
    bool autoGen = (d->usage() & D3DUSAGE_AUTOGENMIPMAP) != 0;
    UINT count = autoGen ? 1 : d->GetLevelCount();
    if (s->GetLevelCount() < count) return D3DERR_INVALIDCALL;
    UINT skip = autoGen ? 0 : s->GetLevelCount() - count;
    for (UINT i = 0; i < count; ++i) {
        SoftwareSurface* from = s->level(i + skip);
        SoftwareSurface* to = d->level(i);
        if (from->width() != to->width() || from->height() != to->height() || from->isLocked())
            return D3DERR_INVALIDCALL;
    }
    for (UINT i = 0; i < count; ++i) {
        SoftwareSurface* from = s->level(i + skip);
        copyRect(*from, RECT{0, 0, LONG(from->width()), LONG(from->height())}, *d->level(i), 0, 0);
    }
    if (autoGen) d->regenerateMips();
    return D3D_OK;
}

HRESULT SoftwareDevice::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) {
    SoftwareSurface* s = softwareSurface(renderTarget);
    SoftwareSurface* d = softwareSurface(dest);
    ScopedLock hold(lock_);
    if (!s || !d || (s->device() != this && s->device()) || d->device() != this) return D3DERR_INVALIDCALL;
    if (!s->isRenderTarget() || d->desc().Pool != D3DPOOL_SYSTEMMEM) return D3DERR_INVALIDCALL;
    if (s->format() != d->format() || s->width() != d->width() || s->height() != d->height() || d->isLocked())
        return D3DERR_INVALIDCALL;
    copyRect(*s, RECT{0, 0, LONG(s->width()), LONG(s->height())}, *d, 0, 0);
    return D3D_OK;
}

HRESULT SoftwareDevice::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                    const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    SoftwareSurface* s = softwareSurface(source);
    SoftwareSurface* d = softwareSurface(dest);
    ScopedLock hold(lock_);
    if (!s || !d || s->device() != this || d->device() != this) return D3DERR_INVALIDCALL;
    if (s->desc().Pool != D3DPOOL_DEFAULT || d->desc().Pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    if (s->isDepthStencil() || d->isDepthStencil() || s->isLocked() || d->isLocked()) return D3DERR_INVALIDCALL;
    // Textures take part only as render targets; plain surfaces only as sources, or as the
    // destination of an unscaled copy between plain surfaces.
    if (s->container() && !s->isRenderTarget()) return D3DERR_INVALIDCALL;
    if (d->container() && !d->isRenderTarget()) return D3DERR_INVALIDCALL;
    RECT sr = sourceRect ? *sourceRect : RECT{0, 0, LONG(s->width()), LONG(s->height())};
    RECT dr = destRect ? *destRect : RECT{0, 0, LONG(d->width()), LONG(d->height())};
    if (!rectInside(sr, s->width(), s->height()) || !rectInside(dr, d->width(), d->height())) return D3DERR_INVALIDCALL;
    if (s == d && overlap(sr, dr)) return D3DERR_INVALIDCALL;
    bool scaled = rectWidth(sr) != rectWidth(dr) || rectHeight(sr) != rectHeight(dr);
    if (!d->isRenderTarget() && (s->isRenderTarget() || scaled || s->format() != d->format()))
        return D3DERR_INVALIDCALL;
    if (filter != D3DTEXF_NONE && filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
    DWORD caps = adapter_->caps().StretchRectFilterCaps;
    bool linear = filter == D3DTEXF_LINEAR;
    bool shrinks = rectWidth(dr) < rectWidth(sr) || rectHeight(dr) < rectHeight(sr);
    bool grows = rectWidth(dr) > rectWidth(sr) || rectHeight(dr) > rectHeight(sr);
    DWORD minCap = linear ? D3DPTFILTERCAPS_MINFLINEAR : D3DPTFILTERCAPS_MINFPOINT;
    DWORD magCap = linear ? D3DPTFILTERCAPS_MAGFLINEAR : D3DPTFILTERCAPS_MAGFPOINT;
    if ((shrinks && !(caps & minCap)) || (grows && !(caps & magCap))) return D3DERR_INVALIDCALL;
    stretchSurface(*s, sr, *d, dr, linear);
    return D3D_OK;
}

HRESULT SoftwareDevice::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
    SoftwareSurface* d = softwareSurface(surface);
    ScopedLock hold(lock_);
    if (!d || d->device() != this || d->desc().Pool != D3DPOOL_DEFAULT || d->isDepthStencil() || d->isLocked())
        return D3DERR_INVALIDCALL;
    if (d->container() && !d->isRenderTarget()) return D3DERR_INVALIDCALL;
    RECT r = rect ? *rect : RECT{0, 0, LONG(d->width()), LONG(d->height())};
    if (!rectInside(r, d->width(), d->height())) return D3DERR_INVALIDCALL;
    fillRect(*d, r, color);
    return D3D_OK;
}

// ---- targets and states -----------------------------------------------------------------

HRESULT SoftwareDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    SoftwareSurface* s = softwareSurface(surface);
    ScopedLock hold(lock_);
    if (index != 0 || !s || s->device() != this || !s->isRenderTarget()) return D3DERR_INVALIDCALL;
    s->AddRef();
    if (renderTarget_) renderTarget_->Release();
    renderTarget_ = s;
    viewport_ = fullViewport();
    scissor_ = RECT{0, 0, LONG(s->width()), LONG(s->height())};
    return D3D_OK;
}

HRESULT SoftwareDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    ScopedLock hold(lock_);
    if (index != 0) return D3DERR_INVALIDCALL;
    if (!renderTarget_) return D3DERR_NOTFOUND;
    renderTarget_->AddRef();
    *surface = renderTarget_;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    SoftwareSurface* s = softwareSurface(surface);
    ScopedLock hold(lock_);
    if (surface && (!s || s->device() != this || !s->isDepthStencil())) return D3DERR_INVALIDCALL;
    if (s) s->AddRef();
    if (depthStencil_) depthStencil_->Release();
    depthStencil_ = s;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    ScopedLock hold(lock_);
    if (!depthStencil_) return D3DERR_NOTFOUND;
    depthStencil_->AddRef();
    *surface = depthStencil_;
    return D3D_OK;
}

HRESULT SoftwareDevice::BeginScene() {
    ScopedLock hold(lock_);
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT SoftwareDevice::EndScene() {
    ScopedLock hold(lock_);
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    return D3D_OK;
}

HRESULT SoftwareDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD) {
    ScopedLock hold(lock_);
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if (flags == 0 || (flags & ~(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL))) return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil_) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_STENCIL) && depthStencil_->format() != D3DFMT_D24S8) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) return D3DERR_INVALIDCALL;
    if (!renderTarget_) return D3DERR_INVALIDCALL;
    RECT area{LONG(viewport_.X), LONG(viewport_.Y), LONG(viewport_.X + viewport_.Width),
              LONG(viewport_.Y + viewport_.Height)};
    if (renderStates_[D3DRS_SCISSORTESTENABLE]) {
        area.left = std::max(area.left, scissor_.left);
        area.top = std::max(area.top, scissor_.top);
        area.right = std::min(area.right, scissor_.right);
        area.bottom = std::min(area.bottom, scissor_.bottom);
    }
    std::vector<RECT> regions;
    if (count == 0) {
        regions.push_back(area);
    } else {
        for (DWORD i = 0; i < count; ++i)
            regions.push_back(RECT{std::max(area.left, rects[i].x1), std::max(area.top, rects[i].y1),
                                   std::min(area.right, rects[i].x2), std::min(area.bottom, rects[i].y2)});
    }
    uint32_t pixel = renderTarget_->format() == D3DFMT_X8R8G8B8 ? (color | 0xFF000000u) : color;
    for (RECT r : regions) {
        r.right = std::min<LONG>(r.right, LONG(renderTarget_->width()));
        r.bottom = std::min<LONG>(r.bottom, LONG(renderTarget_->height()));
        if (r.left >= r.right || r.top >= r.bottom) continue;
        if (flags & D3DCLEAR_TARGET) fillRect(*renderTarget_, r, pixel);
        if (flags & D3DCLEAR_ZBUFFER) {
            uint32_t value = quantizeDepth(z, depthMaximum(depthStencil_->format()));
            bool whole = r.left == 0 && r.top == 0 && uint32_t(r.right) >= depthStencil_->width() &&
                         uint32_t(r.bottom) >= depthStencil_->height();
            uint32_t old = 0;
            bool wasUniform = depthStencil_->depthUniform(&old);
            // Clearing to the value the whole buffer already holds changes nothing.
            if (wasUniform && old == value) continue;
            if (whole)
                depthStencil_->setDepthUniform(true, value);
            else
                depthStencil_->setDepthUniform(false);
            LONG right = std::min<LONG>(r.right, LONG(depthStencil_->width()));
            LONG bottom = std::min<LONG>(r.bottom, LONG(depthStencil_->height()));
            for (LONG y = r.top; y < bottom; ++y) {
                uint32_t* row = depthStencil_->depthPixels() + size_t(y) * (depthStencil_->pitch() / 4);
                if (r.left < right) std::fill(row + r.left, row + right, value);
            }
        }
    }
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    if (state != D3DTS_VIEW && state != D3DTS_PROJECTION && state != D3DTS_WORLD &&
        !(state >= D3DTS_TEXTURE0 && state < D3DTS_TEXTURE0 + 8))
        return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    transforms_[state] = *matrix;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    if (state != D3DTS_VIEW && state != D3DTS_PROJECTION && state != D3DTS_WORLD &&
        !(state >= D3DTS_TEXTURE0 && state < D3DTS_TEXTURE0 + 8))
        return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    auto it = transforms_.find(state);
    *matrix = it == transforms_.end() ? identity() : it->second;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetViewport(const D3DVIEWPORT9* viewport) {
    ScopedLock hold(lock_);
    if (!viewport || !renderTarget_) return D3DERR_INVALIDCALL;
    const D3DVIEWPORT9& v = *viewport;
    if (v.Width == 0 || v.Height == 0 || uint64_t(v.X) + v.Width > renderTarget_->width() ||
        uint64_t(v.Y) + v.Height > renderTarget_->height())
        return D3DERR_INVALIDCALL;
    if (!(v.MinZ >= 0.0f && v.MinZ <= 1.0f && v.MaxZ >= 0.0f && v.MaxZ <= 1.0f)) return D3DERR_INVALIDCALL;
    viewport_ = v;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetViewport(D3DVIEWPORT9* viewport) {
    if (!viewport) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *viewport = viewport_;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetMaterial(const D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    material_ = *material;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetMaterial(D3DMATERIAL9* material) {
    if (!material) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *material = material_;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    if (!light || light->Type < D3DLIGHT_POINT || light->Type > D3DLIGHT_DIRECTIONAL) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    lights_[index] = *light;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetLight(DWORD index, D3DLIGHT9* light) {
    if (!light) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    auto it = lights_.find(index);
    if (it == lights_.end()) return D3DERR_INVALIDCALL;
    *light = it->second;
    return D3D_OK;
}

HRESULT SoftwareDevice::LightEnable(DWORD index, BOOL enable) {
    ScopedLock hold(lock_);
    if (!lights_.count(index)) {
        // Enabling a light that was never set makes the default white directional light.
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
        light.Direction = D3DVECTOR{0, 0, 1};
        lights_[index] = light;
    }
    lightEnabled_[index] = enable ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetLightEnable(DWORD index, BOOL* enable) {
    if (!enable) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    if (!lights_.count(index)) return D3DERR_INVALIDCALL;
    auto it = lightEnabled_.find(index);
    *enable = it == lightEnabled_.end() ? FALSE : it->second;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    if (!validRenderState(state)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    renderStates_[state] = value;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || !validRenderState(state)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *value = renderStates_[state];
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (stage >= D3D_MAX_TEXTURE_STAGES) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *texture = textures_[stage];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    if (stage >= D3D_MAX_TEXTURE_STAGES) return D3DERR_INVALIDCALL;
    SoftwareTexture* t = softwareTexture(texture);
    ScopedLock hold(lock_);
    if (texture && (!t || t->device() != this || t->pool() == D3DPOOL_SYSTEMMEM || t->pool() == D3DPOOL_SCRATCH))
        return D3DERR_INVALIDCALL;
    if (texture) texture->AddRef();
    if (textures_[stage]) textures_[stage]->Release();
    textures_[stage] = texture;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || stage >= D3D_MAX_TEXTURE_STAGES || !validStageState(type)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *value = stageStates_[stage][type];
    return D3D_OK;
}

HRESULT SoftwareDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= D3D_MAX_TEXTURE_STAGES || !validStageState(type)) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    stageStates_[stage][type] = value;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= D3D_MAX_TEXTURE_STAGES || type < 1 || type >= D3DSAMP_STATE_COUNT)
        return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *value = samplerStates_[sampler][type];
    return D3D_OK;
}

HRESULT SoftwareDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    if (sampler >= D3D_MAX_TEXTURE_STAGES || type < 1 || type >= D3DSAMP_STATE_COUNT) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    samplerStates_[sampler][type] = value;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetScissorRect(const RECT* rect) {
    if (!rect || rect->left > rect->right || rect->top > rect->bottom) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    scissor_ = *rect;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetScissorRect(RECT* rect) {
    if (!rect) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *rect = scissor_;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetFVF(DWORD fvf) {
    ScopedLock hold(lock_);
    fvf_ = fvf;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetFVF(DWORD* fvf) {
    if (!fvf) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *fvf = fvf_;
    return D3D_OK;
}

// No shader can be made on this device, so only "none" can be bound.
HRESULT SoftwareDevice::SetVertexShader(IDirect3DVertexShader9* shader) {
    return shader ? D3DERR_INVALIDCALL : D3D_OK;
}
HRESULT SoftwareDevice::GetVertexShader(IDirect3DVertexShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    return D3D_OK;
}
HRESULT SoftwareDevice::SetPixelShader(IDirect3DPixelShader9* shader) {
    return shader ? D3DERR_INVALIDCALL : D3D_OK;
}
HRESULT SoftwareDevice::GetPixelShader(IDirect3DPixelShader9** shader) {
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes, UINT stride) {
    if (stream != 0) return D3DERR_INVALIDCALL;
    SoftwareVertexBuffer* b = softwareVertexBuffer(buffer);
    ScopedLock hold(lock_);
    if (buffer && (!b || b->device() != this)) return D3DERR_INVALIDCALL;
    if (b) b->AddRef();
    if (stream_) stream_->Release();
    stream_ = b;
    streamOffset_ = b ? offsetInBytes : 0;
    streamStride_ = b ? stride : 0;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offsetInBytes,
                                        UINT* stride) {
    if (stream != 0 || !buffer || !offsetInBytes || !stride) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *buffer = stream_;
    if (stream_) stream_->AddRef();
    *offsetInBytes = streamOffset_;
    *stride = streamStride_;
    return D3D_OK;
}

HRESULT SoftwareDevice::SetIndices(IDirect3DIndexBuffer9* indices) {
    SoftwareIndexBuffer* b = softwareIndexBuffer(indices);
    ScopedLock hold(lock_);
    if (indices && (!b || b->device() != this)) return D3DERR_INVALIDCALL;
    if (b) b->AddRef();
    if (indices_) indices_->Release();
    indices_ = b;
    return D3D_OK;
}

HRESULT SoftwareDevice::GetIndices(IDirect3DIndexBuffer9** indices) {
    if (!indices) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    *indices = indices_;
    if (indices_) indices_->AddRef();
    return D3D_OK;
}

// ---- drawing ------------------------------------------------------------------------------

bool SoftwareDevice::buildDrawState(DrawState* st) {
    if (!renderTarget_) return false;
    const auto& rs = renderStates_;
    st->target = renderTarget_;
    st->zEnable = rs[D3DRS_ZENABLE] != D3DZB_FALSE && depthStencil_ &&
                  depthStencil_->width() >= renderTarget_->width() &&
                  depthStencil_->height() >= renderTarget_->height();
    st->depth = st->zEnable ? depthStencil_ : nullptr;
    st->zWrite = rs[D3DRS_ZWRITEENABLE] != FALSE;
    st->zFunc = rs[D3DRS_ZFUNC];
    st->alphaTest = rs[D3DRS_ALPHATESTENABLE] != FALSE;
    st->alphaFunc = rs[D3DRS_ALPHAFUNC];
    st->alphaRef = rs[D3DRS_ALPHAREF] & 0xFF;
    st->blend = rs[D3DRS_ALPHABLENDENABLE] != FALSE;
    st->srcBlend = rs[D3DRS_SRCBLEND];
    st->destBlend = rs[D3DRS_DESTBLEND];
    st->blendOp = rs[D3DRS_BLENDOP];
    st->separateAlpha = rs[D3DRS_SEPARATEALPHABLENDENABLE] != FALSE;
    st->srcBlendAlpha = rs[D3DRS_SRCBLENDALPHA];
    st->destBlendAlpha = rs[D3DRS_DESTBLENDALPHA];
    st->blendOpAlpha = rs[D3DRS_BLENDOPALPHA];
    st->blendFactor = rs[D3DRS_BLENDFACTOR];
    st->colorWrite = rs[D3DRS_COLORWRITEENABLE] & 0xF;
    st->cull = rs[D3DRS_CULLMODE];
    st->shadeMode = rs[D3DRS_SHADEMODE];
    st->lastPixel = rs[D3DRS_LASTPIXEL] != FALSE;
    st->textureFactor = rs[D3DRS_TEXTUREFACTOR];
    RECT clip{LONG(viewport_.X), LONG(viewport_.Y), LONG(viewport_.X + viewport_.Width),
              LONG(viewport_.Y + viewport_.Height)};
    if (rs[D3DRS_SCISSORTESTENABLE]) {
        clip.left = std::max(clip.left, scissor_.left);
        clip.top = std::max(clip.top, scissor_.top);
        clip.right = std::min(clip.right, scissor_.right);
        clip.bottom = std::min(clip.bottom, scissor_.bottom);
    }
    clip.right = std::min<LONG>(clip.right, LONG(renderTarget_->width()));
    clip.bottom = std::min<LONG>(clip.bottom, LONG(renderTarget_->height()));
    st->clip = clip;
    st->stageCount = 0;
    for (DWORD s = 0; s < D3D_MAX_TEXTURE_STAGES; ++s) {
        const auto& t = stageStates_[s];
        if (t[D3DTSS_COLOROP] == D3DTOP_DISABLE) break;
        st->stageCount = static_cast<int>(s + 1);
        st->stages[s] =
            StageState{t[D3DTSS_COLOROP],       t[D3DTSS_COLORARG0], t[D3DTSS_COLORARG1], t[D3DTSS_COLORARG2],
                       t[D3DTSS_ALPHAOP],       t[D3DTSS_ALPHAARG0], t[D3DTSS_ALPHAARG1], t[D3DTSS_ALPHAARG2],
                       t[D3DTSS_TEXCOORDINDEX], t[D3DTSS_RESULTARG], t[D3DTSS_CONSTANT]};
        const auto& m = samplerStates_[s];
        st->samplers[s] = SamplerState{
            m[D3DSAMP_ADDRESSU],  m[D3DSAMP_ADDRESSV],  m[D3DSAMP_BORDERCOLOR], m[D3DSAMP_MAGFILTER],
            m[D3DSAMP_MINFILTER], m[D3DSAMP_MIPFILTER], m[D3DSAMP_MAXMIPLEVEL], bitsFloat(m[D3DSAMP_MIPMAPLODBIAS])};
        st->textures[s] = softwareTexture(textures_[s]);
        if (st->textures[s] && st->textures[s]->level(0)->isLocked()) st->textures[s] = nullptr;
    }
    return clip.left < clip.right && clip.top < clip.bottom;
}

HRESULT SoftwareDevice::draw(D3DPRIMITIVETYPE type, UINT count, const uint8_t* vertices, UINT vertexBytes, UINT stride,
                             const uint8_t* indices, UINT indexBytes, D3DFORMAT indexFormat, INT baseVertex,
                             UINT start) {
    if (!inScene_ || count == 0 || type < D3DPT_POINTLIST || type > D3DPT_TRIANGLEFAN) return D3DERR_INVALIDCALL;
    if (count > adapter_->caps().MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    VertexLayout layout = vertexLayout(fvf_);
    if (!layout.valid || stride < layout.size || !renderTarget_) return D3DERR_INVALIDCALL;
    uint64_t needed;
    switch (type) {
        case D3DPT_POINTLIST:
            needed = count;
            break;
        case D3DPT_LINELIST:
            needed = uint64_t(count) * 2;
            break;
        case D3DPT_LINESTRIP:
            needed = uint64_t(count) + 1;
            break;
        case D3DPT_TRIANGLELIST:
            needed = uint64_t(count) * 3;
            break;
        default:
            needed = uint64_t(count) + 2;
            break;
    }
    uint64_t vertexCount = vertexBytes >= layout.size ? (uint64_t(vertexBytes) - layout.size) / stride + 1 : 0;
    uint32_t indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    if (indices) {
        if (uint64_t(start) + needed > indexBytes / indexSize) return D3DERR_INVALIDCALL;
    } else if (uint64_t(start) + needed > vertexCount) {
        return D3DERR_INVALIDCALL;
    }
    // Every referenced vertex must lie in the buffer.
    auto vertexIndex = [&](uint64_t n, int64_t* out) {
        int64_t v;
        if (indices) {
            uint64_t at = (start + n) * indexSize;
            uint32_t raw = 0;
            std::memcpy(&raw, indices + at, indexSize);
            v = int64_t(baseVertex) + raw;
        } else {
            v = int64_t(start) + int64_t(n);
        }
        *out = v;
        return v >= 0 && uint64_t(v) < vertexCount;
    };
    std::vector<int64_t> order(needed);
    for (uint64_t n = 0; n < needed; ++n)
        if (!vertexIndex(n, &order[n])) return D3DERR_INVALIDCALL;

    // A lost plain-9 device accepts drawing but shows nothing.
    if (!ex_ && condition() != DeviceCondition::Ok && condition() != DeviceCondition::Occluded) return D3D_OK;

    DrawState state;
    if (!buildDrawState(&state)) return D3D_OK;
    D3DMATRIX wvp = identity();
    if (!layout.transformed) {
        auto get = [&](DWORD s) {
            auto it = transforms_.find(s);
            return it == transforms_.end() ? identity() : it->second;
        };
        wvp = multiply(multiply(get(D3DTS_WORLD), get(D3DTS_VIEW)), get(D3DTS_PROJECTION));
    }
    auto fetch = [&](int64_t index, RasterVertex* v) {
        *v = decodeVertex(layout, vertices + size_t(index) * stride);
        if (layout.transformed) return true;
        float in[4] = {v->x, v->y, v->z, 1.0f}, c[4];
        for (int j = 0; j < 4; ++j)
            c[j] = in[0] * wvp.m[0][j] + in[1] * wvp.m[1][j] + in[2] * wvp.m[2][j] + wvp.m[3][j];
        // Nothing is clipped against the near plane: primitives behind the eye are dropped.
        if (!(c[3] > 0.0f)) return false;
        v->x = float(viewport_.X) + (1.0f + c[0] / c[3]) * float(viewport_.Width) * 0.5f;
        v->y = float(viewport_.Y) + (1.0f - c[1] / c[3]) * float(viewport_.Height) * 0.5f;
        v->z = viewport_.MinZ + c[2] / c[3] * (viewport_.MaxZ - viewport_.MinZ);
        v->rhw = 1.0f / c[3];
        return true;
    };

    rasterizer_.begin(state);
    RasterVertex a, b, c;
    for (UINT i = 0; i < count; ++i) {
        switch (type) {
            case D3DPT_POINTLIST:
                if (fetch(order[i], &a)) rasterizer_.point(a);
                break;
            case D3DPT_LINELIST:
            case D3DPT_LINESTRIP: {
                size_t k = type == D3DPT_LINELIST ? size_t(i) * 2 : i;
                if (fetch(order[k], &a) && fetch(order[k + 1], &b)) rasterizer_.line(a, b);
                break;
            }
            case D3DPT_TRIANGLELIST:
                if (fetch(order[size_t(i) * 3], &a) && fetch(order[size_t(i) * 3 + 1], &b) &&
                    fetch(order[size_t(i) * 3 + 2], &c))
                    rasterizer_.triangle(a, b, c);
                break;
            case D3DPT_TRIANGLESTRIP:
                // Odd triangles swap two vertices to keep the winding of the strip.
                if (fetch(order[i], &a) && fetch(order[i + 1], &b) && fetch(order[i + 2], &c)) {
                    if (i % 2)
                        rasterizer_.triangle(b, a, c);
                    else
                        rasterizer_.triangle(a, b, c);
                }
                break;
            default:
                if (fetch(order[0], &a) && fetch(order[i + 1], &b) && fetch(order[i + 2], &c))
                    rasterizer_.triangle(a, b, c);
                break;
        }
    }
    rasterizer_.end();
    return D3D_OK;
}

HRESULT SoftwareDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    ScopedLock hold(lock_);
    if (!stream_) return D3DERR_INVALIDCALL;
    if (streamOffset_ > stream_->length()) return D3DERR_INVALIDCALL;
    return draw(type, primitiveCount, stream_->data() + streamOffset_, stream_->length() - streamOffset_, streamStride_,
                nullptr, 0, D3DFMT_UNKNOWN, 0, startVertex);
}

HRESULT SoftwareDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT, UINT, UINT startIndex,
                                             UINT primitiveCount) {
    ScopedLock hold(lock_);
    if (!stream_ || !indices_) return D3DERR_INVALIDCALL;
    if (streamOffset_ > stream_->length()) return D3DERR_INVALIDCALL;
    return draw(type, primitiveCount, stream_->data() + streamOffset_, stream_->length() - streamOffset_, streamStride_,
                indices_->data(), indices_->length(), indices_->format(), baseVertexIndex, startIndex);
}

HRESULT SoftwareDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                        UINT vertexStride) {
    ScopedLock hold(lock_);
    if (!vertexData || primitiveCount == 0) return D3DERR_INVALIDCALL;
    uint64_t needed;
    switch (type) {
        case D3DPT_POINTLIST:
            needed = primitiveCount;
            break;
        case D3DPT_LINELIST:
            needed = uint64_t(primitiveCount) * 2;
            break;
        case D3DPT_LINESTRIP:
            needed = uint64_t(primitiveCount) + 1;
            break;
        case D3DPT_TRIANGLELIST:
            needed = uint64_t(primitiveCount) * 3;
            break;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            needed = uint64_t(primitiveCount) + 2;
            break;
        default:
            return D3DERR_INVALIDCALL;
    }
    uint64_t bytes = needed * vertexStride;
    if (bytes > 0xFFFFFFFFu) return D3DERR_INVALIDCALL;
    // As on the platform, the stream source is unset afterwards.
    if (stream_) std::exchange(stream_, nullptr)->Release();
    streamOffset_ = streamStride_ = 0;
    return draw(type, primitiveCount, static_cast<const uint8_t*>(vertexData), static_cast<UINT>(bytes), vertexStride,
                nullptr, 0, D3DFMT_UNKNOWN, 0, 0);
}

SoftwareDevice* softwareDevice(IDirect3DDevice9* device) {
    return dynamic_cast<SoftwareDevice*>(device);
}

}  // namespace gfx

#include "platform/gfx/SoftwareSurface.h"

#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareFormats.h"
#include "platform/gfx/SoftwareTexture.h"

namespace gfx {

SoftwareSurface::SoftwareSurface(SoftwareDevice* device, SoftwareTexture* container, const D3DSURFACE_DESC& desc,
                                 bool lockable, bool strongLink)
    : link_(device, desc.Pool, strongLink), container_(container), desc_(desc), lockable_(lockable) {}

SoftwareSurface::~SoftwareSurface() = default;

bool SoftwareSurface::allocate() {
    pitch_ = surfacePitch(desc_.Format, desc_.Width);
    bits_ = allocateBytes(uint64_t(pitch_) * desc_.Height);
    return bits_ != nullptr;
}

SoftwareSurface* SoftwareSurface::create(SoftwareDevice* device, const D3DSURFACE_DESC& desc, bool lockable,
                                         bool implicit) {
    auto* surface = new (std::nothrow) SoftwareSurface(device, nullptr, desc, lockable, !implicit);
    if (!surface) return nullptr;
    if (!surface->allocate()) {
        delete surface;
        return nullptr;
    }
    return surface;
}

std::unique_ptr<SoftwareSurface> SoftwareSurface::createLevel(SoftwareTexture* texture, SoftwareDevice* device,
                                                              const D3DSURFACE_DESC& desc, bool lockable) {
    std::unique_ptr<SoftwareSurface> surface(new (std::nothrow)
                                                 SoftwareSurface(device, texture, desc, lockable, false));
    if (!surface || !surface->allocate()) return nullptr;
    return surface;
}

HRESULT SoftwareSurface::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DResource9::iid || riid == IDirect3DSurface9::iid) {
        *ppv = static_cast<IDirect3DSurface9*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareSurface::AddRef() {
    if (container_) return container_->AddRef();
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG SoftwareSurface::Release() {
    if (container_) return container_->Release();
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT SoftwareSurface::GetContainer(REFIID riid, void** container) {
    if (!container) return D3DERR_INVALIDCALL;
    *container = nullptr;
    if (container_) return container_->QueryInterface(riid, container);
    if (!link_.device()) return E_NOINTERFACE;
    return link_.device()->QueryInterface(riid, container);
}

HRESULT SoftwareSurface::GetDesc(D3DSURFACE_DESC* desc) {
    if (!desc) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

bool SoftwareSurface::isLocked() const {
    std::lock_guard<std::mutex> hold(lockMutex_);
    return locked_;
}

HRESULT SoftwareSurface::LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD) {
    if (!locked) return D3DERR_INVALIDCALL;
    locked->pBits = nullptr;
    locked->Pitch = 0;
    if (!lockable_ || isDepthStencil()) return D3DERR_INVALIDCALL;
    LONG left = 0, top = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->left >= rect->right || rect->top >= rect->bottom ||
            uint32_t(rect->right) > desc_.Width || uint32_t(rect->bottom) > desc_.Height)
            return D3DERR_INVALIDCALL;
        left = rect->left;
        top = rect->top;
    }
    std::lock_guard<std::mutex> hold(lockMutex_);
    if (locked_) return D3DERR_INVALIDCALL;
    locked_ = true;
    locked->Pitch = static_cast<INT>(pitch_);
    locked->pBits = bits_.get() + size_t(top) * pitch_ + size_t(left) * formatInfo(desc_.Format).bytesPerPixel;
    return D3D_OK;
}

HRESULT SoftwareSurface::UnlockRect() {
    std::lock_guard<std::mutex> hold(lockMutex_);
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    version_.fetch_add(1, std::memory_order_relaxed);
    return D3D_OK;
}

const uint32_t* SoftwareSurface::argbPixels(uint32_t* pitchInPixels) {
    if (desc_.Format == D3DFMT_A8R8G8B8 || desc_.Format == D3DFMT_X8R8G8B8) {
        *pitchInPixels = pitch_ / 4;
        return reinterpret_cast<const uint32_t*>(bits_.get());
    }
    uint64_t version = version_.load(std::memory_order_relaxed);
    if (argbCopyVersion_ != version || argbCopy_.empty()) {
        argbCopy_.resize(size_t(desc_.Width) * desc_.Height);
        for (uint32_t y = 0; y < desc_.Height; ++y)
            rowToArgb(bits_.get() + size_t(y) * pitch_, desc_.Format, argbCopy_.data() + size_t(y) * desc_.Width,
                      desc_.Width);
        argbCopyVersion_ = version;
    }
    *pitchInPixels = desc_.Width;
    return argbCopy_.data();
}

SoftwareSurface* softwareSurface(IDirect3DSurface9* surface) {
    return dynamic_cast<SoftwareSurface*>(surface);
}

}  // namespace gfx

#include "platform/gfx/SoftwareTexture.h"

#include <algorithm>

#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SurfaceCopy.h"

namespace gfx {

SoftwareTexture::SoftwareTexture(SoftwareDevice* device, DWORD usage, D3DPOOL pool)
    : link_(device, pool, true), usage_(usage) {}

SoftwareTexture::~SoftwareTexture() = default;

SoftwareTexture* SoftwareTexture::create(SoftwareDevice* device, UINT width, UINT height, UINT levels, DWORD usage,
                                         D3DFORMAT format, D3DPOOL pool, HRESULT* result) {
    UINT full = 1;
    for (UINT w = width, h = height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) ++full;
    if (usage & D3DUSAGE_AUTOGENMIPMAP)
        levels = (levels == 0 || levels == full) ? full : 0;
    else if (levels == 0 || levels > full)
        levels = levels == 0 ? full : 0;
    if (levels == 0) {
        *result = D3DERR_INVALIDCALL;
        return nullptr;
    }
    auto* texture = new (std::nothrow) SoftwareTexture(device, usage, pool);
    if (!texture) {
        *result = E_OUTOFMEMORY;
        return nullptr;
    }
    // Default-pool textures are reached by the CPU only when dynamic.
    bool lockable = pool != D3DPOOL_DEFAULT || (usage & D3DUSAGE_DYNAMIC);
    UINT w = width, h = height;
    for (UINT i = 0; i < levels; ++i) {
        D3DSURFACE_DESC desc{format, D3DRTYPE_SURFACE, usage, pool, D3DMULTISAMPLE_NONE, 0, w, h};
        auto level = SoftwareSurface::createLevel(texture, device, desc, lockable);
        if (!level) {
            delete texture;
            *result = pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY;
            return nullptr;
        }
        texture->levels_.push_back(std::move(level));
        w = std::max(1u, w / 2);
        h = std::max(1u, h / 2);
    }
    *result = D3D_OK;
    return texture;
}

HRESULT SoftwareTexture::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DResource9::iid || riid == IDirect3DBaseTexture9::iid ||
        riid == IDirect3DTexture9::iid) {
        *ppv = static_cast<IDirect3DTexture9*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG SoftwareTexture::AddRef() {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG SoftwareTexture::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

DWORD SoftwareTexture::SetLOD(DWORD lod) {
    // Only managed textures have a level of detail.
    if (link_.pool() != D3DPOOL_MANAGED) return 0;
    DWORD old = lod_;
    lod_ = std::min<DWORD>(lod, GetLevelCount() - 1);
    return old;
}

HRESULT SoftwareTexture::SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) {
    if (filter != D3DTEXF_POINT && filter != D3DTEXF_LINEAR) return D3DERR_INVALIDCALL;
    autoGenFilter_ = filter;
    return D3D_OK;
}

void SoftwareTexture::GenerateMipSubLevels() {
    if (!(usage_ & D3DUSAGE_AUTOGENMIPMAP)) return;
    ScopedLock hold(link_.device()->lock());
    regenerateMips();
}

void SoftwareTexture::regenerateMips() {
    for (size_t i = 1; i < levels_.size(); ++i) {
        SoftwareSurface* from = levels_[i - 1].get();
        SoftwareSurface* to = levels_[i].get();
        RECT s{0, 0, LONG(from->width()), LONG(from->height())}, d{0, 0, LONG(to->width()), LONG(to->height())};
        stretchSurface(*from, s, *to, d, autoGenFilter_ == D3DTEXF_LINEAR);
    }
}

HRESULT SoftwareTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    return levels_[level]->GetDesc(desc);
}

HRESULT SoftwareTexture::GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) {
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    AddRef();
    *surface = levels_[level].get();
    return D3D_OK;
}

HRESULT SoftwareTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    return levels_[level]->LockRect(locked, rect, flags);
}

HRESULT SoftwareTexture::UnlockRect(UINT level) {
    if (level >= levels_.size()) return D3DERR_INVALIDCALL;
    HRESULT hr = levels_[level]->UnlockRect();
    if (SUCCEEDED(hr) && level == 0 && (usage_ & D3DUSAGE_AUTOGENMIPMAP)) {
        // The device may be sampling the lower levels.
        ScopedLock hold(link_.device()->lock());
        regenerateMips();
    }
    return hr;
}

HRESULT SoftwareTexture::AddDirtyRect(const RECT*) {
    return D3D_OK;
}

SoftwareTexture* softwareTexture(IDirect3DBaseTexture9* texture) {
    return dynamic_cast<SoftwareTexture*>(texture);
}

}  // namespace gfx

#pragma once
// A 2-D texture of the software device: a chain of level surfaces in one pool.
#include <atomic>
#include <memory>
#include <vector>

#include "framework/d3d9/IDirect3DResource9.h"
#include "platform/gfx/SoftwareResource.h"
#include "platform/gfx/SoftwareSurface.h"

namespace gfx {

class SoftwareTexture : public IDirect3DTexture9 {
public:
    // One reference for the caller; null with *result set when it cannot be made.
    static SoftwareTexture* create(SoftwareDevice* device, UINT width, UINT height, UINT levels, DWORD usage,
                                   D3DFORMAT format, D3DPOOL pool, HRESULT* result);
    ~SoftwareTexture() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override { return link_.getDevice(device); }
    DWORD SetPriority(DWORD priority) override { return link_.setPriority(priority); }
    DWORD GetPriority() override { return link_.priority(); }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }

    DWORD SetLOD(DWORD lod) override;
    DWORD GetLOD() override { return lod_; }
    DWORD GetLevelCount() override { return static_cast<DWORD>(levels_.size()); }
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) override;
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return autoGenFilter_; }
    void GenerateMipSubLevels() override;

    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;
    HRESULT AddDirtyRect(const RECT* dirty) override;

    SoftwareSurface* level(UINT i) const { return i < levels_.size() ? levels_[i].get() : nullptr; }
    DWORD usage() const { return usage_; }
    D3DPOOL pool() const { return link_.pool(); }
    SoftwareDevice* device() const { return link_.device(); }
    // Rebuilds levels 1.. from level 0 (automatic mip generation, or on request).
    void regenerateMips();

private:
    SoftwareTexture(SoftwareDevice* device, DWORD usage, D3DPOOL pool);

    DeviceLink link_;
    DWORD usage_;
    std::vector<std::unique_ptr<SoftwareSurface>> levels_;
    std::atomic<ULONG> refs_{1};
    DWORD lod_ = 0;
    D3DTEXTUREFILTERTYPE autoGenFilter_ = D3DTEXF_LINEAR;
};

SoftwareTexture* softwareTexture(IDirect3DBaseTexture9* texture);

}  // namespace gfx

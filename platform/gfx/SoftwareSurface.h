#pragma once
// A surface of the software device: stand-alone (offscreen plain, render target, depth
// stencil, back buffer) or one level of a texture, whose reference count is the texture's.
#include <atomic>
#include <mutex>
#include <vector>

#include "framework/d3d9/IDirect3DResource9.h"
#include "platform/gfx/SoftwareResource.h"

namespace gfx {

class SoftwareTexture;

class SoftwareSurface : public IDirect3DSurface9 {
public:
    // Stand-alone surface with one reference for the caller. Null when memory fails.
    // An implicit surface (back buffer, automatic depth) links to its device weakly.
    static SoftwareSurface* create(SoftwareDevice* device, const D3DSURFACE_DESC& desc, bool lockable, bool implicit);
    // Level of a texture; lives and dies with it.
    static std::unique_ptr<SoftwareSurface> createLevel(SoftwareTexture* texture, SoftwareDevice* device,
                                                        const D3DSURFACE_DESC& desc, bool lockable);
    ~SoftwareSurface() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetDevice(IDirect3DDevice9** device) override { return link_.getDevice(device); }
    DWORD SetPriority(DWORD priority) override { return link_.setPriority(priority); }
    DWORD GetPriority() override { return link_.priority(); }
    void PreLoad() override {}
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_SURFACE; }

    HRESULT GetContainer(REFIID riid, void** container) override;
    HRESULT GetDesc(D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect() override;

    // For the device (which serialises its own use).
    const D3DSURFACE_DESC& desc() const { return desc_; }
    uint8_t* bits() { return bits_.get(); }
    const uint8_t* bits() const { return bits_.get(); }
    uint32_t pitch() const { return pitch_; }
    uint32_t width() const { return desc_.Width; }
    uint32_t height() const { return desc_.Height; }
    D3DFORMAT format() const { return desc_.Format; }
    SoftwareDevice* device() const { return link_.device(); }
    SoftwareTexture* container() const { return container_; }
    bool isLocked() const;
    bool isRenderTarget() const { return (desc_.Usage & D3DUSAGE_RENDERTARGET) != 0; }
    bool isDepthStencil() const { return (desc_.Usage & D3DUSAGE_DEPTHSTENCIL) != 0; }
    void detachFromDevice() { link_.detach(); }
    // Called after the device wrote the pixels, so sampling copies are refreshed.
    void touch() { version_.fetch_add(1, std::memory_order_relaxed); }
    // The pixels as A8R8G8B8 rows with this pitch in pixels; the surface itself for 32-bit
    // colour formats (X8R8G8B8 alpha must be forced by the reader), else a converted copy.
    const uint32_t* argbPixels(uint32_t* pitchInPixels);
    uint32_t* depthPixels() { return reinterpret_cast<uint32_t*>(bits_.get()); }
    // Whether every depth value equals one value (after a full clear, until a different
    // value is written), so that a test against it can be decided once per primitive.
    bool depthUniform(uint32_t* value) const {
        *value = uniformDepth_;
        return depthIsUniform_;
    }
    void setDepthUniform(bool uniform, uint32_t value = 0) {
        depthIsUniform_ = uniform;
        uniformDepth_ = value;
    }
    uint32_t refCount() const { return refs_.load(std::memory_order_relaxed); }

private:
    SoftwareSurface(SoftwareDevice* device, SoftwareTexture* container, const D3DSURFACE_DESC& desc, bool lockable,
                    bool strongLink);
    bool allocate();

    DeviceLink link_;
    SoftwareTexture* container_;
    D3DSURFACE_DESC desc_;
    bool lockable_;
    uint32_t pitch_ = 0;
    AlignedBytes bits_;
    std::atomic<ULONG> refs_{1};
    mutable std::mutex lockMutex_;
    bool locked_ = false;
    std::atomic<uint64_t> version_{1};
    bool depthIsUniform_ = true;  // fresh memory is all zero
    uint32_t uniformDepth_ = 0;
    std::vector<uint32_t> argbCopy_;
    uint64_t argbCopyVersion_ = 0;
};

// The implementation behind a contract surface, when it is one of ours.
SoftwareSurface* softwareSurface(IDirect3DSurface9* surface);

}  // namespace gfx

#pragma once
// The drawing half of the compositor: opens scenes on its target, clears, and draws
// objects (layer textures) with their material states, putting back afterwards every
// state that differed from the render-state baseline.
#include <cstdint>

#include "framework/InterfacePtr.h"
#include "framework/Rect.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9.h"

class DrawBase;

class LayerDrawer {
public:
    // Object kinds answered by the identifier query. Several-subset meshes are not made
    // by this compositor, so only whole drawables are drawn.
    static constexpr uint32_t kSubsetMeshIdentifier = 0x4020054;
    static constexpr uint32_t kDrawableIdentifier = 0x4020053;

    LayerDrawer(DrawBase* owner, IDirect3DDevice9* device, uint32_t logicalWidth, uint32_t logicalHeight);
    LayerDrawer(const LayerDrawer&) = delete;
    LayerDrawer& operator=(const LayerDrawer&) = delete;

    // Where drawing goes (the back buffer, or the presenter's offscreen target).
    HRESULT setTarget(IDirect3DSurface9* target);
    void setLogicalSize(uint32_t width, uint32_t height);

    HRESULT beginScene();
    HRESULT endScene();
    bool isInScene() const { return inScene_; }

    bool clear(const RECT* rect, DWORD flags, D3DCOLOR colour, float z, DWORD stencil);
    // Draws object `primary` of the list with every listed object's texture bound to its
    // stage; elementCount 0 derives the primitive count from what is left after `first`.
    bool drawObjects(RefObject* const* objects, uint32_t count, uint32_t primary, const D3DMATRIX* world,
                     uint32_t first, uint32_t elementCount);

    const D3DVIEWPORT9& viewport() const { return viewport_; }
    DrawBase* owner() const { return owner_; }
    IDirect3DSurface9* target() const { return target_.get(); }

    void releaseDeviceObjects();
    HRESULT rebuildDeviceObjects();

private:
    DrawBase* owner_;
    InterfacePtr<IDirect3DDevice9> device_;
    InterfacePtr<IDirect3DSurface9> target_;
    D3DVIEWPORT9 viewport_{};
    bool inScene_ = false;
};

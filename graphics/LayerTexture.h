#pragma once
// One picture that is drawn as a rectangle (a layer): a default-pool texture, the
// system-memory staging image that is its CPU side, the rectangle's mesh and the
// material. Frames and still images are written into the staging image through an image
// view and uploaded; after a device reset the texture is rebuilt from the staging image.
#include <cstdint>

#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/Rect.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9.h"
#include "graphics/DeviceResource.h"
#include "graphics/Material.h"
#include "graphics/Mesh.h"

class Image;
class TextureFactory;

// The layer vertex as the device reads it: pre-transformed position, diffuse, one
// texture coordinate set (flexible vertex format 0x144).
struct LayerVertex {
    float x, y, z, rhw;
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(LayerVertex) == 28, "layer vertices are 28 bytes");

// Level 0 of a texture made as a render target, with its viewport.
struct RenderTargetView {
    InterfacePtr<IDirect3DSurface9> surface;
    D3DVIEWPORT9 viewport{};
};

class LayerTexture : public RefObject, public DeviceResource {
public:
    static constexpr uint32_t kTextureIdentifier = 0x4020052;
    static constexpr uint32_t kDrawableIdentifier = 0x4020053;
    static constexpr DWORD kVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    // Made by the factory, which keeps it on its list (null factory: not listed).
    LayerTexture(TextureFactory* factory, IDirect3DDevice9* device);

    // levels: 1 one level, 0 automatic mips, 2+ a chain made by stretching.
    bool create(uint32_t width, uint32_t height, D3DFORMAT format, int32_t levels, bool renderTarget);
    // The rectangle: destination in window pixels, source in picture pixels (null: all).
    bool setGeometry(const RECT& dest, const RECT* source, D3DCOLOR colour, float z, float angle);
    bool setCorners(const LayerVertex& topLeft, const LayerVertex& bottomRight, float angle, uint32_t gradientFlags);

    // A view onto the staging image; null while another view is out or without staging.
    InterfacePtr<Image> openImage();
    // Closes the view and uploads the rectangle (null: all).
    bool commitImage(Image* view, const RECT* rect);
    bool fill(D3DCOLOR colour, const RECT* rect);
    // Staging image to texture level 0 (rectangle clipped to the surface; null: all).
    // Refused while a view is out.
    bool upload(const RECT* rect);
    void size(int32_t* width, int32_t* height) const;

    uint32_t surfaceWidth() const { return surfaceWidth_; }
    uint32_t surfaceHeight() const { return surfaceHeight_; }
    D3DFORMAT format() const { return format_; }
    uint32_t levelCount() const { return levels_; }
    bool isImageOpen() const { return imageOpen_; }
    // The device texture (null until made, and while the device is lost).
    IDirect3DTexture9* texture() const { return texture_.get(); }
    IDirect3DSurface9* stagingSurface() const { return staging_.get(); }
    // Only for textures made as render targets.
    const RenderTargetView* renderTarget() const { return renderTarget_.surface ? &renderTarget_ : nullptr; }
    Mesh& mesh() { return mesh_; }
    Material& material() { return material_; }
    // Held by the drawer while it reads the device objects, and by the loss walks.
    CriticalSection& objectLock() { return objectLock_; }

    bool queryIdentifier(uint32_t id, void** out) override;

    void releaseDeviceObjects() override;
    bool rebuildDeviceObjects() override;
    // The factory is going away first.
    void detachFactory() { factory_ = nullptr; }

protected:
    ~LayerTexture() override;

private:
    bool makeTexture();
    void refreshMips();

    TextureFactory* factory_;
    InterfacePtr<IDirect3DDevice9> device_;
    InterfacePtr<IDirect3DSurface9> staging_;
    Material material_;
    Mesh mesh_;
    uint32_t imageWidth_ = 0;
    uint32_t imageHeight_ = 0;
    uint32_t surfaceWidth_ = 0;
    uint32_t surfaceHeight_ = 0;
    D3DFORMAT format_ = D3DFMT_UNKNOWN;
    uint32_t levels_ = 0;    // levels the texture has
    UINT createLevels_ = 1;  // what CreateTexture is asked for
    DWORD usage_ = 0;
    bool autoMips_ = false;
    bool renderTargetAsked_ = false;
    bool imageOpen_ = false;
    InterfacePtr<Image> openView_;
    InterfacePtr<IDirect3DTexture9> texture_;
    RenderTargetView renderTarget_;
    CriticalSection objectLock_;
};

#pragma once
// Makes the compositor's textures and images, chooses their default formats, and keeps
// every one it made on a list so that device loss can release their default-pool objects
// and a reset can rebuild them. Its lists are guarded by its own lock: textures are made
// on the user-interface thread and media threads while the render thread draws.
#include <cstdint>
#include <list>
#include <string_view>

#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "graphics/DeviceResource.h"

class DrawBase;
class Image;
class ImageCodec;
class LayerTexture;

class TextureFactory {
public:
    // owner gives the image codec; it may be null (no file loading then).
    TextureFactory(DrawBase* owner, IDirect3D9* d3d, UINT adapter, IDirect3DDevice9* device,
                   D3DFORMAT backBufferFormat);
    ~TextureFactory();
    TextureFactory(const TextureFactory&) = delete;
    TextureFactory& operator=(const TextureFactory&) = delete;

    // Default formats from the format checks, largest texture size from the capabilities.
    HRESULT initialise();

    InterfacePtr<LayerTexture> createLayerTexture(uint32_t width, uint32_t height, D3DFORMAT format, int32_t levels,
                                                  bool renderTarget);
    // A w x h system-memory image in the default opaque or alpha format.
    InterfacePtr<Image> createImage(uint32_t width, uint32_t height, bool alpha);
    InterfacePtr<Image> createImageFromFile(std::u16string_view path);
    // levels -1 means the default (1). stretch scales the picture over a larger surface.
    InterfacePtr<LayerTexture> createTextureFromImage(Image& image, int32_t levels, bool stretch);

    void registerResource(DeviceResource* resource);
    void unregisterResource(DeviceResource* resource);
    // Called by a texture as it is destroyed.
    void unregisterTexture(LayerTexture* texture);

    D3DFORMAT defaultFormat(bool alpha) const { return alpha ? alphaFormat_ : opaqueFormat_; }
    uint32_t defaultLevels() const { return defaultLevels_; }
    uint32_t maxTextureWidth() const { return maxWidth_; }
    uint32_t maxTextureHeight() const { return maxHeight_; }
    IDirect3DDevice9* device() const { return device_.get(); }

    // Device loss: every listed resource lets go of its default-pool objects; after a
    // reset each one rebuilds them. A resource that fails to rebuild does not stop the
    // walk. Answers how many failed.
    void releaseDeviceObjects();
    uint32_t rebuildDeviceObjects();

    // Held by creation and by the loss walks; the compositor holds it across a whole
    // reset of a plain device, so no default-pool object is made while the reset waits
    // for all of them to be gone.
    CriticalSection& listLock() { return lock_; }

    size_t textureCount();
    size_t imageCount();
    size_t resourceCount();

private:
    bool formatAvailable(D3DRESOURCETYPE type, D3DFORMAT format) const;
    void pruneImages();

    DrawBase* owner_;
    InterfacePtr<IDirect3D9> d3d_;
    UINT adapter_;
    InterfacePtr<IDirect3DDevice9> device_;
    D3DFORMAT backBufferFormat_;
    D3DFORMAT opaqueFormat_ = D3DFMT_X8R8G8B8;
    D3DFORMAT alphaFormat_ = D3DFMT_A8R8G8B8;
    uint32_t defaultLevels_ = 1;
    uint32_t maxWidth_ = 0;
    uint32_t maxHeight_ = 0;

    CriticalSection lock_;
    // Images are system memory and need no loss handling; the list holds them until only
    // the list does.
    std::list<InterfacePtr<Image>> images_;
    // Textures take themselves off as they die, so the list does not own them.
    std::list<LayerTexture*> textures_;
    std::list<DeviceResource*> resources_;
};

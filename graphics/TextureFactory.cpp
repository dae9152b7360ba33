#include "graphics/TextureFactory.h"

#include <algorithm>

#include "graphics/DrawBase.h"
#include "graphics/Image.h"
#include "graphics/LayerTexture.h"
#include "graphics/PixelFormat.h"

TextureFactory::TextureFactory(DrawBase* owner, IDirect3D9* d3d, UINT adapter, IDirect3DDevice9* device,
                               D3DFORMAT backBufferFormat)
    : owner_(owner), d3d_(d3d), adapter_(adapter), device_(device), backBufferFormat_(backBufferFormat) {}

TextureFactory::~TextureFactory() {
    ScopedLock hold(lock_);
    // Textures may outlive the factory (their holders release them later).
    for (LayerTexture* t : textures_) t->detachFactory();
    textures_.clear();
    resources_.clear();
    images_.clear();
}

bool TextureFactory::formatAvailable(D3DRESOURCETYPE type, D3DFORMAT format) const {
    return d3d_ && SUCCEEDED(d3d_->CheckDeviceFormat(adapter_, D3DDEVTYPE_HAL, backBufferFormat_, 0, type, format));
}

HRESULT TextureFactory::initialise() {
    bool chosen = false;
    if (formatAvailable(D3DRTYPE_TEXTURE, D3DFMT_A8R8G8B8)) {
        if (formatAvailable(D3DRTYPE_SURFACE, D3DFMT_X8R8G8B8)) {
            alphaFormat_ = D3DFMT_A8R8G8B8;
            opaqueFormat_ = D3DFMT_X8R8G8B8;
            chosen = true;
        } else if (backBufferFormat_ == D3DFMT_R8G8B8 && formatAvailable(D3DRTYPE_SURFACE, D3DFMT_R8G8B8)) {
            alphaFormat_ = D3DFMT_A8R8G8B8;
            opaqueFormat_ = D3DFMT_R8G8B8;
            chosen = true;
        }
    }
    if (!chosen) {
        alphaFormat_ = D3DFMT_A4R4G4B4;
        opaqueFormat_ = D3DFMT_R5G6B5;
        if (formatAvailable(D3DRTYPE_TEXTURE, D3DFMT_A4R4G4B4) && !formatAvailable(D3DRTYPE_SURFACE, D3DFMT_R5G6B5))
            alphaFormat_ = opaqueFormat_ = backBufferFormat_;
    }
    D3DCAPS9 caps{};
    HRESULT hr = device_ ? device_->GetDeviceCaps(&caps) : E_POINTER;
    if (FAILED(hr)) return hr;
    maxWidth_ = caps.MaxTextureWidth;
    maxHeight_ = caps.MaxTextureHeight;
    return S_OK;
}

InterfacePtr<LayerTexture> TextureFactory::createLayerTexture(uint32_t width, uint32_t height, D3DFORMAT format,
                                                              int32_t levels, bool renderTarget) {
    InterfacePtr<LayerTexture> texture(new LayerTexture(this, device_.get()));
    {
        ScopedLock hold(lock_);
        textures_.push_back(texture.get());
        if (texture->create(width, height, format, levels, renderTarget)) return texture;
    }
    // A failed texture takes itself off the list as it is released.
    return nullptr;
}

InterfacePtr<Image> TextureFactory::createImage(uint32_t width, uint32_t height, bool alpha) {
    InterfacePtr<Image> image(new Image(device_.get(), opaqueFormat_, alphaFormat_));
    if (!image->create(width, height, alpha)) return nullptr;
    ScopedLock hold(lock_);
    pruneImages();
    images_.push_back(image);
    return image;
}

InterfacePtr<Image> TextureFactory::createImageFromFile(std::u16string_view path) {
    if (!owner_) return nullptr;
    InterfacePtr<Image> image(new Image(device_.get(), opaqueFormat_, alphaFormat_));
    if (!image->load(path, owner_->imageCodec())) return nullptr;
    ScopedLock hold(lock_);
    pruneImages();
    images_.push_back(image);
    return image;
}

InterfacePtr<LayerTexture> TextureFactory::createTextureFromImage(Image& image, int32_t levels, bool stretch) {
    int32_t w = 0, h = 0;
    image.size(&w, &h);
    D3DFORMAT format = d3dFormatOfPixelFormat(image.format());
    if (w <= 0 || h <= 0 || format == D3DFMT_UNKNOWN) return nullptr;
    if (levels < 0) levels = int32_t(defaultLevels_);
    InterfacePtr<LayerTexture> texture = createLayerTexture(uint32_t(w), uint32_t(h), format, levels, false);
    if (!texture) return nullptr;
    InterfacePtr<Image> view = texture->openImage();
    if (!view) return nullptr;
    int32_t sw = int32_t(texture->surfaceWidth()), sh = int32_t(texture->surfaceHeight());
    bool copied;
    if ((sw == w && sh == h) || !stretch) {
        copied = view->copyFrom(image, 0, 0, 0);
        // What the picture does not cover shows the key colour.
        if (copied && sw > w) {
            RECT right{w, 0, sw, sh};
            copied = view->fill(image.keyColour(), &right);
        }
        if (copied && sh > h) {
            RECT below{0, h, sw, sh};
            copied = view->fill(image.keyColour(), &below);
        }
    } else {
        copied = view->stretchFrom(image, nullptr, nullptr, 0);
    }
    bool committed = texture->commitImage(view.get(), nullptr);
    if (!copied || !committed) return nullptr;
    return texture;
}

void TextureFactory::registerResource(DeviceResource* resource) {
    if (!resource) return;
    ScopedLock hold(lock_);
    if (std::find(resources_.begin(), resources_.end(), resource) == resources_.end()) resources_.push_back(resource);
}

void TextureFactory::unregisterResource(DeviceResource* resource) {
    ScopedLock hold(lock_);
    resources_.remove(resource);
}

void TextureFactory::unregisterTexture(LayerTexture* texture) {
    ScopedLock hold(lock_);
    textures_.remove(texture);
}

void TextureFactory::pruneImages() {
    images_.remove_if([](const InterfacePtr<Image>& image) { return image->referenceCount() == 1; });
}

void TextureFactory::releaseDeviceObjects() {
    ScopedLock hold(lock_);
    pruneImages();
    for (LayerTexture* t : textures_) t->releaseDeviceObjects();
    for (DeviceResource* r : resources_) r->releaseDeviceObjects();
}

uint32_t TextureFactory::rebuildDeviceObjects() {
    ScopedLock hold(lock_);
    uint32_t failed = 0;
    for (LayerTexture* t : textures_)
        if (!t->rebuildDeviceObjects()) ++failed;
    for (DeviceResource* r : resources_)
        if (!r->rebuildDeviceObjects()) ++failed;
    return failed;
}

size_t TextureFactory::textureCount() {
    ScopedLock hold(lock_);
    return textures_.size();
}

size_t TextureFactory::imageCount() {
    ScopedLock hold(lock_);
    pruneImages();
    return images_.size();
}

size_t TextureFactory::resourceCount() {
    ScopedLock hold(lock_);
    return resources_.size();
}

#include "graphics/LayerTexture.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "graphics/Image.h"
#include "graphics/TextureFactory.h"

LayerTexture::LayerTexture(TextureFactory* factory, IDirect3DDevice9* device)
    : factory_(factory), device_(device), mesh_(device) {}

LayerTexture::~LayerTexture() {
    // Off the factory's list and rid of the device texture in one step under the list lock:
    // a plain reset on another thread (which holds that lock) must never find the texture
    // gone from the list but its default-pool object still alive, or the reset fails.
    if (factory_) {
        ScopedLock hold(factory_->listLock());
        factory_->unregisterTexture(this);
        releaseDeviceObjects();
    }
    if (openView_) openView_->destroy();
}

bool LayerTexture::queryIdentifier(uint32_t id, void** out) {
    if (out && (id == kTextureIdentifier || id == kDrawableIdentifier)) {
        *out = this;
        addRef();
        return true;
    }
    return RefObject::queryIdentifier(id, out);
}

bool LayerTexture::create(uint32_t width, uint32_t height, D3DFORMAT format, int32_t levels, bool renderTarget) {
    ScopedLock hold(objectLock_);
    renderTarget_ = RenderTargetView{};
    texture_.reset();
    if (openView_) openView_->destroy();
    openView_.reset();
    imageOpen_ = false;
    staging_.reset();
    surfaceWidth_ = surfaceHeight_ = 0;
    levels_ = 0;
    imageWidth_ = width;
    imageHeight_ = height;
    format_ = format;
    if (format == D3DFMT_UNKNOWN || width == 0 || height == 0 || !device_) return false;

    // The size policy may only shrink; a picture that would need shrinking cannot be shown.
    uint32_t maxWidth = 0, maxHeight = 0;
    if (factory_) {
        maxWidth = factory_->maxTextureWidth();
        maxHeight = factory_->maxTextureHeight();
    } else {
        D3DCAPS9 caps{};
        if (FAILED(device_->GetDeviceCaps(&caps))) return false;
        maxWidth = caps.MaxTextureWidth;
        maxHeight = caps.MaxTextureHeight;
    }
    if (std::min(width, maxWidth) < width || std::min(height, maxHeight) < height) return false;

    renderTargetAsked_ = renderTarget;
    usage_ = renderTarget ? D3DUSAGE_RENDERTARGET : 0;
    autoMips_ = false;
    if (levels == 0) {
        createLevels_ = 0;
        usage_ |= D3DUSAGE_AUTOGENMIPMAP;
        autoMips_ = true;
    } else if (levels >= 2) {
        uint32_t chain = 1 + uint32_t(std::bit_width(std::min(width, height)) - 1);
        createLevels_ = std::min<uint32_t>(uint32_t(levels), chain);
        // Lower levels are made by stretching, which needs render-target levels.
        if (createLevels_ > 1) usage_ |= D3DUSAGE_RENDERTARGET;
    } else {
        createLevels_ = 1;
    }
    if (!makeTexture()) return false;

    if (FAILED(
            device_->CreateOffscreenPlainSurface(width, height, format, D3DPOOL_SYSTEMMEM, staging_.put(), nullptr))) {
        renderTarget_ = RenderTargetView{};
        texture_.reset();
        return false;
    }
    surfaceWidth_ = width;
    surfaceHeight_ = height;
    return true;
}

bool LayerTexture::makeTexture() {
    InterfacePtr<IDirect3DTexture9> texture;
    HRESULT hr = device_->CreateTexture(imageWidth_, imageHeight_, createLevels_, usage_, format_, D3DPOOL_DEFAULT,
                                        texture.put(), nullptr);
    if (FAILED(hr) && (createLevels_ != 1 || autoMips_)) {
        // Once more with a single plain level.
        createLevels_ = 1;
        autoMips_ = false;
        usage_ = renderTargetAsked_ ? D3DUSAGE_RENDERTARGET : 0;
        hr = device_->CreateTexture(imageWidth_, imageHeight_, 1, usage_, format_, D3DPOOL_DEFAULT, texture.put(),
                                    nullptr);
    }
    if (FAILED(hr) || !texture) return false;
    levels_ = texture->GetLevelCount();
    if (renderTargetAsked_) {
        RenderTargetView view;
        if (FAILED(texture->GetSurfaceLevel(0, view.surface.put()))) return false;
        view.viewport = D3DVIEWPORT9{0, 0, imageWidth_, imageHeight_, 0.0f, 1.0f};
        renderTarget_ = std::move(view);
    }
    texture_ = std::move(texture);
    return true;
}

bool LayerTexture::setGeometry(const RECT& dest, const RECT* source, D3DCOLOR colour, float z, float angle) {
    RECT s = source ? *source : RECT{0, 0, LONG(imageWidth_), LONG(imageHeight_)};
    if (surfaceWidth_ == 0 || surfaceHeight_ == 0) return false;
    float tw = float(surfaceWidth_), th = float(surfaceHeight_);
    // Half a texel on both edges of the source; positions are not shifted.
    LayerVertex a{float(dest.left),          float(dest.top), z, 1.0f, colour, (float(s.left) + 0.5f) / tw,
                  (float(s.top) + 0.5f) / th};
    LayerVertex b{float(dest.right),
                  float(dest.bottom),
                  z,
                  1.0f,
                  colour,
                  (float(s.right) + 0.5f) / tw,
                  (float(s.bottom) + 0.5f) / th};
    return setCorners(a, b, angle, 0);
}

bool LayerTexture::setCorners(const LayerVertex& a, const LayerVertex& b, float angle, uint32_t gradientFlags) {
    if (!mesh_.setVertexFormat(kVertexFormat, 4, int32_t(sizeof(LayerVertex))) || !mesh_.setIndexCount(6)) return false;
    LayerVertex v[4] = {a, b, a, b};
    v[1].x = b.x;
    v[1].u = b.u;
    v[1].y = a.y;
    v[1].v = a.v;
    v[2].x = a.x;
    v[2].u = a.u;
    v[2].y = b.y;
    v[2].v = b.v;
    // Colours: every vertex takes corner A's, except those the low field of the gradient
    // flags names (bit 0 vertex 1, bit 1 vertex 2, bit 2 vertex 3), which take corner B's.
    for (int i = 0; i < 4; ++i) v[i].diffuse = a.diffuse;
    for (int i = 1; i < 4; ++i)
        if (gradientFlags & (1u << (i - 1))) v[i].diffuse = b.diffuse;
    if (angle != 0.0f) {
        // Around the centre of the rectangle.
        float cx = (a.x + b.x) * 0.5f, cy = (a.y + b.y) * 0.5f;
        float c = std::cos(angle), s = std::sin(angle);
        for (LayerVertex& p : v) {
            float dx = p.x - cx, dy = p.y - cy;
            p.x = cx + dx * c - dy * s;
            p.y = cy + dx * s + dy * c;
        }
    }
    std::copy_n(reinterpret_cast<const uint8_t*>(v), sizeof(v), mesh_.vertexData());
    static constexpr uint32_t kIndices[6] = {0, 1, 3, 3, 2, 0};
    std::copy_n(kIndices, 6, mesh_.indexData());
    mesh_.setPrimitiveType(D3DPT_TRIANGLELIST);
    mesh_.setIndexed(true);
    return true;
}

InterfacePtr<Image> LayerTexture::openImage() {
    ScopedLock hold(objectLock_);
    if (imageOpen_) {
        // A view its holder dropped without committing does not block the texture forever.
        if (!openView_ || openView_->referenceCount() > 1) return nullptr;
        openView_->destroy();
        openView_.reset();
        imageOpen_ = false;
    }
    if (!staging_) return nullptr;
    InterfacePtr<Image> view(new Image());
    if (!view->attachSurface(staging_.get())) return nullptr;
    openView_ = view;
    imageOpen_ = true;
    return view;
}

bool LayerTexture::commitImage(Image* view, const RECT* rect) {
    {
        ScopedLock hold(objectLock_);
        if (!imageOpen_ || !view || view != openView_.get()) return false;
        // The view is closed for good: a holder that kept it cannot write any more.
        view->destroy();
        openView_.reset();
        imageOpen_ = false;
    }
    return upload(rect);
}

bool LayerTexture::fill(D3DCOLOR colour, const RECT* rect) {
    InterfacePtr<Image> view = openImage();
    if (!view) return false;
    bool filled = view->fill(colour, rect);
    bool committed = commitImage(view.get(), rect);
    return filled && committed;
}

bool LayerTexture::upload(const RECT* rect) {
    ScopedLock hold(objectLock_);
    // While a view is out its holder may be writing the staging image; the commit that
    // closes the view uploads the finished picture.
    if (!staging_ || !texture_ || imageOpen_) return false;
    RECT r{0, 0, LONG(surfaceWidth_), LONG(surfaceHeight_)};
    if (rect) {
        r.left = std::max(r.left, rect->left);
        r.top = std::max(r.top, rect->top);
        r.right = std::min(r.right, rect->right);
        r.bottom = std::min(r.bottom, rect->bottom);
        if (r.left >= r.right || r.top >= r.bottom) return true;
    }
    InterfacePtr<IDirect3DSurface9> level0;
    if (FAILED(texture_->GetSurfaceLevel(0, level0.put()))) return false;
    POINT at{r.left, r.top};
    if (FAILED(device_->UpdateSurface(staging_.get(), &r, level0.get(), &at))) return false;
    refreshMips();
    return true;
}

void LayerTexture::refreshMips() {
    // Automatic mips are the device's business; a single level has nothing below it.
    if (autoMips_ || levels_ <= 1) return;
    for (UINT i = 1; i < levels_; ++i) {
        InterfacePtr<IDirect3DSurface9> upper, lower;
        if (FAILED(texture_->GetSurfaceLevel(i - 1, upper.put())) || FAILED(texture_->GetSurfaceLevel(i, lower.put())))
            return;
        if (FAILED(device_->StretchRect(upper.get(), nullptr, lower.get(), nullptr,
                                        D3DTEXTUREFILTERTYPE(material_.minFilter))))
            return;
    }
}

void LayerTexture::size(int32_t* width, int32_t* height) const {
    if (width) *width = int32_t(imageWidth_);
    if (height) *height = int32_t(imageHeight_);
}

void LayerTexture::releaseDeviceObjects() {
    ScopedLock hold(objectLock_);
    renderTarget_ = RenderTargetView{};
    texture_.reset();
    mesh_.releaseBuffers();
}

bool LayerTexture::rebuildDeviceObjects() {
    ScopedLock hold(objectLock_);
    // Never made, or a creation that failed: nothing to bring back.
    if (!staging_) return true;
    bool ok = mesh_.rebuildBuffers();
    if (!texture_ && !makeTexture()) return false;
    // A picture being written right now reaches the texture with its commit.
    if (imageOpen_) return ok;
    return upload(nullptr) && ok;
}

#include "platform/gfx/GlDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/gfx/GlRenderer.h"
#include "platform/gfx/GlWorker.h"
#include "platform/gfx/SoftwareBuffers.h"
#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareFormats.h"
#include "platform/gfx/SoftwareSurface.h"
#include "platform/gfx/SoftwareTexture.h"
#include "platform/gfx/VertexLayout.h"

namespace gfx {
namespace {

bool indexCountOf(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode, size_t* count) {
    switch (type) {
        case D3DPT_POINTLIST:
            *mode = GL_POINTS;
            *count = primitives;
            return true;
        case D3DPT_LINELIST:
            *mode = GL_LINES;
            *count = size_t(primitives) * 2;
            return true;
        case D3DPT_LINESTRIP:
            *mode = GL_LINE_STRIP;
            *count = size_t(primitives) + 1;
            return true;
        case D3DPT_TRIANGLELIST:
            *mode = GL_TRIANGLES;
            *count = size_t(primitives) * 3;
            return true;
        case D3DPT_TRIANGLESTRIP:
            *mode = GL_TRIANGLE_STRIP;
            *count = size_t(primitives) + 2;
            return true;
        case D3DPT_TRIANGLEFAN:
            *mode = GL_TRIANGLE_FAN;
            *count = size_t(primitives) + 2;
            return true;
        default:
            return false;
    }
}

bool hasNoAlpha(D3DFORMAT format) {
    return format == D3DFMT_X8R8G8B8;
}

}  // namespace

GlDevice* glDevice(IDirect3DDevice9* device) {
    return dynamic_cast<GlDevice*>(device);
}

GlDevice::GlDevice(IDirect3D9* parent, SoftwareDevice* inner, bool ex)
    : parent_(parent), inner_(inner), ex_(ex), worker_(std::make_unique<GlWorker>()) {}

GlDevice::~GlDevice() {
    dropTextures(false);
    worker_->run([&] { renderer_.reset(); });
    worker_.reset();
    inner_->Release();
}

GlDevice* GlDevice::create(IDirect3D9* parent, SoftwareDevice* inner, QWindow* window) {
    if (!inner || !window) return nullptr;
    InterfacePtr<IDirect3DSurface9> back;
    if (FAILED(inner->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()))) return nullptr;
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    auto* device = new GlDevice(parent, inner, inner->isEx());
    bool opened = false;
    device->worker_->run([&] {
        auto renderer = std::make_unique<GlRenderer>();
        opened = renderer->open(window, desc.Width, desc.Height, hasNoAlpha(desc.Format));
        if (opened) device->renderer_ = std::move(renderer);
    });
    if (!opened) {
        // The software device goes back to the caller.
        device->inner_->AddRef();
        device->Release();
        return nullptr;
    }
    return device;
}

HRESULT GlDevice::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IDirect3DDevice9::iid || (ex_ && riid == IDirect3DDevice9Ex::iid)) {
        *ppv = static_cast<IDirect3DDevice9Ex*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG GlDevice::AddRef() {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG GlDevice::Release() {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

// ---- Plain forwards -------------------------------------------------------------------

HRESULT GlDevice::TestCooperativeLevel() {
    return inner_->TestCooperativeLevel();
}
HRESULT GlDevice::GetDirect3D(IDirect3D9** d3d) {
    if (!d3d) return D3DERR_INVALIDCALL;
    *d3d = parent_.get();
    if (*d3d) (*d3d)->AddRef();
    return *d3d ? D3D_OK : D3DERR_INVALIDCALL;
}
HRESULT GlDevice::GetDeviceCaps(D3DCAPS9* caps) {
    return inner_->GetDeviceCaps(caps);
}
HRESULT GlDevice::GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) {
    return inner_->GetDisplayMode(swapChain, mode);
}
HRESULT GlDevice::GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) {
    return inner_->GetCreationParameters(params);
}
UINT GlDevice::GetAvailableTextureMem() {
    return inner_->GetAvailableTextureMem();
}
HRESULT GlDevice::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                                     HANDLE* sharedHandle) {
    return inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer, sharedHandle);
}
HRESULT GlDevice::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                    IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
    return inner_->CreateIndexBuffer(length, usage, format, pool, buffer, sharedHandle);
}
HRESULT GlDevice::CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                     DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                                     HANDLE* sharedHandle) {
    return inner_->CreateRenderTarget(width, height, format, multiSample, multiSampleQuality, lockable, surface,
                                      sharedHandle);
}
HRESULT GlDevice::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                            DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                            HANDLE* sharedHandle) {
    return inner_->CreateDepthStencilSurface(width, height, format, multiSample, multiSampleQuality, discard, surface,
                                             sharedHandle);
}
HRESULT GlDevice::CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                              IDirect3DSurface9** surface, HANDLE* sharedHandle) {
    return inner_->CreateOffscreenPlainSurface(width, height, format, pool, surface, sharedHandle);
}
HRESULT GlDevice::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    return inner_->SetRenderTarget(index, surface);
}
HRESULT GlDevice::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    return inner_->GetRenderTarget(index, surface);
}
HRESULT GlDevice::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    return inner_->SetDepthStencilSurface(surface);
}
HRESULT GlDevice::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    return inner_->GetDepthStencilSurface(surface);
}
HRESULT GlDevice::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    return inner_->SetTransform(state, matrix);
}
HRESULT GlDevice::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    return inner_->GetTransform(state, matrix);
}
HRESULT GlDevice::SetViewport(const D3DVIEWPORT9* viewport) {
    return inner_->SetViewport(viewport);
}
HRESULT GlDevice::GetViewport(D3DVIEWPORT9* viewport) {
    return inner_->GetViewport(viewport);
}
HRESULT GlDevice::SetMaterial(const D3DMATERIAL9* material) {
    return inner_->SetMaterial(material);
}
HRESULT GlDevice::GetMaterial(D3DMATERIAL9* material) {
    return inner_->GetMaterial(material);
}
HRESULT GlDevice::SetLight(DWORD index, const D3DLIGHT9* light) {
    return inner_->SetLight(index, light);
}
HRESULT GlDevice::GetLight(DWORD index, D3DLIGHT9* light) {
    return inner_->GetLight(index, light);
}
HRESULT GlDevice::LightEnable(DWORD index, BOOL enable) {
    return inner_->LightEnable(index, enable);
}
HRESULT GlDevice::GetLightEnable(DWORD index, BOOL* enable) {
    return inner_->GetLightEnable(index, enable);
}
HRESULT GlDevice::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    return inner_->SetRenderState(state, value);
}
HRESULT GlDevice::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    return inner_->GetRenderState(state, value);
}
HRESULT GlDevice::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    return inner_->GetTexture(stage, texture);
}
HRESULT GlDevice::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    return inner_->SetTexture(stage, texture);
}
HRESULT GlDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    return inner_->GetTextureStageState(stage, type, value);
}
HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return inner_->SetTextureStageState(stage, type, value);
}
HRESULT GlDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    return inner_->GetSamplerState(sampler, type, value);
}
HRESULT GlDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    return inner_->SetSamplerState(sampler, type, value);
}
HRESULT GlDevice::SetScissorRect(const RECT* rect) {
    return inner_->SetScissorRect(rect);
}
HRESULT GlDevice::GetScissorRect(RECT* rect) {
    return inner_->GetScissorRect(rect);
}
HRESULT GlDevice::SetFVF(DWORD fvf) {
    return inner_->SetFVF(fvf);
}
HRESULT GlDevice::GetFVF(DWORD* fvf) {
    return inner_->GetFVF(fvf);
}
HRESULT GlDevice::SetVertexShader(IDirect3DVertexShader9* shader) {
    return inner_->SetVertexShader(shader);
}
HRESULT GlDevice::GetVertexShader(IDirect3DVertexShader9** shader) {
    return inner_->GetVertexShader(shader);
}
HRESULT GlDevice::SetPixelShader(IDirect3DPixelShader9* shader) {
    return inner_->SetPixelShader(shader);
}
HRESULT GlDevice::GetPixelShader(IDirect3DPixelShader9** shader) {
    return inner_->GetPixelShader(shader);
}
HRESULT GlDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes, UINT stride) {
    return inner_->SetStreamSource(stream, buffer, offsetInBytes, stride);
}
HRESULT GlDevice::GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offsetInBytes, UINT* stride) {
    return inner_->GetStreamSource(stream, buffer, offsetInBytes, stride);
}
HRESULT GlDevice::SetIndices(IDirect3DIndexBuffer9* indices) {
    return inner_->SetIndices(indices);
}
HRESULT GlDevice::GetIndices(IDirect3DIndexBuffer9** indices) {
    return inner_->GetIndices(indices);
}
HRESULT GlDevice::CheckDeviceState(HWND destinationWindow) {
    return ex_ ? inner_->CheckDeviceState(destinationWindow) : D3DERR_INVALIDCALL;
}
HRESULT GlDevice::GetDisplayModeEx(UINT swapChain, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) {
    return inner_->GetDisplayModeEx(swapChain, mode, rotation);
}
HRESULT GlDevice::SetMaximumFrameLatency(UINT maxLatency) {
    return inner_->SetMaximumFrameLatency(maxLatency);
}
HRESULT GlDevice::GetMaximumFrameLatency(UINT* maxLatency) {
    return inner_->GetMaximumFrameLatency(maxLatency);
}

// ---- Scenes, resets, presentation -----------------------------------------------------

HRESULT GlDevice::BeginScene() {
    ScopedLock hold(lock_);
    HRESULT hr = inner_->BeginScene();
    if (SUCCEEDED(hr)) inScene_ = true;
    return hr;
}

HRESULT GlDevice::EndScene() {
    ScopedLock hold(lock_);
    HRESULT hr = inner_->EndScene();
    if (SUCCEEDED(hr)) inScene_ = false;
    return hr;
}

HRESULT GlDevice::afterReset(HRESULT hr) {
    if (FAILED(hr)) return hr;
    inScene_ = false;
    InterfacePtr<IDirect3DSurface9> back;
    if (FAILED(inner_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()))) return D3DERR_DRIVERINTERNALERROR;
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    bool ok = false;
    worker_->run([&] { ok = renderer_->resize(desc.Width, desc.Height, hasNoAlpha(desc.Format)); });
    return ok ? hr : D3DERR_DRIVERINTERNALERROR;
}

HRESULT GlDevice::Reset(D3DPRESENT_PARAMETERS* params) {
    ScopedLock hold(lock_);
    // Our copies must not keep default-pool textures alive across the reset.
    dropTextures(false);
    return afterReset(inner_->Reset(params));
}

HRESULT GlDevice::ResetEx(D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode) {
    if (!ex_) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    dropTextures(false);
    return afterReset(inner_->ResetEx(params, fullscreenMode));
}

HRESULT GlDevice::presentGl(HRESULT softwareResult) {
    // The software device decides what a present answers (lost, occluded, ...); only a
    // picture it would have shown is shown.
    if (softwareResult != D3D_OK) return softwareResult;
    worker_->run([&] {
        if (capture_) {
            presentedWidth_ = renderer_->width();
            presentedHeight_ = renderer_->height();
            presented_.resize(size_t(presentedWidth_) * presentedHeight_);
            renderer_->readPicture(presented_.data(), presentedWidth_);
        }
        renderer_->present();
    });
    dropTextures(true);
    return softwareResult;
}

HRESULT GlDevice::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                          const RGNDATA* dirtyRegion) {
    ScopedLock hold(lock_);
    return presentGl(inner_->Present(sourceRect, destRect, destWindowOverride, dirtyRegion));
}

HRESULT GlDevice::PresentEx(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                            const RGNDATA* dirtyRegion, DWORD flags) {
    if (!ex_) return D3DERR_INVALIDCALL;
    ScopedLock hold(lock_);
    return presentGl(inner_->PresentEx(sourceRect, destRect, destWindowOverride, dirtyRegion, flags));
}

void GlDevice::setCapturePresented(bool on) {
    ScopedLock hold(lock_);
    capture_ = on;
    if (!on) presented_.clear();
}

bool GlDevice::presentedPicture(std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height) {
    ScopedLock hold(lock_);
    if (presented_.empty()) return false;
    *pixels = presented_;
    *width = presentedWidth_;
    *height = presentedHeight_;
    return true;
}

void GlDevice::allowFramebufferFetch(bool on) {
    GlRenderer::allowFramebufferFetch(on);
}

GlDevice::DrawCounts GlDevice::drawCounts() {
    ScopedLock hold(lock_);
    DrawCounts counts;
    worker_->run([&] { counts = {renderer_->draws(), renderer_->layerDraws(), renderer_->copyDraws()}; });
    return counts;
}

// ---- The back buffer's memory ---------------------------------------------------------

bool GlDevice::isBackBuffer(IDirect3DSurface9* surface) {
    if (!surface) return false;
    InterfacePtr<IDirect3DSurface9> back;
    if (FAILED(inner_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()))) return false;
    return back.get() == surface;
}

bool GlDevice::backBufferIsTarget() {
    InterfacePtr<IDirect3DSurface9> target;
    if (FAILED(inner_->GetRenderTarget(0, target.put()))) return false;
    return isBackBuffer(target.get());
}

void GlDevice::pictureToSoftware() {
    InterfacePtr<IDirect3DSurface9> back;
    if (FAILED(inner_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()))) return;
    SoftwareSurface* s = softwareSurface(back.get());
    if (!s || s->width() != renderer_->width() || s->height() != renderer_->height()) return;
    ScopedLock inner(inner_->lock());
    worker_->run([&] { renderer_->readPicture(reinterpret_cast<uint32_t*>(s->bits()), s->pitch() / 4); });
    s->touch();
}

void GlDevice::softwareToPicture() {
    InterfacePtr<IDirect3DSurface9> back;
    if (FAILED(inner_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back.put()))) return;
    SoftwareSurface* s = softwareSurface(back.get());
    if (!s || s->width() != renderer_->width() || s->height() != renderer_->height()) return;
    ScopedLock inner(inner_->lock());
    worker_->run([&] { renderer_->writePicture(reinterpret_cast<const uint32_t*>(s->bits()), s->pitch() / 4); });
}

void GlDevice::markWritten(IDirect3DSurface9* surface, const RECT* rect) {
    SoftwareSurface* s = surface ? softwareSurface(surface) : nullptr;
    // OpenGL holds level 0 only.
    if (!s || !s->container() || s->container()->level(0) != s) return;
    auto it = textures_.find(s->container());
    if (it == textures_.end()) return;
    CachedTexture& c = it->second;
    if (!rect) {
        c.whole = true;
    } else if (!c.dirty) {
        c.whole = false;
        c.region = *rect;
    } else if (!c.whole) {
        c.region.left = std::min(c.region.left, rect->left);
        c.region.top = std::min(c.region.top, rect->top);
        c.region.right = std::max(c.region.right, rect->right);
        c.region.bottom = std::max(c.region.bottom, rect->bottom);
    }
    c.dirty = true;
}

void GlDevice::markWritten(IDirect3DBaseTexture9* texture) {
    SoftwareTexture* t = texture ? softwareTexture(texture) : nullptr;
    auto it = textures_.find(t);
    if (t && it != textures_.end()) it->second.dirty = true;
}

HRESULT GlDevice::GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) {
    ScopedLock hold(lock_);
    HRESULT hr = inner_->GetBackBuffer(swapChain, backBuffer, type, surface);
    // Whoever asks for the back buffer may lock it: give its memory the current picture.
    if (SUCCEEDED(hr) && isBackBuffer(*surface)) pictureToSoftware();
    return hr;
}

HRESULT GlDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                IDirect3DTexture9** texture, HANDLE* sharedHandle) {
    return inner_->CreateTexture(width, height, levels, usage, format, pool, texture, sharedHandle);
}

HRESULT GlDevice::UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                                const POINT* destPoint) {
    ScopedLock hold(lock_);
    HRESULT hr = inner_->UpdateSurface(source, sourceRect, dest, destPoint);
    if (SUCCEEDED(hr)) {
        // Only the part written has to reach OpenGL again.
        D3DSURFACE_DESC desc{};
        source->GetDesc(&desc);
        RECT from = sourceRect ? *sourceRect : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
        POINT at = destPoint ? *destPoint : POINT{from.left, from.top};
        RECT written{at.x, at.y, at.x + (from.right - from.left), at.y + (from.bottom - from.top)};
        markWritten(dest, &written);
        if (isBackBuffer(dest)) softwareToPicture();
    }
    return hr;
}

HRESULT GlDevice::UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) {
    ScopedLock hold(lock_);
    HRESULT hr = inner_->UpdateTexture(source, dest);
    if (SUCCEEDED(hr)) markWritten(dest);
    return hr;
}

HRESULT GlDevice::GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) {
    ScopedLock hold(lock_);
    if (isBackBuffer(renderTarget)) pictureToSoftware();
    return inner_->GetRenderTargetData(renderTarget, dest);
}

HRESULT GlDevice::StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                              const RECT* destRect, D3DTEXTUREFILTERTYPE filter) {
    ScopedLock hold(lock_);
    if (isBackBuffer(source)) pictureToSoftware();
    bool toBack = isBackBuffer(dest);
    if (toBack && !isBackBuffer(source)) pictureToSoftware();  // parts outside destRect stay
    HRESULT hr = inner_->StretchRect(source, sourceRect, dest, destRect, filter);
    if (SUCCEEDED(hr)) {
        markWritten(dest);
        if (toBack) softwareToPicture();
    }
    return hr;
}

HRESULT GlDevice::ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) {
    ScopedLock hold(lock_);
    bool toBack = isBackBuffer(surface);
    if (toBack) pictureToSoftware();
    HRESULT hr = inner_->ColorFill(surface, rect, color);
    if (SUCCEEDED(hr)) {
        markWritten(surface);
        if (toBack) softwareToPicture();
    }
    return hr;
}

// ---- Texture copies -------------------------------------------------------------------

void GlDevice::dropTextures(bool onlyUnused) {
    for (auto it = textures_.begin(); it != textures_.end();) {
        IDirect3DBaseTexture9* held = it->second.held;
        bool drop = !onlyUnused;
        if (onlyUnused) {
            held->AddRef();
            drop = held->Release() == 1;  // only our reference is left
        }
        if (!drop) {
            ++it;
            continue;
        }
        const void* key = it->first;
        worker_->run([&] { renderer_->dropTexture(key); });
        it = textures_.erase(it);
        held->Release();
    }
}

void GlDevice::prepareTextures(GlDrawState* state) {
    for (int s = 0; s < state->stageCount && s < 2; ++s) {
        InterfacePtr<IDirect3DBaseTexture9> bound;
        state->stages[s].texture = nullptr;
        if (FAILED(inner_->GetTexture(DWORD(s), bound.put())) || !bound) continue;
        SoftwareTexture* t = softwareTexture(bound.get());
        SoftwareSurface* level = t ? t->level(0) : nullptr;
        if (!level) continue;
        auto [it, added] = textures_.try_emplace(t);
        if (added) {
            it->second.held = bound.get();
            it->second.held->AddRef();
        }
        // A texture the CPU may lock can change without the device knowing.
        bool lockable = t->pool() != D3DPOOL_DEFAULT || (t->usage() & D3DUSAGE_DYNAMIC);
        CachedTexture& cached = it->second;
        if (cached.dirty || lockable) {
            ScopedLock inner(inner_->lock());
            uint32_t pitch = 0;
            const uint32_t* pixels = level->argbPixels(&pitch);
            if (!pixels) continue;
            bool opaque = hasNoAlpha(level->format());
            const RECT* region = cached.whole || lockable ? nullptr : &cached.region;
            worker_->run(
                [&] { renderer_->uploadTexture(t, pixels, pitch, level->width(), level->height(), opaque, region); });
            cached.dirty = false;
            cached.whole = true;
        }
        state->stages[s].texture = t;
    }
}

bool GlDevice::buildState(GlDrawState* st) {
    auto rs = [&](D3DRENDERSTATETYPE type) {
        DWORD v = 0;
        inner_->GetRenderState(type, &v);
        return v;
    };
    InterfacePtr<IDirect3DSurface9> depth;
    bool haveDepth = SUCCEEDED(inner_->GetDepthStencilSurface(depth.put())) && depth;
    st->depthTest = haveDepth && rs(D3DRS_ZENABLE) != 0;
    st->depthWrite = rs(D3DRS_ZWRITEENABLE) != 0;
    st->depthFunc = rs(D3DRS_ZFUNC);
    st->alphaTest = rs(D3DRS_ALPHATESTENABLE) != 0;
    st->alphaFunc = rs(D3DRS_ALPHAFUNC);
    st->alphaRef = rs(D3DRS_ALPHAREF);
    st->blend = rs(D3DRS_ALPHABLENDENABLE) != 0;
    st->srcBlend = rs(D3DRS_SRCBLEND);
    st->destBlend = rs(D3DRS_DESTBLEND);
    st->blendOp = rs(D3DRS_BLENDOP);
    st->separateAlpha = rs(D3DRS_SEPARATEALPHABLENDENABLE) != 0;
    st->srcBlendAlpha = rs(D3DRS_SRCBLENDALPHA);
    st->destBlendAlpha = rs(D3DRS_DESTBLENDALPHA);
    st->blendOpAlpha = rs(D3DRS_BLENDOPALPHA);
    st->blendFactor = rs(D3DRS_BLENDFACTOR);
    st->textureFactor = rs(D3DRS_TEXTUREFACTOR);
    st->colorWrite = rs(D3DRS_COLORWRITEENABLE);
    st->cull = rs(D3DRS_CULLMODE);
    if (haveDepth) {
        D3DSURFACE_DESC desc{};
        depth->GetDesc(&desc);
        st->depthMax = depthMaximum(desc.Format);
    }

    D3DVIEWPORT9 vp{};
    inner_->GetViewport(&vp);
    RECT clip{LONG(vp.X), LONG(vp.Y), LONG(vp.X + vp.Width), LONG(vp.Y + vp.Height)};
    if (rs(D3DRS_SCISSORTESTENABLE)) {
        RECT sc{};
        inner_->GetScissorRect(&sc);
        clip.left = std::max(clip.left, sc.left);
        clip.top = std::max(clip.top, sc.top);
        clip.right = std::min(clip.right, sc.right);
        clip.bottom = std::min(clip.bottom, sc.bottom);
    }
    clip.left = std::max<LONG>(clip.left, 0);
    clip.top = std::max<LONG>(clip.top, 0);
    clip.right = std::min<LONG>(clip.right, LONG(renderer_->width()));
    clip.bottom = std::min<LONG>(clip.bottom, LONG(renderer_->height()));
    st->clip = clip;

    st->stageCount = 0;
    for (DWORD s = 0; s < 2; ++s) {
        auto ts = [&](D3DTEXTURESTAGESTATETYPE type) {
            DWORD v = 0;
            inner_->GetTextureStageState(s, type, &v);
            return v;
        };
        auto ss = [&](D3DSAMPLERSTATETYPE type) {
            DWORD v = 0;
            inner_->GetSamplerState(s, type, &v);
            return v;
        };
        GlStage& g = st->stages[s];
        g.colorOp = ts(D3DTSS_COLOROP);
        if (g.colorOp == D3DTOP_DISABLE) break;
        // The shader carries out two stages; a third one is refused below.
        g.colorArg0 = ts(D3DTSS_COLORARG0);
        g.colorArg1 = ts(D3DTSS_COLORARG1);
        g.colorArg2 = ts(D3DTSS_COLORARG2);
        g.alphaOp = ts(D3DTSS_ALPHAOP);
        g.alphaArg0 = ts(D3DTSS_ALPHAARG0);
        g.alphaArg1 = ts(D3DTSS_ALPHAARG1);
        g.alphaArg2 = ts(D3DTSS_ALPHAARG2);
        g.resultArg = ts(D3DTSS_RESULTARG);
        g.texCoordIndex = ts(D3DTSS_TEXCOORDINDEX);
        g.addressU = ss(D3DSAMP_ADDRESSU);
        g.addressV = ss(D3DSAMP_ADDRESSV);
        g.borderColor = ss(D3DSAMP_BORDERCOLOR);
        // Level 0 is sampled (layers have one level); the filter follows the scale.
        g.magLinear = ss(D3DSAMP_MAGFILTER) >= D3DTEXF_LINEAR;
        g.minLinear = ss(D3DSAMP_MINFILTER) >= D3DTEXF_LINEAR;
        st->stageCount = int(s + 1);
    }
    if (st->stageCount == 2) {
        DWORD third = 0;
        inner_->GetTextureStageState(2, D3DTSS_COLOROP, &third);
        if (third != D3DTOP_DISABLE) return false;
    }
    return true;
}

HRESULT GlDevice::drawGl(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, size_t vertexBytes,
                         UINT stride, DWORD fvf, const uint8_t* indices, size_t indexBytes, bool index32,
                         INT baseVertex, UINT startIndex) {
    GLenum mode = 0;
    size_t count = 0;
    if (!inScene_ || primitiveCount == 0 || !indexCountOf(type, primitiveCount, &mode, &count))
        return D3DERR_INVALIDCALL;
    D3DCAPS9 caps{};
    inner_->GetDeviceCaps(&caps);
    if (primitiveCount > caps.MaxPrimitiveCount) return D3DERR_INVALIDCALL;
    VertexLayout layout = vertexLayout(fvf);
    if (!layout.valid || !layout.transformed || stride < layout.size || stride == 0) return D3DERR_INVALIDCALL;
    size_t available = vertexBytes / stride;
    GlVertexFormat format;
    format.stride = stride;
    format.diffuse = layout.diffuse;
    format.specular = layout.specular;
    format.texCount = std::min(layout.texCount, 2);
    for (int t = 0; t < format.texCount; ++t) format.texOffset[t] = layout.texOffset[t];

    std::vector<uint32_t> list;
    if (indices) {
        size_t size = index32 ? 4 : 2;
        if (startIndex > indexBytes / size || count > indexBytes / size - startIndex) return D3DERR_INVALIDCALL;
        list.resize(count);
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* p = indices + (startIndex + i) * size;
            uint32_t value = 0;
            if (index32)
                std::memcpy(&value, p, 4);
            else
                value = uint32_t(p[0]) | uint32_t(p[1]) << 8;
            int64_t v = int64_t(value) + baseVertex;
            if (v < 0 || uint64_t(v) >= available) return D3DERR_INVALIDCALL;
            list[i] = uint32_t(v);
        }
    } else if (count > available) {
        return D3DERR_INVALIDCALL;
    }
    GlDrawState state;
    if (!buildState(&state)) return D3DERR_INVALIDCALL;
    prepareTextures(&state);
    size_t used = indices ? vertexBytes : count * stride;
    worker_->run([&] { renderer_->draw(state, format, mode, vertices, used, list, count); });
    return D3D_OK;
}

// ---- Drawing --------------------------------------------------------------------------

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    ScopedLock hold(lock_);
    if (!backBufferIsTarget()) {
        InterfacePtr<IDirect3DSurface9> target;
        inner_->GetRenderTarget(0, target.put());
        HRESULT hr = inner_->Clear(count, rects, flags, color, z, stencil);
        if (SUCCEEDED(hr)) markWritten(target.get());
        return hr;
    }
    InterfacePtr<IDirect3DSurface9> depth;
    bool haveDepth = SUCCEEDED(inner_->GetDepthStencilSurface(depth.put())) && depth;
    if (count > 0 && !rects) return D3DERR_INVALIDCALL;
    if (flags == 0 || (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return D3DERR_INVALIDCALL;
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !haveDepth) return D3DERR_INVALIDCALL;
    if ((flags & D3DCLEAR_ZBUFFER) && !(z >= 0.0f && z <= 1.0f)) return D3DERR_INVALIDCALL;
    D3DVIEWPORT9 vp{};
    inner_->GetViewport(&vp);
    RECT area{LONG(vp.X), LONG(vp.Y), LONG(vp.X + vp.Width), LONG(vp.Y + vp.Height)};
    DWORD scissor = 0;
    inner_->GetRenderState(D3DRS_SCISSORTESTENABLE, &scissor);
    if (scissor) {
        RECT sc{};
        inner_->GetScissorRect(&sc);
        area.left = std::max(area.left, sc.left);
        area.top = std::max(area.top, sc.top);
        area.right = std::min(area.right, sc.right);
        area.bottom = std::min(area.bottom, sc.bottom);
    }
    std::vector<RECT> regions;
    auto add = [&](RECT r) {
        r.left = std::max<LONG>(r.left, 0);
        r.top = std::max<LONG>(r.top, 0);
        r.right = std::min<LONG>(r.right, LONG(renderer_->width()));
        r.bottom = std::min<LONG>(r.bottom, LONG(renderer_->height()));
        if (r.left < r.right && r.top < r.bottom) regions.push_back(r);
    };
    if (count == 0) {
        add(area);
    } else {
        for (DWORD i = 0; i < count; ++i)
            add(RECT{std::max(area.left, rects[i].x1), std::max(area.top, rects[i].y1),
                     std::min(area.right, rects[i].x2), std::min(area.bottom, rects[i].y2)});
    }
    bool target = (flags & D3DCLEAR_TARGET) != 0, zbuffer = (flags & D3DCLEAR_ZBUFFER) != 0;
    worker_->run([&] { renderer_->clear(regions, target, zbuffer, color, z); });
    return D3D_OK;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    ScopedLock hold(lock_);
    if (!backBufferIsTarget()) {
        InterfacePtr<IDirect3DSurface9> target;
        inner_->GetRenderTarget(0, target.put());
        HRESULT hr = inner_->DrawPrimitive(type, startVertex, primitiveCount);
        if (SUCCEEDED(hr)) markWritten(target.get());
        return hr;
    }
    InterfacePtr<IDirect3DVertexBuffer9> stream;
    UINT offset = 0, stride = 0;
    DWORD fvf = 0;
    inner_->GetFVF(&fvf);
    if (FAILED(inner_->GetStreamSource(0, stream.put(), &offset, &stride)) || !stream) return D3DERR_INVALIDCALL;
    SoftwareVertexBuffer* vb = softwareVertexBuffer(stream.get());
    if (!vb || !vb->data() || stride == 0) return D3DERR_INVALIDCALL;
    size_t start = size_t(offset) + size_t(startVertex) * stride;
    if (start > vb->length()) return D3DERR_INVALIDCALL;
    return drawGl(type, primitiveCount, vb->data() + start, vb->length() - start, stride, fvf, nullptr, 0, false, 0, 0);
}

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                       UINT numVertices, UINT startIndex, UINT primitiveCount) {
    ScopedLock hold(lock_);
    if (!backBufferIsTarget()) {
        InterfacePtr<IDirect3DSurface9> target;
        inner_->GetRenderTarget(0, target.put());
        HRESULT hr = inner_->DrawIndexedPrimitive(type, baseVertexIndex, minVertexIndex, numVertices, startIndex,
                                                  primitiveCount);
        if (SUCCEEDED(hr)) markWritten(target.get());
        return hr;
    }
    InterfacePtr<IDirect3DVertexBuffer9> stream;
    InterfacePtr<IDirect3DIndexBuffer9> indexBuffer;
    UINT offset = 0, stride = 0;
    DWORD fvf = 0;
    inner_->GetFVF(&fvf);
    if (FAILED(inner_->GetStreamSource(0, stream.put(), &offset, &stride)) || !stream) return D3DERR_INVALIDCALL;
    if (FAILED(inner_->GetIndices(indexBuffer.put())) || !indexBuffer) return D3DERR_INVALIDCALL;
    SoftwareVertexBuffer* vb = softwareVertexBuffer(stream.get());
    SoftwareIndexBuffer* ib = softwareIndexBuffer(indexBuffer.get());
    if (!vb || !ib || !vb->data() || !ib->data() || stride == 0 || offset > vb->length()) return D3DERR_INVALIDCALL;
    return drawGl(type, primitiveCount, vb->data() + offset, vb->length() - offset, stride, fvf, ib->data(),
                  ib->length(), ib->format() == D3DFMT_INDEX32, baseVertexIndex, startIndex);
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                                  UINT vertexStride) {
    ScopedLock hold(lock_);
    if (!backBufferIsTarget()) {
        InterfacePtr<IDirect3DSurface9> target;
        inner_->GetRenderTarget(0, target.put());
        HRESULT hr = inner_->DrawPrimitiveUP(type, primitiveCount, vertexData, vertexStride);
        if (SUCCEEDED(hr)) markWritten(target.get());
        return hr;
    }
    GLenum mode = 0;
    size_t count = 0;
    if (!vertexData || vertexStride == 0 || !indexCountOf(type, primitiveCount, &mode, &count))
        return D3DERR_INVALIDCALL;
    DWORD fvf = 0;
    inner_->GetFVF(&fvf);
    // Like Direct3D, the stream source is unset afterwards.
    HRESULT hr = drawGl(type, primitiveCount, static_cast<const uint8_t*>(vertexData), count * vertexStride,
                        vertexStride, fvf, nullptr, 0, false, 0, 0);
    inner_->SetStreamSource(0, nullptr, 0, 0);
    return hr;
}

}  // namespace gfx

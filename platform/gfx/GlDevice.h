#pragma once
// The OpenGL device: the Direct3D 9 / 9Ex device contract with its pictures composed by
// OpenGL 3.3 in a native window. Resources, states and the device's condition are kept by
// a software device of the same adapter (so textures, system-memory surfaces, buffers,
// locks, UpdateSurface, StretchRect, resets and loss behave exactly as there); drawing and
// clearing into the back buffer, and presentation, run on OpenGL. Textures are copied to
// OpenGL when first drawn and again, the part written only, after the device wrote to them. Draws into other
// render targets run on the software device, whose pictures then reach OpenGL the same way.
//
// All OpenGL work runs on one worker thread that owns the context, so the device may be
// called from any thread, as a multithreaded Direct3D device may.
#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/d3d9/IDirect3D9.h"
#include "framework/d3d9/IDirect3DDevice9.h"

class QWindow;

namespace gfx {

class GlRenderer;
class GlWorker;
class SoftwareDevice;
class SoftwareTexture;
struct GlDrawState;

class GlDevice : public IDirect3DDevice9Ex {
public:
    // Wraps the software device (taking over the caller's reference) and opens OpenGL on
    // the window. Null when the window cannot carry an OpenGL 3.3 core context; the software
    // device is then left to the caller.
    static GlDevice* create(IDirect3D9* parent, SoftwareDevice* inner, QWindow* window);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT TestCooperativeLevel() override;
    HRESULT GetDirect3D(IDirect3D9** d3d) override;
    HRESULT GetDeviceCaps(D3DCAPS9* caps) override;
    HRESULT GetDisplayMode(UINT swapChain, D3DDISPLAYMODE* mode) override;
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* params) override;
    UINT GetAvailableTextureMem() override;
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                    const RGNDATA* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT backBuffer, D3DBACKBUFFER_TYPE type,
                          IDirect3DSurface9** surface) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, HANDLE* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               HANDLE* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool, IDirect3DIndexBuffer9** buffer,
                              HANDLE* sharedHandle) override;
    HRESULT CreateRenderTarget(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                               DWORD multiSampleQuality, BOOL lockable, IDirect3DSurface9** surface,
                               HANDLE* sharedHandle) override;
    HRESULT CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE multiSample,
                                      DWORD multiSampleQuality, BOOL discard, IDirect3DSurface9** surface,
                                      HANDLE* sharedHandle) override;
    HRESULT CreateOffscreenPlainSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool,
                                        IDirect3DSurface9** surface, HANDLE* sharedHandle) override;
    HRESULT UpdateSurface(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                          const POINT* destPoint) override;
    HRESULT UpdateTexture(IDirect3DBaseTexture9* source, IDirect3DBaseTexture9* dest) override;
    HRESULT GetRenderTargetData(IDirect3DSurface9* renderTarget, IDirect3DSurface9* dest) override;
    HRESULT StretchRect(IDirect3DSurface9* source, const RECT* sourceRect, IDirect3DSurface9* dest,
                        const RECT* destRect, D3DTEXTUREFILTERTYPE filter) override;
    HRESULT ColorFill(IDirect3DSurface9* surface, const RECT* rect, D3DCOLOR color) override;
    HRESULT SetRenderTarget(DWORD index, IDirect3DSurface9* surface) override;
    HRESULT GetRenderTarget(DWORD index, IDirect3DSurface9** surface) override;
    HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT GetMaterial(D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT GetLight(DWORD index, D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT GetLightEnable(DWORD index, BOOL* enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) override;
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT SetScissorRect(const RECT* rect) override;
    HRESULT GetScissorRect(RECT* rect) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT numVertices,
                                 UINT startIndex, UINT primitiveCount) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData,
                            UINT vertexStride) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT SetVertexShader(IDirect3DVertexShader9* shader) override;
    HRESULT GetVertexShader(IDirect3DVertexShader9** shader) override;
    HRESULT SetPixelShader(IDirect3DPixelShader9* shader) override;
    HRESULT GetPixelShader(IDirect3DPixelShader9** shader) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offsetInBytes, UINT stride) override;
    HRESULT GetStreamSource(UINT stream, IDirect3DVertexBuffer9** buffer, UINT* offsetInBytes, UINT* stride) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* indices) override;
    HRESULT GetIndices(IDirect3DIndexBuffer9** indices) override;

    HRESULT PresentEx(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const RGNDATA* dirtyRegion,
                      DWORD flags) override;
    HRESULT CheckDeviceState(HWND destinationWindow) override;
    HRESULT ResetEx(D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode) override;
    HRESULT GetDisplayModeEx(UINT swapChain, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) override;
    HRESULT SetMaximumFrameLatency(UINT maxLatency) override;
    HRESULT GetMaximumFrameLatency(UINT* maxLatency) override;

    // Keeps a copy of every presented picture (A8R8G8B8 rows, top first) for readers
    // such as tests and screenshots.
    void setCapturePresented(bool on);
    // The last captured picture; false when none was presented since capture began.
    bool presentedPicture(std::vector<uint32_t>* pixels, uint32_t* width, uint32_t* height);
    // Lets devices made from now on blend through framebuffer fetch where the driver has it
    // (the default); off, they blend against copies of the picture as without it.
    static void allowFramebufferFetch(bool on);
    // Draw calls OpenGL has seen: all, those of the compositor's layer program, and the
    // plain copies among them.
    struct DrawCounts {
        uint64_t draws = 0, layer = 0, copy = 0;
    };
    DrawCounts drawCounts();
    // The software device underneath (conditions, counters).
    SoftwareDevice* software() const { return inner_; }

private:
    GlDevice(IDirect3D9* parent, SoftwareDevice* inner, bool ex);
    virtual ~GlDevice();

    struct CachedTexture {
        IDirect3DBaseTexture9* held = nullptr;  // our reference keeps the key unique
        bool dirty = true;
        bool whole = true;  // all of level 0 changed, else only the region
        RECT region{};
    };

    bool backBufferIsTarget();
    bool isBackBuffer(IDirect3DSurface9* surface);
    // Copies between the OpenGL picture and the software back buffer around operations
    // that read or write the back buffer's memory.
    void pictureToSoftware();
    void softwareToPicture();
    // The surface's pixels changed (only the rectangle, when given).
    void markWritten(IDirect3DSurface9* surface, const RECT* rect = nullptr);
    void markWritten(IDirect3DBaseTexture9* texture);
    // Brings every texture the stages sample up to date in OpenGL.
    void prepareTextures(GlDrawState* state);
    bool buildState(GlDrawState* state);
    void dropTextures(bool onlyUnused);
    HRESULT drawGl(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, size_t vertexBytes, UINT stride,
                   DWORD fvf, const uint8_t* indices, size_t indexBytes, bool index32, INT baseVertex, UINT startIndex);
    HRESULT afterReset(HRESULT hr);
    HRESULT presentGl(HRESULT softwareResult);

    InterfacePtr<IDirect3D9> parent_;
    SoftwareDevice* inner_;
    const bool ex_;
    std::atomic<ULONG> refs_{1};
    CriticalSection lock_;
    std::unique_ptr<GlWorker> worker_;
    std::unique_ptr<GlRenderer> renderer_;
    std::map<SoftwareTexture*, CachedTexture> textures_;
    bool inScene_ = false;
    bool capture_ = false;
    std::vector<uint32_t> presented_;
    uint32_t presentedWidth_ = 0, presentedHeight_ = 0;
};

// The OpenGL device behind a contract device, when it is one.
GlDevice* glDevice(IDirect3DDevice9* device);

}  // namespace gfx

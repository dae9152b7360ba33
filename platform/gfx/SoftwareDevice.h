#pragma once
// The reference software device: the Direct3D 9 / 9Ex device rules the compositor and the
// frame hand-off rely on, rendering on the CPU with the fixed-function pipeline of
// Rasterizer, and presenting each picture to the window's presentation target.
#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/d3d9/IDirect3D9.h"
#include "framework/d3d9/IDirect3DDevice9.h"
#include "platform/gfx/Rasterizer.h"
#include "platform/gfx/SoftwareAdapter.h"

namespace gfx {

class SoftwareSurface;
class SoftwareTexture;
class SoftwareVertexBuffer;
class SoftwareIndexBuffer;

class SoftwareDevice : public IDirect3DDevice9Ex {
public:
    // Makes a device after the creation checks; *result says why when it gives null.
    // The device starts with one reference for the caller.
    static SoftwareDevice* create(std::shared_ptr<SoftwareAdapter> adapter, IDirect3D9* parent, bool ex,
                                  HWND focusWindow, DWORD behaviorFlags, D3DPRESENT_PARAMETERS* params,
                                  HRESULT* result);

    // IUnknown. The device lives while it has outside references or resources.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IDirect3DDevice9
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

    // IDirect3DDevice9Ex (answered only by devices made through CreateDeviceEx)
    HRESULT PresentEx(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride, const RGNDATA* dirtyRegion,
                      DWORD flags) override;
    HRESULT CheckDeviceState(HWND destinationWindow) override;
    HRESULT ResetEx(D3DPRESENT_PARAMETERS* params, D3DDISPLAYMODEEX* fullscreenMode) override;
    HRESULT GetDisplayModeEx(UINT swapChain, D3DDISPLAYMODEEX* mode, D3DDISPLAYROTATION* rotation) override;
    HRESULT SetMaximumFrameLatency(UINT maxLatency) override;
    HRESULT GetMaximumFrameLatency(UINT* maxLatency) override;

    // Control for tests and the platform.
    void forceCondition(DeviceCondition condition) { condition_.store(condition, std::memory_order_release); }
    DeviceCondition condition() const { return condition_.load(std::memory_order_acquire); }
    bool isEx() const { return ex_; }
    uint64_t presentCount() const { return presents_.load(std::memory_order_relaxed); }
    // Default-pool resources made by the application that are still alive.
    uint32_t defaultPoolResources() const { return defaultPool_.load(std::memory_order_relaxed); }
    // Off: every pixel takes the general path (tests compare both).
    void setFastPaths(bool on) { rasterizer_.setFastPaths(on); }
    const SoftwareAdapter& adapter() const { return *adapter_; }
    CriticalSection& lock() { return lock_; }

    // For resources.
    void retainInternal() { total_.fetch_add(1, std::memory_order_relaxed); }
    void releaseInternal();
    void resourceCreated(D3DPOOL pool);
    void resourceDestroyed(D3DPOOL pool);

private:
    SoftwareDevice(std::shared_ptr<SoftwareAdapter> adapter, IDirect3D9* parent, bool ex);
    ~SoftwareDevice() override;

    HRESULT validateParameters(D3DPRESENT_PARAMETERS* params) const;
    HRESULT buildSwapChain(const D3DPRESENT_PARAMETERS& params);
    void releaseSwapChain();
    void resetStates();
    void unbindAll();
    HRESULT presentLocked(const RECT* sourceRect, HWND override);
    HRESULT resetLocked(D3DPRESENT_PARAMETERS* params, bool ex);
    HRESULT createSurface(UINT width, UINT height, D3DFORMAT format, D3DPOOL pool, DWORD usage, bool lockable,
                          uint32_t use, IDirect3DSurface9** out);
    bool formatAllows(D3DFORMAT format, uint32_t use) const;
    HRESULT draw(D3DPRIMITIVETYPE type, UINT primitiveCount, const uint8_t* vertices, UINT vertexBytes, UINT stride,
                 const uint8_t* indices, UINT indexBytes, D3DFORMAT indexFormat, INT baseVertex,
                 UINT startVertexOrIndex);
    bool buildDrawState(DrawState* state);
    D3DVIEWPORT9 fullViewport() const;

    std::shared_ptr<SoftwareAdapter> adapter_;
    InterfacePtr<IDirect3D9> parent_;
    const bool ex_;
    CriticalSection lock_;
    std::atomic<DeviceCondition> condition_{DeviceCondition::Ok};
    std::atomic<uint64_t> external_{1};
    std::atomic<uint64_t> total_{1};
    std::atomic<uint32_t> defaultPool_{0};
    std::atomic<uint64_t> presents_{0};

    D3DDEVICE_CREATION_PARAMETERS creation_{};
    D3DPRESENT_PARAMETERS params_{};
    std::vector<SoftwareSurface*> backBuffers_;
    SoftwareSurface* autoDepth_ = nullptr;
    UINT frameLatency_ = 3;

    SoftwareSurface* renderTarget_ = nullptr;
    SoftwareSurface* depthStencil_ = nullptr;
    std::array<IDirect3DBaseTexture9*, D3D_MAX_TEXTURE_STAGES> textures_{};
    SoftwareVertexBuffer* stream_ = nullptr;
    UINT streamOffset_ = 0;
    UINT streamStride_ = 0;
    SoftwareIndexBuffer* indices_ = nullptr;
    DWORD fvf_ = 0;
    bool inScene_ = false;

    std::array<DWORD, D3DRS_STATE_COUNT> renderStates_{};
    std::array<std::array<DWORD, D3DSAMP_STATE_COUNT>, D3D_MAX_TEXTURE_STAGES> samplerStates_{};
    std::array<std::array<DWORD, D3DTSS_STATE_COUNT>, D3D_MAX_TEXTURE_STAGES> stageStates_{};
    D3DVIEWPORT9 viewport_{};
    RECT scissor_{};
    std::map<DWORD, D3DMATRIX> transforms_;
    D3DMATERIAL9 material_{};
    std::map<DWORD, D3DLIGHT9> lights_;
    std::map<DWORD, BOOL> lightEnabled_;

    Rasterizer rasterizer_;
    std::vector<uint8_t> presentCopy_;
};

SoftwareDevice* softwareDevice(IDirect3DDevice9* device);

}  // namespace gfx

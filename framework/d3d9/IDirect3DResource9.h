#pragma once
// Resources of the graphics contract: textures, surfaces, vertex and index buffers and the
// shader handles a device may bind. Every resource belongs to the device that made it.
#include "framework/Unknown.h"
#include "framework/d3d9/D3D9Types.h"

struct IDirect3DDevice9;
struct IDirect3DSurface9;

struct IDirect3DResource9 : IUnknown {
    static constexpr GUID iid = guidOf("{05EEC05D-8F7D-4362-B999-D1BAF357C704}");

    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    virtual DWORD SetPriority(DWORD priority) = 0;
    virtual DWORD GetPriority() = 0;
    virtual void PreLoad() = 0;
    virtual D3DRESOURCETYPE GetType() = 0;
};

struct IDirect3DBaseTexture9 : IDirect3DResource9 {
    static constexpr GUID iid = guidOf("{580CA87E-1D3C-4D54-991D-B7D3E3C298CE}");

    virtual DWORD SetLOD(DWORD lod) = 0;
    virtual DWORD GetLOD() = 0;
    virtual DWORD GetLevelCount() = 0;
    virtual HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE filter) = 0;
    virtual D3DTEXTUREFILTERTYPE GetAutoGenFilterType() = 0;
    virtual void GenerateMipSubLevels() = 0;
};

struct IDirect3DTexture9 : IDirect3DBaseTexture9 {
    static constexpr GUID iid = guidOf("{85C31227-3DE5-4F00-9B3A-F11AC38C18B5}");

    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT GetSurfaceLevel(UINT level, IDirect3DSurface9** surface) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;
    virtual HRESULT AddDirtyRect(const RECT* dirty) = 0;
};

struct IDirect3DSurface9 : IDirect3DResource9 {
    static constexpr GUID iid = guidOf("{0CFBAF3A-9FF6-429A-99B3-A2796AF8B89B}");

    // The texture a level belongs to, or the device for a stand-alone surface.
    virtual HRESULT GetContainer(REFIID riid, void** container) = 0;
    virtual HRESULT GetDesc(D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT LockRect(D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect() = 0;
};

struct IDirect3DVertexBuffer9 : IDirect3DResource9 {
    static constexpr GUID iid = guidOf("{B64BB1B5-FD70-4DF6-BF91-19D0A12455E3}");

    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) = 0;
};

struct IDirect3DIndexBuffer9 : IDirect3DResource9 {
    static constexpr GUID iid = guidOf("{7C9DD65E-D3F7-4529-ACEE-785830ACDE35}");

    virtual HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) = 0;
    virtual HRESULT Unlock() = 0;
    virtual HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) = 0;
};

// Shader handles. The compositor binds none; the device accepts only null for them.
struct IDirect3DVertexShader9 : IUnknown {
    static constexpr GUID iid = guidOf("{EFC5557E-6265-4613-8A94-43857889EB36}");

    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
};

struct IDirect3DPixelShader9 : IUnknown {
    static constexpr GUID iid = guidOf("{6D3BDBDC-5B02-4415-B852-CE5E8BCCB289}");

    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
};

#include "graphics/Direct3DLoader.h"

Direct3DLoader::Direct3DLoader(const LibraryTable& library) : library_(library) {}

Direct3DLoader::~Direct3DLoader() {
    // The interfaces come from the module: they go before it is freed.
    d3dEx_.reset();
    d3d_.reset();
    if (module_ && library_.freeLibrary) library_.freeLibrary(module_);
}

HRESULT Direct3DLoader::load() {
    if (d3d_) return S_OK;
    if (!module_) {
        if (!library_.loadLibrary) return E_NOTIMPL;
        module_ = library_.loadLibrary(u"d3d9.dll");
        if (!module_) return E_NOTIMPL;
    }
    auto create = reinterpret_cast<Direct3DCreate9Function>(library_.getProcAddress(module_, "Direct3DCreate9"));
    if (!create) return E_NOTIMPL;
    IDirect3D9* d3d = create(D3D_SDK_VERSION);
    if (!d3d) return E_FAIL;
    d3d_ = InterfacePtr<IDirect3D9>::adopt(d3d);
    if (auto createEx =
            reinterpret_cast<Direct3DCreate9ExFunction>(library_.getProcAddress(module_, "Direct3DCreate9Ex"))) {
        IDirect3D9Ex* ex = nullptr;
        // Its result does not matter: without the object the plain interface is used.
        createEx(D3D_SDK_VERSION, &ex);
        if (ex) d3dEx_ = InterfacePtr<IDirect3D9Ex>::adopt(ex);
    }
    return S_OK;
}

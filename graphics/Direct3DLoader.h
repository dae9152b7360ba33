#pragma once
// Loads the Direct3D runtime ("d3d9.dll") at run time through a library table and keeps
// its entry objects: IDirect3D9 always, IDirect3D9Ex when the runtime offers it.
// Reference-counted: a DisplayConfig and the DrawBase made from it share one loader.
#include "framework/InterfacePtr.h"
#include "framework/LibraryTable.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9.h"

class Direct3DLoader : public RefObject {
public:
    explicit Direct3DLoader(const LibraryTable& library = systemLibraryTable());

    // S_OK once an interface is held; E_NOTIMPL when the module or its creation function
    // is missing; E_FAIL when the creation function gives nothing.
    HRESULT load();

    IDirect3D9* direct3D() const { return d3d_.get(); }
    IDirect3D9Ex* direct3DEx() const { return d3dEx_.get(); }
    HMODULE module() const { return module_; }

protected:
    ~Direct3DLoader() override;

private:
    HMODULE module_ = nullptr;
    LibraryTable library_;
    InterfacePtr<IDirect3D9> d3d_;
    InterfacePtr<IDirect3D9Ex> d3dEx_;
};

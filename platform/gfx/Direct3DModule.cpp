#include "platform/gfx/Direct3DModule.h"

#include "framework/LibraryTable.h"
#include "platform/gfx/GlDirect3D.h"
#include "platform/gfx/SoftwareDirect3D.h"

namespace gfx {

IDirect3D9* softwareDirect3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return SoftwareDirect3D::create(SoftwareAdapter::processAdapter(), false);
}

HRESULT softwareDirect3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (sdkVersion != D3D_SDK_VERSION) return D3DERR_NOTAVAILABLE;
    *out = SoftwareDirect3D::create(SoftwareAdapter::processAdapter(), true);
    return *out ? D3D_OK : E_OUTOFMEMORY;
}

}  // namespace gfx

bool registerDirect3DModule() {
    return registerBuiltinModule(std::string_view("d3d9.dll"),
                                 {BuiltinExport("Direct3DCreate9", &gfx::glDirect3DCreate9),
                                  BuiltinExport("Direct3DCreate9Ex", &gfx::glDirect3DCreate9Ex)});
}

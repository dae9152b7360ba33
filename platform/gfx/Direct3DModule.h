#pragma once
// The built-in "d3d9.dll": its two exports create Direct3D objects on the process adapter
// (gfx::SoftwareAdapter::processAdapter()) whose devices use OpenGL for windows registered
// with gfx::registerGlWindow and the software device otherwise (gfx::GlDirect3D).
#include "framework/d3d9/D3D9.h"

// Puts "d3d9.dll" with "Direct3DCreate9" and "Direct3DCreate9Ex" into the library table.
bool registerDirect3DModule();

namespace gfx {
IDirect3D9* softwareDirect3DCreate9(UINT sdkVersion);
HRESULT softwareDirect3DCreate9Ex(UINT sdkVersion, IDirect3D9Ex** out);
}  // namespace gfx

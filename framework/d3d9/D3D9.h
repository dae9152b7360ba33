#pragma once
// The whole graphics contract, and the two entry points a "d3d9.dll" module exports.
#include "framework/d3d9/D3D9Types.h"
#include "framework/d3d9/IDirect3D9.h"
#include "framework/d3d9/IDirect3DDevice9.h"
#include "framework/d3d9/IDirect3DResource9.h"

// "Direct3DCreate9": the entry object for the given SDK version, or null.
using Direct3DCreate9Function = IDirect3D9* (*)(UINT sdkVersion);
// "Direct3DCreate9Ex": S_OK with a new reference in *out, or a failure code.
using Direct3DCreate9ExFunction = HRESULT (*)(UINT sdkVersion, IDirect3D9Ex** out);

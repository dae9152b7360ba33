#pragma once
// The states every frame starts from, installed after device creation and after every
// reset: alpha-tested, alpha-blended, point-sampled, depth-tested layers in painter's order.
#include "framework/d3d9/D3D9.h"

// The first failing call's code, or S_OK.
HRESULT installRenderStateBaseline(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& params);

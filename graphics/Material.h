#pragma once
// The draw states one drawable object asks for. The drawer applies them around the
// object's draw call and puts back what differed from the render-state baseline.
#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"

struct Material {
    DWORD magFilter = D3DTEXF_POINT;
    DWORD minFilter = D3DTEXF_POINT;
    DWORD colorOp = D3DTOP_MODULATE;
    DWORD alphaOp = D3DTOP_MODULATE;
    DWORD srcBlend = D3DBLEND_SRCALPHA;
    DWORD destBlend = D3DBLEND_INVSRCALPHA;
    DWORD blendOp = D3DBLENDOP_ADD;
    DWORD depthFunc = D3DCMP_LESSEQUAL;
    bool depthTest = true;
    // Bound only while the object draws; layers have none.
    InterfacePtr<IDirect3DVertexShader9> vertexShader;
    InterfacePtr<IDirect3DPixelShader9> pixelShader;

    bool hasShaders() const { return vertexShader || pixelShader; }
};

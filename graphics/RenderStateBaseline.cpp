#include "graphics/RenderStateBaseline.h"

namespace {

struct StateValue {
    D3DRENDERSTATETYPE state;
    DWORD value;
};

constexpr StateValue kRenderStates[] = {
    {D3DRS_ZENABLE, D3DZB_TRUE},
    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_CULLMODE, D3DCULL_NONE},
    {D3DRS_ALPHATESTENABLE, TRUE},
    {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
    {D3DRS_ALPHAREF, 0},
    {D3DRS_ALPHABLENDENABLE, TRUE},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {D3DRS_COLORWRITEENABLE, 15},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_CLIPPLANEENABLE, 0},
    {D3DRS_LASTPIXEL, TRUE},
    {D3DRS_FOGENABLE, FALSE},
};

constexpr StateValue kLightingStates[] = {
    {D3DRS_LIGHTING, FALSE},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_COLORVERTEX, TRUE},
};

struct SamplerValue {
    D3DSAMPLERSTATETYPE state;
    DWORD value;
};

constexpr SamplerValue kSampler0[] = {
    {D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP}, {D3DSAMP_MAGFILTER, D3DTEXF_POINT},
    {D3DSAMP_MINFILTER, D3DTEXF_POINT},   {D3DSAMP_MIPFILTER, D3DTEXF_POINT},
};

struct StageValue {
    DWORD stage;
    D3DTEXTURESTAGESTATETYPE state;
    DWORD value;
};

constexpr StageValue kStages[] = {
    {0, D3DTSS_COLOROP, D3DTOP_MODULATE}, {0, D3DTSS_COLORARG1, D3DTA_TEXTURE}, {0, D3DTSS_COLORARG2, D3DTA_CURRENT},
    {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE}, {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {0, D3DTSS_ALPHAARG2, D3DTA_CURRENT},
    {1, D3DTSS_COLOROP, D3DTOP_DISABLE},  {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},  {2, D3DTSS_COLOROP, D3DTOP_DISABLE},
    {2, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};

}  // namespace

HRESULT installRenderStateBaseline(IDirect3DDevice9* device, const D3DPRESENT_PARAMETERS& params) {
    if (!device) return E_POINTER;
    HRESULT first = S_OK;
    auto note = [&first](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
    };
    for (const StateValue& s : kRenderStates) note(device->SetRenderState(s.state, s.value));
    note(device->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, params.MultiSampleType != D3DMULTISAMPLE_NONE));

    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    note(device->SetLight(0, &light));
    note(device->LightEnable(0, TRUE));
    for (const StateValue& s : kLightingStates) note(device->SetRenderState(s.state, s.value));

    for (const SamplerValue& s : kSampler0) note(device->SetSamplerState(0, s.state, s.value));
    for (const StageValue& s : kStages) note(device->SetTextureStageState(s.stage, s.state, s.value));
    return first;
}

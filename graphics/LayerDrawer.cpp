#include "graphics/LayerDrawer.h"

#include <memory>
#include <vector>

#include "graphics/LayerTexture.h"

namespace {

// Baseline values the material rules compare against.
constexpr DWORD kBaseOp = D3DTOP_MODULATE;
constexpr DWORD kBaseFilter = D3DTEXF_POINT;
constexpr DWORD kBaseBlendOp = D3DBLENDOP_ADD;
constexpr DWORD kBaseSrcBlend = D3DBLEND_SRCALPHA;
constexpr DWORD kBaseDestBlend = D3DBLEND_INVSRCALPHA;
constexpr DWORD kBaseZFunc = D3DCMP_LESSEQUAL;

uint32_t primitivesFor(D3DPRIMITIVETYPE type, uint32_t left) {
    switch (type) {
        case D3DPT_POINTLIST:
            return left;
        case D3DPT_LINELIST:
            return left / 2;
        case D3DPT_LINESTRIP:
            return left >= 1 ? left - 1 : 0;
        case D3DPT_TRIANGLELIST:
            return left / 3;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            return left >= 2 ? left - 2 : 0;
        default:
            return 0;
    }
}

}  // namespace

LayerDrawer::LayerDrawer(DrawBase* owner, IDirect3DDevice9* device, uint32_t logicalWidth, uint32_t logicalHeight)
    : owner_(owner), device_(device) {
    setLogicalSize(logicalWidth, logicalHeight);
}

void LayerDrawer::setLogicalSize(uint32_t width, uint32_t height) {
    viewport_ = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
}

HRESULT LayerDrawer::setTarget(IDirect3DSurface9* target) {
    if (!target) return E_POINTER;
    HRESULT hr = device_->SetRenderTarget(0, target);
    if (FAILED(hr)) return hr;
    target_ = target;
    return S_OK;
}

HRESULT LayerDrawer::beginScene() {
    if (inScene_) return S_OK;
    HRESULT hr = device_->BeginScene();
    if (FAILED(hr)) return hr;
    device_->SetViewport(&viewport_);
    inScene_ = true;
    return S_OK;
}

HRESULT LayerDrawer::endScene() {
    inScene_ = false;
    return device_->EndScene();
}

bool LayerDrawer::clear(const RECT* rect, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) {
    if (rect) {
        D3DRECT r{rect->left, rect->top, rect->right, rect->bottom};
        return SUCCEEDED(device_->Clear(1, &r, flags, colour, z, stencil));
    }
    return SUCCEEDED(device_->Clear(0, nullptr, flags, colour, z, stencil));
}

bool LayerDrawer::drawObjects(RefObject* const* objects, uint32_t count, uint32_t primary, const D3DMATRIX* world,
                              uint32_t first, uint32_t elementCount) {
    if (!inScene_ || !objects || primary >= count || count > D3D_MAX_TEXTURE_STAGES) return false;
    std::vector<InterfacePtr<LayerTexture>> layers(count);
    for (uint32_t i = 0; i < count; ++i) {
        void* found = nullptr;
        if (!objects[i] || !objects[i]->queryIdentifier(kDrawableIdentifier, &found)) return false;
        layers[i] = InterfacePtr<LayerTexture>::adopt(static_cast<LayerTexture*>(found));
    }
    // The loss walks and uploads from media threads change these objects; hold them still.
    std::vector<std::unique_ptr<ScopedLock>> holds;
    for (auto& layer : layers) holds.push_back(std::make_unique<ScopedLock>(layer->objectLock()));

    Mesh& mesh = layers[primary]->mesh();
    // Without a vertex buffer (never uploaded, or refused by the device) there is nothing
    // to draw; the frame goes on with the next object.
    if (!mesh.vertexBuffer()) return false;
    for (auto& layer : layers)
        if (!layer->texture()) return false;
    bool indexed = mesh.isIndexed() && mesh.indexBuffer();
    uint32_t elements = indexed ? mesh.indexCount() : mesh.vertexCount();
    if (first >= elements) return false;
    if (elementCount == 0) elementCount = primitivesFor(mesh.primitiveType(), elements - first);
    if (elementCount == 0) return false;

    device_->SetFVF(mesh.vertexFormat());
    device_->SetStreamSource(0, mesh.vertexBuffer(), 0, UINT(mesh.vertexStride()));
    if (indexed) device_->SetIndices(mesh.indexBuffer());
    if (world && (mesh.vertexFormat() & D3DFVF_POSITION_MASK) != D3DFVF_XYZRHW)
        device_->SetTransform(D3DTS_WORLD, world);

    struct Changed {
        bool colorOp = false, alphaOp = false, magFilter = false, minFilter = false;
        bool blendOp = false, srcBlend = false, destBlend = false, zFunc = false, zEnable = false, shaders = false;
    };
    std::vector<Changed> changed(count);
    for (uint32_t i = 0; i < count; ++i) {
        const Material& m = layers[i]->material();
        Changed& c = changed[i];
        device_->SetTexture(i, layers[i]->texture());
        if (i == 0) {
            if (m.colorOp != kBaseOp)
                c.colorOp = SUCCEEDED(device_->SetTextureStageState(0, D3DTSS_COLOROP, m.colorOp));
            if (m.alphaOp != kBaseOp)
                c.alphaOp = SUCCEEDED(device_->SetTextureStageState(0, D3DTSS_ALPHAOP, m.alphaOp));
        } else {
            device_->SetTextureStageState(i, D3DTSS_COLOROP, m.colorOp);
            device_->SetTextureStageState(i, D3DTSS_ALPHAOP, m.alphaOp);
        }
        device_->SetSamplerState(i, D3DSAMP_MAGFILTER, m.magFilter);
        device_->SetSamplerState(i, D3DSAMP_MINFILTER, m.minFilter);
        c.magFilter = m.magFilter != kBaseFilter;
        c.minFilter = m.minFilter != kBaseFilter;
        if (i != 0) device_->SetSamplerState(i, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        if (i == primary) {
            if (m.blendOp != kBaseBlendOp) c.blendOp = SUCCEEDED(device_->SetRenderState(D3DRS_BLENDOP, m.blendOp));
            if (m.srcBlend != kBaseSrcBlend)
                c.srcBlend = SUCCEEDED(device_->SetRenderState(D3DRS_SRCBLEND, m.srcBlend));
            if (m.destBlend != kBaseDestBlend)
                c.destBlend = SUCCEEDED(device_->SetRenderState(D3DRS_DESTBLEND, m.destBlend));
            if (m.depthFunc != kBaseZFunc) c.zFunc = SUCCEEDED(device_->SetRenderState(D3DRS_ZFUNC, m.depthFunc));
            if (!m.depthTest) c.zEnable = SUCCEEDED(device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE));
            if (m.hasShaders()) {
                device_->SetVertexShader(m.vertexShader.get());
                device_->SetPixelShader(m.pixelShader.get());
                c.shaders = true;
            }
        }
    }

    HRESULT hr =
        indexed ? device_->DrawIndexedPrimitive(mesh.primitiveType(), 0, 0, mesh.vertexCount(), first, elementCount)
                : device_->DrawPrimitive(mesh.primitiveType(), first, elementCount);

    for (uint32_t k = count; k-- > 0;) {
        const Changed& c = changed[k];
        if (k == primary) {
            if (c.shaders) {
                device_->SetVertexShader(nullptr);
                device_->SetPixelShader(nullptr);
            }
            if (c.zEnable) device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            if (c.zFunc) device_->SetRenderState(D3DRS_ZFUNC, kBaseZFunc);
            if (c.srcBlend) device_->SetRenderState(D3DRS_SRCBLEND, kBaseSrcBlend);
            if (c.destBlend) device_->SetRenderState(D3DRS_DESTBLEND, kBaseDestBlend);
            if (c.blendOp) device_->SetRenderState(D3DRS_BLENDOP, kBaseBlendOp);
        }
        if (k == 0) {
            if (c.magFilter) device_->SetSamplerState(0, D3DSAMP_MAGFILTER, kBaseFilter);
            if (c.minFilter) device_->SetSamplerState(0, D3DSAMP_MINFILTER, kBaseFilter);
            if (c.colorOp) device_->SetTextureStageState(0, D3DTSS_COLOROP, kBaseOp);
            if (c.alphaOp) device_->SetTextureStageState(0, D3DTSS_ALPHAOP, kBaseOp);
        }
        device_->SetTexture(k, nullptr);
    }
    if (indexed) device_->SetIndices(nullptr);
    device_->SetStreamSource(0, nullptr, 0, 0);
    return SUCCEEDED(hr);
}

void LayerDrawer::releaseDeviceObjects() {
    inScene_ = false;
    target_.reset();
}

HRESULT LayerDrawer::rebuildDeviceObjects() {
    // The presenter points the drawer at its target again as it rebuilds; the viewport
    // is set at the next scene.
    return S_OK;
}

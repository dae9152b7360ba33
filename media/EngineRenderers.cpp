#include "media/EngineRenderers.h"

#include <new>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "media/SurfaceRenderer.h"
#include "media/TextureRenderer.h"

namespace {

template <class R>
HRESULT make(IDirect3DDevice9* device, TextureFactory* textureFactory, IBaseFilter** filter,
             VideoFrameSource** frameSource) {
    HRESULT hr = S_OK;
    InterfacePtr<R> renderer(new (std::nothrow) R(device, &hr));
    if (!renderer) return E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    renderer->setFormats(textureFactory);
    *frameSource = &renderer->frameSource();
    *filter = renderer.detach();
    return S_OK;
}

}  // namespace

HRESULT createEngineRenderer(EngineRendererKind kind, IDirect3DDevice9* device, TextureFactory* textureFactory,
                             IBaseFilter** filter, VideoFrameSource** frameSource) {
    if (!filter || !frameSource) return E_POINTER;
    *filter = nullptr;
    *frameSource = nullptr;
    if (kind == EngineRendererKind::Surface) return make<SurfaceRenderer>(device, textureFactory, filter, frameSource);
    return make<TextureRenderer>(device, textureFactory, filter, frameSource);
}

const char16_t* engineRendererName(EngineRendererKind kind) {
    return kind == EngineRendererKind::Surface ? SurfaceRenderer::kName : TextureRenderer::kName;
}

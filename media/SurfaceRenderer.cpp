#include "media/SurfaceRenderer.h"

#include "graphics/PixelFormat.h"
#include "graphics/TextureFactory.h"

SurfaceRenderer::SurfaceRenderer(IUnknown* device, HRESULT* phr)
    : FrameRenderer(kClassId, kName, VideoFrameSource::TargetKind::Image, device, phr) {}

HRESULT SurfaceRenderer::create(REFIID riid, void** out) {
    return createAs<SurfaceRenderer>(nullptr, riid, out);
}

HRESULT SurfaceRenderer::create(IUnknown* device, REFIID riid, void** out) {
    return createAs<SurfaceRenderer>(device, riid, out);
}

void SurfaceRenderer::setFormats(TextureFactory* factory) {
    if (factory) {
        setAcceptedFormats(uint32_t(pixelFormatOfD3dFormat(factory->defaultFormat(false))),
                           uint32_t(pixelFormatOfD3dFormat(factory->defaultFormat(true))));
        return;
    }
    const int32_t desktop = desktopPixelFormat();
    setAcceptedFormats(uint32_t(desktop), uint32_t(pixelFormatWithAlpha(desktop)));
}

uint32_t SurfaceRenderer::formatCodeOf(const VideoFormat& row) const {
    return uint32_t(row.pixelFormat);
}

int32_t SurfaceRenderer::desktopPixelFormat() const {
    // The display mode's format is the desktop's depth; without a device to ask, the
    // 32-bit desktop every supported display runs.
    if (IDirect3DDevice9* d = device()) {
        D3DDISPLAYMODE mode{};
        if (SUCCEEDED(d->GetDisplayMode(0, &mode))) {
            const int32_t format = pixelFormatOfD3dFormat(mode.Format);
            if (format != 0) return pixelFormatFromDepth(pixelFormatBytes(format) * 8);
        }
    }
    return pixelFormatFromDepth(32);
}

#include "media/TextureRenderer.h"

#include "graphics/TextureFactory.h"

TextureRenderer::TextureRenderer(IUnknown* device, HRESULT* phr)
    : FrameRenderer(kClassId, kName, VideoFrameSource::TargetKind::Texture, device, phr) {}

HRESULT TextureRenderer::create(REFIID riid, void** out) {
    return createAs<TextureRenderer>(nullptr, riid, out);
}

HRESULT TextureRenderer::create(IUnknown* device, REFIID riid, void** out) {
    return createAs<TextureRenderer>(device, riid, out);
}

void TextureRenderer::setFormats(TextureFactory* factory) {
    if (!factory) return;
    setAcceptedFormats(factory->defaultFormat(false), factory->defaultFormat(true));
}

uint32_t TextureRenderer::formatCodeOf(const VideoFormat& row) const {
    return row.textureFormat;
}

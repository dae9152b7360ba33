#pragma once
// The video renderer that copies each picture into the compositor texture attached to
// its frame source. It accepts the texture factory's two default texture formats.
#include "framework/Guid.h"
#include "media/FrameRenderer.h"

class TextureRenderer : public FrameRenderer {
public:
    static constexpr const char16_t* kName = u"Texture Renderer";
    static constexpr CLSID kClassId = guidOf("{682A520D-39B7-4875-B37F-04BB125B2BAD}");

    TextureRenderer(IUnknown* device, HRESULT* phr);

    // Without a device (the class-registry form) and with the compositor's device.
    static HRESULT create(REFIID riid, void** out);
    static HRESULT create(IUnknown* device, REFIID riid, void** out);

    // The opaque default format first, then the one with alpha; both stay 0 without a factory.
    void setFormats(TextureFactory* factory) override;

protected:
    uint32_t formatCodeOf(const VideoFormat& row) const override;
};

#pragma once
// The video renderer that copies each picture into a plain system-memory Image attached
// to its frame source. Its accepted formats are pixel format numbers.
#include "framework/Guid.h"
#include "media/FrameRenderer.h"

class SurfaceRenderer : public FrameRenderer {
public:
    static constexpr const char16_t* kName = u"Surface Renderer";
    static constexpr CLSID kClassId = guidOf("{448F762D-03F7-4DBB-87FD-C76C83C443E9}");

    SurfaceRenderer(IUnknown* device, HRESULT* phr);

    static HRESULT create(REFIID riid, void** out);
    static HRESULT create(IUnknown* device, REFIID riid, void** out);

    // The factory's default texture formats as pixel formats; without a factory, the
    // desktop's format and its alpha variant.
    void setFormats(TextureFactory* factory) override;

protected:
    uint32_t formatCodeOf(const VideoFormat& row) const override;

private:
    int32_t desktopPixelFormat() const;
};

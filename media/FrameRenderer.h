#pragma once
// What the engine's two video renderers share: the accepted formats, the media-type
// checks against the video format table, the stride rule, drawing never ahead of a
// picture's time, and the copy of each picture into the attached target through the
// frame source. A derived renderer says which code of a table row it compares and
// where its two accepted formats come from.
#include <atomic>
#include <cstdint>
#include <new>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "framework/dshow/CBaseVideoRenderer.h"
#include "media/VideoFormatTable.h"
#include "media/VideoFrameSource.h"

class TextureFactory;

class FrameRenderer : public CBaseVideoRenderer {
public:
    VideoFrameSource& frameSource() { return frameSource_; }
    IDirect3DDevice9* device() const { return device_.get(); }
    uint32_t acceptedFormat(int index) const { return index == 0 ? accepted0_.load() : accepted1_.load(); }

    // Learns the two formats it may accept; called once after construction.
    virtual void setFormats(TextureFactory* factory) = 0;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStart, REFERENCE_TIME* ptrEnd) override;
    HRESULT DoRenderSample(IMediaSample* pMediaSample) override;

protected:
    // device may be null; when given it must answer IDirect3DDevice9, else *phr gets the
    // query's error.
    FrameRenderer(REFCLSID clsid, const char16_t* name, VideoFrameSource::TargetKind kind, IUnknown* device,
                  HRESULT* phr);
    ~FrameRenderer() override;

    // The row's code this renderer compares with its accepted formats (0: row not usable).
    virtual uint32_t formatCodeOf(const VideoFormat& row) const = 0;
    void setAcceptedFormats(uint32_t format0, uint32_t format1);

    // Makes a renderer of type R and answers riid from it (the class-registry form).
    template <class R>
    static HRESULT createAs(IUnknown* device, REFIID riid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = S_OK;
        auto* renderer = new (std::nothrow) R(device, &hr);
        if (!renderer) return E_OUTOFMEMORY;
        renderer->AddRef();
        if (SUCCEEDED(hr)) hr = renderer->QueryInterface(riid, out);
        renderer->Release();
        return hr;
    }

private:
    InterfacePtr<IDirect3DDevice9> device_;
    std::atomic<uint32_t> accepted0_{0};
    std::atomic<uint32_t> accepted1_{0};
    VideoFrameSource frameSource_;
};

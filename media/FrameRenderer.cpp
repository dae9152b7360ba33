#include "media/FrameRenderer.h"

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"

FrameRenderer::FrameRenderer(REFCLSID clsid, const char16_t* name, VideoFrameSource::TargetKind kind, IUnknown* device,
                             HRESULT* phr)
    : CBaseVideoRenderer(clsid, name, phr), frameSource_(kind) {
    if (phr && FAILED(*phr)) return;
    // The frame source's event is made with it and cannot fail here; only the device
    // query can.
    if (!device) return;
    HRESULT hr = device->QueryInterface(IDirect3DDevice9::iid, device_.putVoid());
    if (phr && FAILED(hr)) *phr = hr;
}

FrameRenderer::~FrameRenderer() = default;

void FrameRenderer::setAcceptedFormats(uint32_t format0, uint32_t format1) {
    accepted0_ = format0;
    accepted1_ = format1;
}

HRESULT FrameRenderer::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Video) return VFW_E_INVALIDMEDIATYPE;
    if (pmt->formattype != FORMAT_VideoInfo && pmt->formattype != FORMAT_VideoInfo2) return VFW_E_NO_TYPES;
    // A block too short for its bitmap header cannot describe a picture.
    if (!bitmapHeaderOf(pmt->formattype, pmt->pbFormat, pmt->cbFormat)) return VFW_E_NO_TYPES;
    const VideoFormat* row = findVideoFormat(pmt->subtype);
    const uint32_t code = row ? formatCodeOf(*row) : 0;
    if (code == 0) return VFW_E_INVALIDSUBTYPE;
    const uint32_t format0 = accepted0_.load(), format1 = accepted1_.load();
    if ((format0 == 0 && format1 == 0) || code == format0 || code == format1) return S_OK;
    return VFW_E_INVALIDSUBTYPE;
}

HRESULT FrameRenderer::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    const BITMAPINFOHEADER* header = bitmapHeaderOf(pmt->formattype, pmt->pbFormat, pmt->cbFormat);
    if (!header) return VFW_E_NO_TYPES;
    // Rows are padded to four bytes; 64-bit so that no header can overflow it.
    const int64_t stride = ((int64_t(header->biWidth) * header->biBitCount / 8) + 3) & ~int64_t(3);
    frameSource_.setLayout(header->biWidth, header->biHeight, stride);
    if (const VideoFormat* row = findVideoFormat(pmt->subtype))
        frameSource_.setFormats(row->pixelFormat, row->textureFormat);
    return S_OK;
}

HRESULT FrameRenderer::ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStart,
                                           REFERENCE_TIME* ptrEnd) {
    HRESULT hr = CBaseVideoRenderer::ShouldDrawSampleNow(pMediaSample, ptrStart, ptrEnd);
    if (FAILED(hr)) {
        // The base drops only pictures far too late; the owner sees them counted.
        frameSource_.noteDropped();
        return hr;
    }
    // Never early: even a late picture goes through the clock's wait.
    return S_FALSE;
}

HRESULT FrameRenderer::DoRenderSample(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    BYTE* data = nullptr;
    if (FAILED(pMediaSample->GetPointer(&data))) data = nullptr;
    // The buffer's size, not its data length, bounds what is read.
    const LONG size = data ? pMediaSample->GetSize() : 0;
    return frameSource_.deliver(data, size > 0 ? size_t(size) : 0);
}

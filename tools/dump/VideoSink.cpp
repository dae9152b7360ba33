#include "tools/dump/VideoSink.h"

#include <cstddef>
#include <cstring>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"

VideoSink::VideoSink(HRESULT* phr) : CBaseRenderer(kClassId, kName, phr) {}

void VideoSink::setHandler(Handler handler) {
    std::lock_guard hold(mutex_);
    finished_ = !handler;
    handler_ = std::move(handler);
}

VideoSink::Layout VideoSink::layout() const {
    std::lock_guard hold(mutex_);
    return layout_;
}

bool VideoSink::layoutOf(const AM_MEDIA_TYPE& mt, Layout* layout) {
    if (mt.majortype != MEDIATYPE_Video) return false;
    if (mt.subtype != MEDIASUBTYPE_RGB32 && mt.subtype != MEDIASUBTYPE_ARGB32) return false;
    if (mt.formattype != FORMAT_VideoInfo && mt.formattype != FORMAT_VideoInfo2) return false;
    const BITMAPINFOHEADER* header = bitmapHeaderOf(mt.formattype, mt.pbFormat, mt.cbFormat);
    if (!header || header->biBitCount != 32) return false;
    const int64_t height = header->biHeight;
    if (header->biWidth < 1 || header->biWidth > kMaxDimension || height == 0 || height < -kMaxDimension ||
        height > kMaxDimension)
        return false;
    // Both video-info blocks keep the frame time at the same place.
    REFERENCE_TIME frame = 0;
    std::memcpy(&frame, mt.pbFormat + offsetof(VIDEOINFOHEADER, AvgTimePerFrame), sizeof frame);
    Layout l;
    l.width = uint32_t(header->biWidth);
    l.height = uint32_t(height < 0 ? -height : height);
    l.alpha = mt.subtype == MEDIASUBTYPE_ARGB32;
    l.bottomUp = height > 0;
    l.stride = size_t(l.width) * 4;
    l.frameDuration = frame > 0 ? frame : 0;
    *layout = l;
    return true;
}

HRESULT VideoSink::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    Layout l;
    return layoutOf(*pmt, &l) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoSink::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    Layout l;
    if (!layoutOf(*pmt, &l)) return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard hold(mutex_);
    layout_ = l;
    return S_OK;
}

HRESULT VideoSink::DoRenderSample(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    std::lock_guard hold(mutex_);
    const uint64_t index = received_++;
    if (!handler_ || finished_.load()) return S_OK;
    const Layout l = layout_;
    BYTE* data = nullptr;
    const LONG size = pMediaSample->GetSize();
    const size_t needed = l.stride * l.height;
    if (FAILED(pMediaSample->GetPointer(&data)) || !data || size <= 0 || size_t(size) < needed || needed == 0) {
        ++rejected_;
        return S_OK;
    }
    const size_t row = size_t(l.width) * 4;
    picture_.resize(row * l.height);
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint8_t* in = data + (l.bottomUp ? size_t(l.height - 1 - y) : size_t(y)) * l.stride;
        uint8_t* out = picture_.data() + size_t(y) * row;
        std::memcpy(out, in, row);
        // An opaque picture's fourth byte means nothing; make it plain opaque.
        if (!l.alpha)
            for (uint32_t x = 0; x < l.width; ++x) out[4 * x + 3] = 0xFF;
    }
    Picture p;
    p.index = index;
    p.width = l.width;
    p.height = l.height;
    p.alpha = l.alpha;
    p.bgra = picture_.data();
    if (!handler_(p)) finished_ = true;
    return S_OK;
}

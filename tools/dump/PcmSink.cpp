#include "tools/dump/PcmSink.h"

#include "framework/dshow/DshowErrors.h"
#include "platform/dshow/AudioRendererFormat.h"

PcmSink::PcmSink(HRESULT* phr) : CBaseRenderer(kClassId, kName, phr) {}

void PcmSink::setHandler(Handler handler) {
    std::lock_guard hold(mutex_);
    finished_ = !handler;
    handler_ = std::move(handler);
}

std::optional<AudioFormat> PcmSink::format() const {
    std::lock_guard hold(mutex_);
    return format_;
}

HRESULT PcmSink::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    return audioFormatFromMediaType(*pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT PcmSink::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    std::optional<AudioFormat> f = audioFormatFromMediaType(*pmt);
    if (!f) return VFW_E_TYPE_NOT_ACCEPTED;
    std::lock_guard hold(mutex_);
    format_ = f;
    return S_OK;
}

HRESULT PcmSink::DoRenderSample(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    BYTE* data = nullptr;
    if (FAILED(pMediaSample->GetPointer(&data)) || !data) return S_OK;
    // The data length says how much sound the sample carries; the buffer bounds it.
    LONG length = pMediaSample->GetActualDataLength();
    const LONG size = pMediaSample->GetSize();
    if (length < 0) length = 0;
    if (length > size) length = size > 0 ? size : 0;
    std::lock_guard hold(mutex_);
    receivedBytes_ += uint64_t(length);
    if (!handler_ || finished_.load() || length == 0 || !format_) return S_OK;
    if (!handler_(*format_, data, size_t(length))) finished_ = true;
    return S_OK;
}

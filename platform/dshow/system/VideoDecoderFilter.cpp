#include "platform/dshow/system/VideoDecoderFilter.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "framework/InterfacePtr.h"
#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/MediaType.h"
#include "platform/dshow/system/SystemClassIds.h"

namespace {

const GUID& subtypeOf(PictureFormat f) {
    switch (f) {
        case PictureFormat::Yv12:
            return MEDIASUBTYPE_YV12;
        case PictureFormat::I420:
            return MEDIASUBTYPE_I420;
        default:
            return MEDIASUBTYPE_RGB32;
    }
}

bool formatOf(const GUID& subtype, PictureFormat* f) {
    if (subtype == MEDIASUBTYPE_YV12)
        *f = PictureFormat::Yv12;
    else if (subtype == MEDIASUBTYPE_I420 || subtype == MEDIASUBTYPE_IYUV)
        *f = PictureFormat::I420;
    else if (subtype == MEDIASUBTYPE_RGB32)
        *f = PictureFormat::Rgb32;
    else
        return false;
    return true;
}

}  // namespace

VideoDecoderFilter::VideoDecoderFilter(Kind kind, HRESULT* phr)
    : SystemDecoderFilter(kind == Kind::Mpeg ? u"MPEG Video Decoder" : u"Video Decoder",
                          kind == Kind::Mpeg ? CLSID_CMpegVideoCodec : CLSID_SystemVideoDecoder, phr),
      kind_(kind) {}

bool VideoDecoderFilter::acceptsCodec(const AVCodecParameters& par) {
    if (par.codec_type != AVMEDIA_TYPE_VIDEO) return false;
    bool mpeg = par.codec_id == AV_CODEC_ID_MPEG1VIDEO || par.codec_id == AV_CODEC_ID_MPEG2VIDEO;
    return kind_ == Kind::Mpeg ? mpeg : true;
}

int VideoDecoderFilter::decoderThreads() {
#if defined(__SANITIZE_THREAD__)
    // The sanitizer cannot see libavcodec's own synchronisation between its threads.
    return 1;
#else
    return 2;
#endif
}

std::vector<PictureFormat> VideoDecoderFilter::formatsFor(int width) {
    if (width & 1) return {PictureFormat::Rgb32};
    return {PictureFormat::Yv12, PictureFormat::I420, PictureFormat::Rgb32};
}

void VideoDecoderFilter::describeOutput(PictureFormat format, int width, int height, REFERENCE_TIME frameTime,
                                        CMediaType* out) {
    PictureLayout l = pictureLayout(format, width, height);
    out->InitMediaType();
    out->SetType(&MEDIATYPE_Video);
    out->SetSubtype(&subtypeOf(format));
    out->SetFormatType(&FORMAT_VideoInfo);
    out->SetSampleSize(static_cast<ULONG>(l.imageSize));
    out->SetTemporalCompression(FALSE);
    auto* v = reinterpret_cast<VIDEOINFOHEADER*>(out->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    if (!v) return;
    v->rcSource = RECT{0, 0, width, height};
    v->rcTarget = v->rcSource;
    v->AvgTimePerFrame = frameTime;
    v->dwBitRate = static_cast<DWORD>(std::min<int64_t>(
        frameTime > 0 ? int64_t{l.imageSize} * 8 * UNITS / frameTime : 0, std::numeric_limits<DWORD>::max()));
    BITMAPINFOHEADER& b = v->bmiHeader;
    b.biSize = sizeof(BITMAPINFOHEADER);
    b.biWidth = width;
    // RGB rows run top-down, which a negative height says; planar pictures always do.
    b.biHeight = format == PictureFormat::Rgb32 ? -height : height;
    b.biPlanes = 1;
    b.biBitCount = format == PictureFormat::Rgb32 ? 32 : 12;
    b.biCompression = format == PictureFormat::Rgb32 ? BI_RGB : subtypeOf(format).Data1;
    b.biSizeImage = static_cast<DWORD>(l.imageSize);
}

REFERENCE_TIME VideoDecoderFilter::frameTime() const {
    return inputFrameTime() > 0 ? inputFrameTime() : kDefaultFrameTime;
}

HRESULT VideoDecoderFilter::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    const AVCodecParameters* par = inputParameters();
    if (!par) return VFW_S_NO_MORE_ITEMS;
    std::vector<PictureFormat> formats = formatsFor(par->width);
    if (static_cast<size_t>(iPosition) >= formats.size()) return VFW_S_NO_MORE_ITEMS;
    describeOutput(formats[static_cast<size_t>(iPosition)], par->width, par->height, inputFrameTime(), pMediaType);
    return S_OK;
}

HRESULT VideoDecoderFilter::CheckTransform(const CMediaType* mtIn, const CMediaType* mtOut) {
    if (!mtIn || !mtOut) return E_POINTER;
    HRESULT hr = CheckInputType(mtIn);
    if (hr != S_OK) return hr;
    const AVCodecParameters* par = inputParameters();
    if (!par) return VFW_E_TYPE_NOT_ACCEPTED;
    PictureFormat format;
    if (mtOut->majortype != MEDIATYPE_Video || !formatOf(mtOut->subtype, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    std::vector<PictureFormat> formats = formatsFor(par->width);
    if (std::find(formats.begin(), formats.end(), format) == formats.end()) return VFW_E_TYPE_NOT_ACCEPTED;
    const BITMAPINFOHEADER* b = bitmapHeaderOf(mtOut->formattype, mtOut->pbFormat, mtOut->cbFormat);
    if (!b || b->biWidth != par->width || b->biHeight == std::numeric_limits<LONG>::min() ||
        std::abs(b->biHeight) != par->height)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if (format == PictureFormat::Rgb32 && connectingTo_ && converterWaitsBeside(connectingTo_))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT VideoDecoderFilter::SetMediaType(PIN_DIRECTION direction, const CMediaType* pmt) {
    HRESULT hr = SystemDecoderFilter::SetMediaType(direction, pmt);
    if (FAILED(hr) || direction != PINDIR_OUTPUT) return hr;
    PictureFormat format;
    const BITMAPINFOHEADER* b = bitmapHeaderOf(pmt->formattype, pmt->pbFormat, pmt->cbFormat);
    const AVCodecParameters* par = inputParameters();
    if (!par || !b || !formatOf(pmt->subtype, &format)) return VFW_E_TYPE_NOT_ACCEPTED;
    writer_.configure(format, par->width, par->height, b->biHeight > 0);
    return writer_.layout().imageSize > 0 ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoDecoderFilter::CheckConnect(PIN_DIRECTION dir, IPin* pPin) {
    if (dir == PINDIR_OUTPUT) connectingTo_ = pPin;
    return S_OK;
}

HRESULT VideoDecoderFilter::CompleteConnect(PIN_DIRECTION dir, IPin*) {
    if (dir == PINDIR_OUTPUT) connectingTo_ = nullptr;
    return S_OK;
}

HRESULT VideoDecoderFilter::BreakConnect(PIN_DIRECTION dir) {
    if (dir == PINDIR_OUTPUT) connectingTo_ = nullptr;
    return SystemDecoderFilter::BreakConnect(dir);
}

bool VideoDecoderFilter::converterWaitsBeside(IPin* peer) {
    const AVCodecParameters* par = inputParameters();
    IFilterGraph* graph = GetFilterGraph();
    if (!par || !graph || (par->width & 1)) return false;
    CMediaType planar;
    describeOutput(PictureFormat::Yv12, par->width, par->height, inputFrameTime(), &planar);
    // The pin being connected takes planar pictures itself: nothing to prefer.
    if (peer->QueryAccept(&planar) == S_OK) return false;
    // Filters on either side of this one are not converters beside it; the one upstream
    // is also locked while it connects to us, so it is never looked into from here.
    auto filterOfPin = [](IPin* pin) {
        PIN_INFO info{};
        if (!pin || FAILED(pin->QueryPinInfo(&info))) return InterfacePtr<IBaseFilter>();
        return InterfacePtr<IBaseFilter>::adopt(info.pFilter);
    };
    InterfacePtr<IBaseFilter> peerFilter = filterOfPin(peer);
    InterfacePtr<IBaseFilter> upstream = filterOfPin(m_pInput ? m_pInput->GetConnected() : nullptr);

    bool found = false;
    InterfacePtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.put())) || !filters) return false;
    IBaseFilter* f = nullptr;
    while (!found && filters->Next(1, &f, nullptr) == S_OK) {
        InterfacePtr<IBaseFilter> filter = InterfacePtr<IBaseFilter>::adopt(f);
        if (f == static_cast<IBaseFilter*>(this) || f == peerFilter.get() || f == upstream.get()) continue;
        InterfacePtr<IEnumPins> pins;
        if (FAILED(f->EnumPins(pins.put())) || !pins) continue;
        IPin* p = nullptr;
        while (!found && pins->Next(1, &p, nullptr) == S_OK) {
            InterfacePtr<IPin> pin = InterfacePtr<IPin>::adopt(p);
            PIN_DIRECTION d;
            IPin* connected = nullptr;
            if (FAILED(p->QueryDirection(&d)) || d != PINDIR_INPUT) continue;
            if (SUCCEEDED(p->ConnectedTo(&connected)) && connected) {
                connected->Release();
                continue;
            }
            found = p->QueryAccept(&planar) == S_OK;
        }
    }
    return found;
}

HRESULT VideoDecoderFilter::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    if (!pAlloc || !pProp) return E_POINTER;
    LONG size = writer_.layout().imageSize;
    if (size <= 0) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES wanted = *pProp;
    wanted.cBuffers = std::max<LONG>(pProp->cBuffers, 3);
    wanted.cbBuffer = std::max(pProp->cbBuffer, size);
    if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < size || actual.cBuffers < 1 ? E_OUTOFMEMORY : S_OK;
}

void VideoDecoderFilter::resetStream() {
    haveNextTime_ = false;
    nextTime_ = 0;
    discontinuity_ = true;
}

HRESULT VideoDecoderFilter::deliverFrame(AVFrame* frame) {
    REFERENCE_TIME duration = frame->pkt_duration > 0 ? frame->pkt_duration : frameTime();
    int64_t best = frame->best_effort_timestamp;
    REFERENCE_TIME start = best != AV_NOPTS_VALUE ? best : (haveNextTime_ ? nextTime_ : 0);
    REFERENCE_TIME stop = start + duration;
    nextTime_ = stop;
    haveNextTime_ = true;
    // Decoded only to reach the segment start.
    if (stop <= 0) return S_OK;

    IMediaSample* out = outputSample();
    if (!out) return S_FALSE;
    BYTE* data = nullptr;
    HRESULT hr = S_OK;
    if (FAILED(out->GetPointer(&data)) || !writer_.write(*frame, data, out->GetSize())) {
        // A picture that cannot be converted is skipped; the next one marks the gap.
        out->Release();
        discontinuity_ = true;
        return S_OK;
    }
    out->SetActualDataLength(writer_.layout().imageSize);
    out->SetTime(&start, &stop);
    out->SetMediaTime(nullptr, nullptr);
    out->SetSyncPoint(TRUE);
    out->SetPreroll(FALSE);
    out->SetDiscontinuity(discontinuity_);
    discontinuity_ = false;
    hr = m_pOutput->Deliver(out);
    out->Release();
    return hr;
}

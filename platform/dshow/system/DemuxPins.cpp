#include "platform/dshow/system/DemuxPins.h"

#include <algorithm>
#include <cstring>

#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/system/DemuxFilter.h"

// ---- Input ----

DemuxInputPin::DemuxInputPin(DemuxFilter* filter, CriticalSection* lock, HRESULT* phr)
    : CBasePin(u"Input", filter, lock, phr, u"Input", PINDIR_INPUT), demux_(filter) {}

HRESULT DemuxInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Stream) return VFW_E_TYPE_NOT_ACCEPTED;
    return demux_->acceptsSubtype(pmt->subtype) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT DemuxInputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    const auto& subtypes = demux_->filterClass().subtypes;
    if (static_cast<size_t>(iPosition) >= subtypes.size()) return VFW_S_NO_MORE_ITEMS;
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Stream);
    pMediaType->SetSubtype(&subtypes[static_cast<size_t>(iPosition)].subtype);
    pMediaType->SetSampleSize(1);
    return S_OK;
}

HRESULT DemuxInputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    // Asking is also what makes a file source accept the connection.
    reader_.reset();
    hr = pPin->QueryInterface(IAsyncReader::iid, reader_.putVoid());
    return SUCCEEDED(hr) && reader_ ? S_OK : VFW_E_NO_TRANSPORT;
}

HRESULT DemuxInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBasePin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return demux_->connectSource(reader_.get(), m_mt.subtype);
}

HRESULT DemuxInputPin::BreakConnect() {
    demux_->disconnectSource();
    reader_.reset();
    return CBasePin::BreakConnect();
}

// ---- Outputs ----

DemuxOutputPin::DemuxOutputPin(DemuxFilter* filter, CriticalSection* lock, const std::u16string& name, int stream,
                               const CMediaType& type, LONG bufferSize, LONG bufferCount, HRESULT* phr)
    : QueuedOutputPin(u"Demux output", filter, lock, phr, nullptr, type),
      demux_(filter),
      name_(name),
      stream_(stream),
      bufferSize_(bufferSize),
      bufferCount_(bufferCount) {
    m_pName = name_;
}

HRESULT DemuxOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(demux_->seeking());
        AddRef();
        return S_OK;
    }
    return QueuedOutputPin::queryOther(riid, ppv);
}

HRESULT DemuxOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != type().majortype || pmt->subtype != type().subtype || pmt->formattype != type().formattype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // The format block describes the stream; another one would describe something else.
    if (pmt->cbFormat != type().cbFormat ||
        (type().cbFormat && (!pmt->pbFormat || std::memcmp(pmt->pbFormat, type().pbFormat, type().cbFormat) != 0)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT DemuxOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) {
    if (!pAlloc || !request) return E_POINTER;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = requestBuffers(pAlloc, *request, bufferSize_, std::max(bufferCount_, request->cBuffers), &actual);
    if (FAILED(hr)) return hr;
    // Smaller buffers are still usable: oversized packets are dropped, PCM is cut.
    if (actual.cbBuffer < 1 || actual.cBuffers < 1) return E_OUTOFMEMORY;
    return S_OK;
}

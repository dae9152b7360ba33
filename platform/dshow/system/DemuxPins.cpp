#include "platform/dshow/system/DemuxPins.h"

#include <algorithm>
#include <cstring>
#include <new>

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

namespace {
// Queue thread chosen by the downstream pin, one sample per batch.
constexpr BOOL kAutoQueue = TRUE;
constexpr BOOL kForceQueue = FALSE;
constexpr LONG kBatchSize = 1;
}  // namespace

DemuxOutputPin::DemuxOutputPin(DemuxFilter* filter, CriticalSection* lock, const std::u16string& name, int stream,
                               const CMediaType& type, LONG bufferSize, LONG bufferCount, HRESULT* phr)
    : CBaseOutputPin(u"Demux output", filter, lock, phr, nullptr),
      demux_(filter),
      name_(name),
      stream_(stream),
      type_(type),
      bufferSize_(bufferSize),
      bufferCount_(bufferCount) {
    m_pName = name_;
}

DemuxOutputPin::~DemuxOutputPin() {
    queue_.reset();
}

HRESULT DemuxOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(demux_->seeking());
        AddRef();
        return S_OK;
    }
    return CBaseOutputPin::queryOther(riid, ppv);
}

HRESULT DemuxOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != type_.majortype || pmt->subtype != type_.subtype || pmt->formattype != type_.formattype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    // The format block describes the stream; another one would describe something else.
    if (pmt->cbFormat != type_.cbFormat ||
        (type_.cbFormat && (!pmt->pbFormat || std::memcmp(pmt->pbFormat, type_.pbFormat, type_.cbFormat) != 0)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT DemuxOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(type_);
}

HRESULT DemuxOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request) {
    if (!pAlloc || !request) return E_POINTER;
    LONG align = request->cbAlign > 0 ? request->cbAlign : 1;
    int64_t rounded = (static_cast<int64_t>(bufferSize_) + align - 1) / align * align;
    if (bufferSize_ <= 0 || rounded > 0x7FFFFFFF) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES wanted{};
    wanted.cBuffers = std::max(bufferCount_, request->cBuffers);
    wanted.cbBuffer = static_cast<LONG>(rounded);
    wanted.cbAlign = align;
    wanted.cbPrefix = request->cbPrefix;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(&wanted, &actual);
    if (FAILED(hr)) return hr;
    // Smaller buffers are still usable: oversized packets are dropped, PCM is cut.
    if (actual.cbBuffer < 1 || actual.cBuffers < 1) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT DemuxOutputPin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    hr = S_OK;
    queue_.reset(new (std::nothrow) COutputQueue(GetConnected(), &hr, kAutoQueue, kForceQueue, kBatchSize));
    if (!queue_) hr = E_OUTOFMEMORY;
    if (FAILED(hr)) {
        queue_.reset();
        CBaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT DemuxOutputPin::Inactive() {
    // The filter has stopped its thread before, so nothing is delivering now.
    queue_.reset();
    return CBaseOutputPin::Inactive();
}

HRESULT DemuxOutputPin::deliverSample(IMediaSample* sample) {
    if (!queue_) {
        sample->Release();
        return VFW_E_NOT_COMMITTED;
    }
    return queue_->Receive(sample);
}

void DemuxOutputPin::deliverEndOfStream() {
    if (queue_) queue_->EOS();
}

void DemuxOutputPin::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (queue_) queue_->NewSegment(start, stop, rate);
}

void DemuxOutputPin::beginFlush() {
    if (queue_) queue_->BeginFlush();
}

void DemuxOutputPin::endFlush() {
    if (queue_) queue_->EndFlush();
}

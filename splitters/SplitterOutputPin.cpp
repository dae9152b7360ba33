#include "splitters/SplitterOutputPin.h"

#include <new>

#include "splitters/SplitterFilter.h"

namespace {
// Output queue settings: thread chosen by the downstream pin, no forced queueing, one
// sample per batch, ten queued.
constexpr BOOL kAutoQueue = TRUE;
constexpr BOOL kForceQueue = FALSE;
constexpr LONG kBatchSize = 1;
constexpr BOOL kExactBatch = FALSE;
constexpr LONG kListSize = 10;
}  // namespace

SplitterOutputPin::SplitterOutputPin(SplitterFilter* filter, CriticalSection* lock, SplitterStream stream,
                                     const CMediaType& type, LONG sampleSize, HRESULT* phr)
    : CBaseOutputPin(stream == SplitterStream::Video ? SplitterFilter::kVideoName : SplitterFilter::kAudioName, filter,
                     lock, phr,
                     stream == SplitterStream::Video ? SplitterFilter::kVideoName : SplitterFilter::kAudioName),
      splitter_(filter),
      stream_(stream),
      type_(type),
      sampleSize_(sampleSize) {}

SplitterOutputPin::~SplitterOutputPin() {
    queue_.reset();
}

HRESULT SplitterOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        SplitterSeeking* seeking = splitter_->seeking();
        if (!seeking) return E_NOINTERFACE;
        *ppv = static_cast<IMediaSeeking*>(seeking);
        seeking->AddRef();
        return S_OK;
    }
    return CBaseOutputPin::queryOther(riid, ppv);
}

HRESULT SplitterOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != type_.majortype || pmt->subtype != type_.subtype || pmt->formattype != type_.formattype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SplitterSource* source = splitter_->source();
    return source ? source->checkFormat(stream_, *pmt) : S_OK;
}

HRESULT SplitterOutputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseOutputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    SplitterSource* source = splitter_->source();
    return source ? source->setFormat(stream_, *pmt) : S_OK;
}

HRESULT SplitterOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(type_);
}

HRESULT SplitterOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) {
    if (!pAlloc || !ppropInputRequest) return E_POINTER;
    LONG align = ppropInputRequest->cbAlign > 0 ? ppropInputRequest->cbAlign : 1;
    int64_t rounded = (static_cast<int64_t>(sampleSize_) + align - 1) / align * align;
    if (sampleSize_ <= 0 || rounded > 0x7FFFFFFF) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES request{};
    request.cBuffers = splitter_->outputBufferCount();
    request.cbBuffer = static_cast<LONG>(rounded);
    request.cbAlign = align;
    request.cbPrefix = ppropInputRequest->cbPrefix;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < request.cbBuffer || actual.cBuffers < 1) return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT SplitterOutputPin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    hr = S_OK;
    queue_.reset(new (std::nothrow)
                     COutputQueue(GetConnected(), &hr, kAutoQueue, kForceQueue, kBatchSize, kExactBatch, kListSize));
    if (!queue_) hr = E_OUTOFMEMORY;
    if (FAILED(hr)) {
        queue_.reset();
        CBaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT SplitterOutputPin::Inactive() {
    // Downstream has stopped first, so the queue's thread is free to end.
    queue_.reset();
    return CBaseOutputPin::Inactive();
}

HRESULT SplitterOutputPin::deliverSample(IMediaSample* sample) {
    if (!queue_) {
        sample->Release();
        return VFW_E_NOT_COMMITTED;
    }
    return queue_->Receive(sample);
}

void SplitterOutputPin::deliverEndOfStream() {
    if (queue_) queue_->EOS();
}

void SplitterOutputPin::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (queue_) queue_->NewSegment(start, stop, rate);
}

void SplitterOutputPin::beginFlush() {
    if (queue_) queue_->BeginFlush();
}

void SplitterOutputPin::endFlush() {
    if (queue_) queue_->EndFlush();
}

#include "splitters/SplitterOutputPin.h"

#include "splitters/SplitterFilter.h"

SplitterOutputPin::SplitterOutputPin(SplitterFilter* filter, CriticalSection* lock, SplitterStream stream,
                                     const CMediaType& type, LONG sampleSize, HRESULT* phr)
    : QueuedOutputPin(stream == SplitterStream::Video ? SplitterFilter::kVideoName : SplitterFilter::kAudioName, filter,
                      lock, phr,
                      stream == SplitterStream::Video ? SplitterFilter::kVideoName : SplitterFilter::kAudioName, type),
      splitter_(filter),
      stream_(stream),
      sampleSize_(sampleSize) {}

HRESULT SplitterOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        SplitterSeeking* seeking = splitter_->seeking();
        if (!seeking) return E_NOINTERFACE;
        *ppv = static_cast<IMediaSeeking*>(seeking);
        seeking->AddRef();
        return S_OK;
    }
    return QueuedOutputPin::queryOther(riid, ppv);
}

HRESULT SplitterOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != type().majortype || pmt->subtype != type().subtype || pmt->formattype != type().formattype)
        return VFW_E_TYPE_NOT_ACCEPTED;
    SplitterSource* source = splitter_->source();
    return source ? source->checkFormat(stream_, *pmt) : S_OK;
}

HRESULT SplitterOutputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = QueuedOutputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    SplitterSource* source = splitter_->source();
    return source ? source->setFormat(stream_, *pmt) : S_OK;
}

HRESULT SplitterOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) {
    if (!pAlloc || !ppropInputRequest) return E_POINTER;
    ALLOCATOR_PROPERTIES actual{};
    HRESULT hr = requestBuffers(pAlloc, *ppropInputRequest, sampleSize_, splitter_->outputBufferCount(), &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < sampleSize_ || actual.cBuffers < 1) return E_OUTOFMEMORY;
    return S_OK;
}

#include "framework/dshow/QueuedOutputPin.h"

#include <cstdint>
#include <new>

#include "framework/dshow/DshowErrors.h"

namespace {
// Queue settings: a thread only when the downstream pin says it may block, one sample per
// batch, ten queued.
constexpr BOOL kAutoQueue = TRUE;
constexpr BOOL kForceQueue = FALSE;
constexpr LONG kBatchSize = 1;
constexpr BOOL kExactBatch = FALSE;
}  // namespace

QueuedOutputPin::QueuedOutputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                                 const char16_t* pinName, const CMediaType& type)
    : CBaseOutputPin(objectName, filter, lock, phr, pinName), type_(type) {}

QueuedOutputPin::~QueuedOutputPin() {
    queue_.reset();
}

HRESULT QueuedOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(type_);
}

HRESULT QueuedOutputPin::requestBuffers(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& downstream, LONG size,
                                        LONG count, ALLOCATOR_PROPERTIES* actual) {
    LONG align = downstream.cbAlign > 0 ? downstream.cbAlign : 1;
    int64_t rounded = (static_cast<int64_t>(size) + align - 1) / align * align;
    if (size <= 0 || rounded > 0x7FFFFFFF) return E_OUTOFMEMORY;
    ALLOCATOR_PROPERTIES wanted{};
    wanted.cBuffers = count;
    wanted.cbBuffer = static_cast<LONG>(rounded);
    wanted.cbAlign = align;
    wanted.cbPrefix = downstream.cbPrefix;
    *actual = ALLOCATOR_PROPERTIES{};
    return allocator->SetProperties(&wanted, actual);
}

HRESULT QueuedOutputPin::Active() {
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    hr = S_OK;
    queue_.reset(new (std::nothrow)
                     COutputQueue(GetConnected(), &hr, kAutoQueue, kForceQueue, kBatchSize, kExactBatch, DEFAULTCACHE));
    if (!queue_) hr = E_OUTOFMEMORY;
    if (FAILED(hr)) {
        queue_.reset();
        CBaseOutputPin::Inactive();
    }
    return hr;
}

HRESULT QueuedOutputPin::Inactive() {
    // The filter has stopped its streaming thread before, so nothing is delivering now.
    queue_.reset();
    return CBaseOutputPin::Inactive();
}

HRESULT QueuedOutputPin::deliverSample(IMediaSample* sample) {
    if (!queue_) {
        sample->Release();
        return VFW_E_NOT_COMMITTED;
    }
    return queue_->Receive(sample);
}

void QueuedOutputPin::deliverEndOfStream() {
    if (queue_) queue_->EOS();
}

void QueuedOutputPin::deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    if (queue_) queue_->NewSegment(start, stop, rate);
}

void QueuedOutputPin::beginFlush() {
    if (queue_) queue_->BeginFlush();
}

void QueuedOutputPin::endFlush() {
    if (queue_) queue_->EndFlush();
}

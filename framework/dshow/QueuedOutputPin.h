#pragma once
// An output pin that offers one media type and, while active, delivers through an output
// queue of its own (a thread when the downstream pin may block), so the filter's streaming
// thread never waits on a renderer. Source filters (splitters, demultiplexers) use it.
#include <memory>

#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/COutputQueue.h"

class QueuedOutputPin : public CBaseOutputPin {
public:
    QueuedOutputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                    const char16_t* pinName, const CMediaType& type);
    ~QueuedOutputPin() override;

    // The one type: position 0 only.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT Active() override;
    HRESULT Inactive() override;
    // Quality messages are not acted on.
    HRESULT Notify(IBaseFilter*, Quality) override { return S_OK; }

    // Streaming, through the queue while active. deliverSample takes over the reference.
    HRESULT deliverSample(IMediaSample* sample);
    void deliverEndOfStream();
    void deliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
    void beginFlush();
    void endFlush();

    const CMediaType& type() const { return type_; }

protected:
    // Asks the allocator for `count` buffers of `size` bytes rounded up to the alignment
    // downstream asks for, with its prefix. E_OUTOFMEMORY when the
    // size cannot be had at all.
    static HRESULT requestBuffers(IMemAllocator* allocator, const ALLOCATOR_PROPERTIES& downstream, LONG size,
                                  LONG count, ALLOCATOR_PROPERTIES* actual);

private:
    const CMediaType type_;
    std::unique_ptr<COutputQueue> queue_;
};

#pragma once
// A splitter's "Video" or "Audio" output: offers the one type its source gave, sizes the
// buffers for it, and while active delivers through an output queue of its own thread.
#include "framework/dshow/QueuedOutputPin.h"
#include "splitters/SplitterSource.h"

class SplitterFilter;

class SplitterOutputPin : public QueuedOutputPin {
public:
    SplitterOutputPin(SplitterFilter* filter, CriticalSection* lock, SplitterStream stream, const CMediaType& type,
                      LONG sampleSize, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) override;

    SplitterStream stream() const { return stream_; }
    LONG sampleSize() const { return sampleSize_; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    SplitterFilter* splitter_;
    const SplitterStream stream_;
    const LONG sampleSize_;
};

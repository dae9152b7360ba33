#pragma once
// A splitter's "Video" or "Audio" output: offers the one type its source gave, sizes the
// buffers for it, and while active delivers through an output queue of its own thread.
#include <memory>

#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/COutputQueue.h"
#include "splitters/SplitterSource.h"

class SplitterFilter;

class SplitterOutputPin : public CBaseOutputPin {
public:
    SplitterOutputPin(SplitterFilter* filter, CriticalSection* lock, SplitterStream stream, const CMediaType& type,
                      LONG sampleSize, HRESULT* phr);
    ~SplitterOutputPin() override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) override;
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

    SplitterStream stream() const { return stream_; }
    LONG sampleSize() const { return sampleSize_; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    SplitterFilter* splitter_;
    const SplitterStream stream_;
    const CMediaType type_;
    const LONG sampleSize_;
    std::unique_ptr<COutputQueue> queue_;
};

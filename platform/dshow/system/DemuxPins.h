#pragma once
// The pins of the system demultiplexer: "Input" takes the byte stream of a source through
// its pull interface; each output pin carries one stream of the file with the one media
// type the stream has, delivering through an output queue while active.
#include <memory>
#include <string>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseOutputPin.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/COutputQueue.h"
#include "framework/dshow/SampleInterfaces.h"

class DemuxFilter;

class DemuxInputPin : public CBasePin {
public:
    DemuxInputPin(DemuxFilter* filter, CriticalSection* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    // Data is pulled, never pushed here.
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

private:
    DemuxFilter* demux_;
    InterfacePtr<IAsyncReader> reader_;
};

class DemuxOutputPin : public CBaseOutputPin {
public:
    DemuxOutputPin(DemuxFilter* filter, CriticalSection* lock, const std::u16string& name, int stream,
                   const CMediaType& type, LONG bufferSize, LONG bufferCount, HRESULT* phr);
    ~DemuxOutputPin() override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
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

    int stream() const { return stream_; }
    const CMediaType& type() const { return type_; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    DemuxFilter* demux_;
    const std::u16string name_;
    const int stream_;
    const CMediaType type_;
    const LONG bufferSize_;
    const LONG bufferCount_;
    std::unique_ptr<COutputQueue> queue_;
};

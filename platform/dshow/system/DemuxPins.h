#pragma once
// The pins of the system demultiplexer: "Input" takes the byte stream of a source through
// its pull interface; each output pin carries one stream of the file with the one media
// type the stream has, delivering through an output queue while active.
#include <memory>
#include <string>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/QueuedOutputPin.h"
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

class DemuxOutputPin : public QueuedOutputPin {
public:
    DemuxOutputPin(DemuxFilter* filter, CriticalSection* lock, const std::u16string& name, int stream,
                   const CMediaType& type, LONG bufferSize, LONG bufferCount, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* ppropInputRequest) override;

    int stream() const { return stream_; }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    DemuxFilter* demux_;
    const std::u16string name_;
    const int stream_;
    const LONG bufferSize_;
    const LONG bufferCount_;
};

#pragma once
// A splitter's "Input": takes the byte stream of the file source, asks it for its pull
// interface and lets the filter build its source, seeking object and output pins.
#include "framework/InterfacePtr.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/SampleInterfaces.h"
#include "framework/dshow/StreamInterfaces.h"

class SplitterFilter;

class SplitterInputPin : public CBasePin {
public:
    SplitterInputPin(SplitterFilter* filter, CriticalSection* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    // Data is pulled, never pushed here.
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

private:
    SplitterFilter* splitter_;
    InterfacePtr<IAsyncReader> reader_;
    InterfacePtr<IStream> stream_;
};

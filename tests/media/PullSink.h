#pragma once
// A filter whose one input takes a byte stream of one subtype through the pull interface,
// as a container splitter does, and offers nothing downstream. Enough for a graph to count
// a file source's pin as rendered.
#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/Dshow.h"

namespace pullsink {

class PullSink;

class PullPin : public CBasePin {
public:
    PullPin(CBaseFilter* filter, CriticalSection* lock, HRESULT* phr, const GUID& subtype)
        : CBasePin(u"pull input", filter, lock, phr, u"Input", PINDIR_INPUT), subtype_(subtype) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
        return *mt->Type() == MEDIATYPE_Stream && *mt->Subtype() == subtype_ ? S_OK : S_FALSE;
    }
    HRESULT CheckConnect(IPin* pin) override {
        HRESULT hr = CBasePin::CheckConnect(pin);
        if (FAILED(hr)) return hr;
        InterfacePtr<IAsyncReader> reader;
        return pin->QueryInterface(IAsyncReader::iid, reader.putVoid());
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }

private:
    GUID subtype_;
};

class PullSink : public CBaseFilter {
public:
    PullSink(REFCLSID clsid, const GUID& subtype)
        : CBaseFilter(u"Pull Sink", &lock_, clsid), pin_(this, &lock_, nullptr, subtype) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }
    bool connected() { return pin_.IsConnected(); }

private:
    CriticalSection lock_;
    PullPin pin_;
};

}  // namespace pullsink

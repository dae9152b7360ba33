#include "splitters/MbcSplitter.h"

#include <new>

#include "splitters/MbcSource.h"

MbcSplitter::MbcSplitter(HRESULT* phr) : SplitterFilter(kName, kClassId, kStreamSubtype, kOutputBuffers, phr) {}

std::unique_ptr<SplitterSource> MbcSplitter::createSource() {
    return std::unique_ptr<SplitterSource>(new (std::nothrow) MbcSource());
}

HRESULT MbcSplitter::create(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = S_OK;
    auto* filter = new (std::nothrow) MbcSplitter(&hr);
    if (!filter) return E_OUTOFMEMORY;
    filter->AddRef();
    if (SUCCEEDED(hr)) hr = filter->QueryInterface(riid, out);
    filter->Release();
    return hr;
}

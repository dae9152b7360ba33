#include "splitters/SplitterInputPin.h"

#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/StreamInterfaces.h"
#include "splitters/SplitterFilter.h"

SplitterInputPin::SplitterInputPin(SplitterFilter* filter, CriticalSection* lock, HRESULT* phr)
    : CBasePin(SplitterFilter::kInputName, filter, lock, phr, SplitterFilter::kInputName, PINDIR_INPUT),
      splitter_(filter) {}

HRESULT SplitterInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (pmt->majortype != MEDIATYPE_Stream) return VFW_E_TYPE_NOT_ACCEPTED;
    if (pmt->subtype != splitter_->streamSubtype() && pmt->subtype != GUID_NULL) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT SplitterInputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    pMediaType->InitMediaType();
    pMediaType->SetType(&MEDIATYPE_Stream);
    pMediaType->SetSubtype(&splitter_->streamSubtype());
    pMediaType->SetSampleSize(1);
    return S_OK;
}

HRESULT SplitterInputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    // Asking is what makes the file source accept the connection.
    reader_.reset();
    stream_.reset();
    HRESULT readerResult = pPin->QueryInterface(IAsyncReader::iid, reader_.putVoid());
    if (splitter_->sourceReadsStream()) {
        if (FAILED(readerResult) && FAILED(pPin->QueryInterface(IStream::iid, stream_.putVoid())))
            return VFW_E_NO_TRANSPORT;
        return S_OK;
    }
    return SUCCEEDED(readerResult) && reader_ ? S_OK : VFW_E_NO_TRANSPORT;
}

HRESULT SplitterInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBasePin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return splitter_->connectSource(reader_.get(), stream_.get());
}

HRESULT SplitterInputPin::BreakConnect() {
    splitter_->disconnectSource();
    reader_.reset();
    stream_.reset();
    return CBasePin::BreakConnect();
}

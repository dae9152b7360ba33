#include "media/FileStreamOutputPin.h"

#include "framework/InterfacePtr.h"
#include "framework/dshow/CMemAllocator.h"
#include "media/FileStreamFilter.h"

FileStreamOutputPin::FileStreamOutputPin(FileStreamFilter* filter, CriticalSection* lock, CallbackFile& file,
                                         AsyncFileReader& reader, HRESULT* phr)
    : CBasePin(FileStreamFilter::kPinName, filter, lock, phr, FileStreamFilter::kPinName, PINDIR_OUTPUT),
      owner_(filter),
      file_(file),
      reader_(*this, reader, file),
      stream_(file, static_cast<IBaseFilter*>(filter), true) {}

HRESULT FileStreamOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IAsyncReader::iid) {
        // Only a pin that asked for the pull interface may connect.
        queriedForReader_ = true;
        *ppv = static_cast<IAsyncReader*>(&reader_);
        AddRef();
        return S_OK;
    }
    if (riid == IStream::iid || riid == ISequentialStream::iid) {
        *ppv = static_cast<IStream*>(&stream_);
        AddRef();
        return S_OK;
    }
    return CBasePin::queryOther(riid, ppv);
}

HRESULT FileStreamOutputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    CMediaType announced;
    if (!owner_->announcedType(&announced)) return VFW_E_TYPE_NOT_ACCEPTED;
    if (pmt->majortype != announced.majortype) return VFW_E_TYPE_NOT_ACCEPTED;
    if (announced.subtype != GUID_NULL && pmt->subtype != announced.subtype) return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

HRESULT FileStreamOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (!pMediaType) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return owner_->announcedType(pMediaType) ? S_OK : E_UNEXPECTED;
}

HRESULT FileStreamOutputPin::CompleteConnect(IPin* pReceivePin) {
    if (!queriedForReader_.load()) return VFW_E_NO_TRANSPORT;
    return CBasePin::CompleteConnect(pReceivePin);
}

HRESULT FileStreamOutputPin::BreakConnect() {
    queriedForReader_ = false;
    return CBasePin::BreakConnect();
}

// ---- IAsyncReader ----

HRESULT FileStreamOutputPin::Reader::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IAsyncReader::iid) {
        *ppv = static_cast<IAsyncReader*>(this);
        AddRef();
        return S_OK;
    }
    return pin_.QueryInterface(riid, ppv);
}

HRESULT FileStreamOutputPin::Reader::RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                                      IMemAllocator** ppActual) {
    if (!pProps || !ppActual) return E_POINTER;
    *ppActual = nullptr;
    constexpr LONG kAlign = static_cast<LONG>(CallbackFile::kAlignment);
    if (pProps->cbAlign <= 0) pProps->cbAlign = kAlign;
    if (pProps->cbAlign % kAlign != 0) pProps->cbAlign = kAlign;
    ALLOCATOR_PROPERTIES actual{};
    if (pPreferred && SUCCEEDED(pPreferred->SetProperties(pProps, &actual)) && actual.cbAlign > 0 &&
        actual.cbAlign % kAlign == 0) {
        pPreferred->AddRef();
        *ppActual = pPreferred;
        return S_OK;
    }
    InterfacePtr<IMemAllocator> own;
    HRESULT hr = CMemAllocator::create(nullptr, IMemAllocator::iid, own.putVoid());
    if (FAILED(hr)) return hr;
    hr = own->SetProperties(pProps, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbAlign <= 0 || actual.cbAlign % kAlign != 0) return VFW_E_BADALIGN;
    *ppActual = own.detach();
    return S_OK;
}

HRESULT FileStreamOutputPin::Reader::Request(IMediaSample* pSample, DWORD_PTR dwUser) {
    return reader_.request(pSample, dwUser);
}

HRESULT FileStreamOutputPin::Reader::WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) {
    return reader_.waitForNext(dwTimeout, ppSample, pdwUser);
}

HRESULT FileStreamOutputPin::Reader::SyncReadAligned(IMediaSample* pSample) {
    return reader_.syncReadAligned(pSample);
}

HRESULT FileStreamOutputPin::Reader::SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) {
    return reader_.syncRead(llPosition, lLength, pBuffer);
}

HRESULT FileStreamOutputPin::Reader::Length(LONGLONG* pTotal, LONGLONG* pAvailable) {
    if (!pTotal || !pAvailable) return E_POINTER;
    *pTotal = *pAvailable = file_.length();
    return S_OK;
}

HRESULT FileStreamOutputPin::Reader::BeginFlush() {
    reader_.beginFlush();
    return S_OK;
}

HRESULT FileStreamOutputPin::Reader::EndFlush() {
    reader_.endFlush();
    return S_OK;
}

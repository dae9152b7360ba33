#include "framework/dshow/CBaseInputPin.h"

#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CMemAllocator.h"

CBaseInputPin::CBaseInputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                             const char16_t* pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator) m_pAllocator->Release();
}

HRESULT CBaseInputPin::QueryInterface(REFIID riid, void** ppv) {
    return CBasePin::QueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMemInputPin::iid) {
        *ppv = static_cast<IMemInputPin*>(this);
        AddRef();
        return S_OK;
    }
    return CBasePin::queryOther(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (!ppAllocator) return E_POINTER;
    ScopedLock lock(*m_pLock);
    if (!m_pAllocator) {
        HRESULT hr = CMemAllocator::create(nullptr, IMemAllocator::iid, reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr)) {
            *ppAllocator = nullptr;
            return hr;
        }
    }
    m_pAllocator->AddRef();
    *ppAllocator = m_pAllocator;
    return S_OK;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    if (!pAllocator) return E_POINTER;
    ScopedLock lock(*m_pLock);
    pAllocator->AddRef();
    if (m_pAllocator) m_pAllocator->Release();
    m_pAllocator = pAllocator;
    m_bReadOnly = bReadOnly != FALSE;
    return S_OK;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::CheckStreaming() {
    if (!IsConnected()) return VFW_E_NOT_CONNECTED;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing.load()) return S_FALSE;
    if (m_bRunTimeError.load()) return VFW_E_RUNTIME_ERROR;
    return S_OK;
}

HRESULT CBaseInputPin::Receive(IMediaSample* pSample) {
    if (!pSample) return E_POINTER;
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;

    m_SampleProps = AM_SAMPLE2_PROPERTIES{};
    IMediaSample2* sample2 = nullptr;
    if (SUCCEEDED(pSample->QueryInterface(IMediaSample2::iid, reinterpret_cast<void**>(&sample2))) && sample2) {
        hr = sample2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
        sample2->Release();
        if (FAILED(hr)) return hr;
    } else {
        // A plain sample: gather the same properties one by one.
        m_SampleProps.cbData = sizeof m_SampleProps;
        if (pSample->GetTime(&m_SampleProps.tStart, &m_SampleProps.tStop) == S_OK)
            m_SampleProps.dwSampleFlags |= AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
        if (pSample->IsSyncPoint() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_SPLICEPOINT;
        if (pSample->IsPreroll() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_PREROLL;
        if (pSample->IsDiscontinuity() == S_OK) m_SampleProps.dwSampleFlags |= AM_SAMPLE_DATADISCONTINUITY;
        m_SampleProps.lActual = pSample->GetActualDataLength();
        m_SampleProps.cbBuffer = pSample->GetSize();
        pSample->GetPointer(&m_SampleProps.pbBuffer);
        // The type (if any) is examined below.
    }

    AM_MEDIA_TYPE* changed = nullptr;
    if (pSample->GetMediaType(&changed) == S_OK && changed) {
        CMediaType type(*changed);
        DeleteMediaType(changed);
        if (CheckMediaType(&type) != S_OK) {
            // A type this pin cannot take ends the stream with an error.
            m_bRunTimeError = true;
            EndOfStream();
            m_pFilter->NotifyEvent(EC_ERRORABORT, VFW_E_TYPE_NOT_ACCEPTED, 0);
            return VFW_E_INVALIDMEDIATYPE;
        }
        m_SampleProps.dwSampleFlags |= AM_SAMPLE_TYPECHANGED;
    }
    return S_OK;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, LONG nSamples, LONG* nSamplesProcessed) {
    if (!pSamples || !nSamplesProcessed) return E_POINTER;
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK) break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT CBaseInputPin::ReceiveCanBlock() {
    // A filter without connected outputs (a renderer) may block; otherwise it blocks when
    // any downstream pin may.
    int count = m_pFilter->GetPinCount();
    int outputs = 0;
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = m_pFilter->GetPin(i);
        if (!pin || pin->Direction() != PINDIR_OUTPUT) continue;
        IPin* peer = pin->GetConnected();
        if (!peer) continue;
        ++outputs;
        IMemInputPin* input = nullptr;
        if (SUCCEEDED(peer->QueryInterface(IMemInputPin::iid, reinterpret_cast<void**>(&input))) && input) {
            HRESULT hr = input->ReceiveCanBlock();
            input->Release();
            if (hr != S_FALSE) return S_OK;
        } else {
            return S_OK;
        }
    }
    return outputs == 0 ? S_OK : S_FALSE;
}

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing = false;
    m_bRunTimeError = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bRunTimeError = false;
    m_bFlushing = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

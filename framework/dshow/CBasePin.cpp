#include "framework/dshow/CBasePin.h"

#include <new>

#include "framework/ComUser.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CEnumMediaTypes.h"

CBasePin::CBasePin(const char16_t*, CBaseFilter* filter, CriticalSection* lock, HRESULT*, const char16_t* pinName,
                   PIN_DIRECTION dir)
    : m_pName(pinName ? pinName : u""), m_dir(dir), m_pLock(lock), m_pFilter(filter) {}

CBasePin::~CBasePin() {
    if (IPin* peer = m_Connected.exchange(nullptr)) peer->Release();
}

HRESULT CBasePin::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IPin::iid) {
        *ppv = static_cast<IPin*>(this);
    } else if (riid == IQualityControl::iid) {
        *ppv = static_cast<IQualityControl*>(this);
    } else {
        return queryOther(riid, ppv);
    }
    AddRef();
    return S_OK;
}

HRESULT CBasePin::queryOther(REFIID, void**) {
    return E_NOINTERFACE;
}

ULONG CBasePin::AddRef() {
    return m_pFilter->AddRef();
}
ULONG CBasePin::Release() {
    return m_pFilter->Release();
}

bool CBasePin::IsStopped() {
    return m_pFilter->IsStopped();
}

HRESULT CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (!pReceivePin) return E_POINTER;
    ScopedLock lock(*m_pLock);
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION peerDir;
    if (SUCCEEDED(pReceivePin->QueryDirection(&peerDir)) && peerDir == m_dir) return VFW_E_INVALID_DIRECTION;
    CMediaType wanted;
    if (pmt) {
        HRESULT hr = wanted.Set(*pmt);
        if (FAILED(hr)) return hr;
    }
    return AgreeMediaType(pReceivePin, &wanted);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    // A fully given type is tried alone.
    if (pmt && !pmt->IsPartiallySpecified()) return AttemptConnection(pReceivePin, pmt);

    HRESULT lastError = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        bool mine = (pass == 0) == m_bTryMyTypesFirst;
        IEnumMediaTypes* types = nullptr;
        HRESULT hr = mine ? EnumMediaTypes(&types) : pReceivePin->EnumMediaTypes(&types);
        if (FAILED(hr) || !types) continue;
        hr = TryMediaTypes(pReceivePin, pmt, types);
        types->Release();
        if (SUCCEEDED(hr)) return S_OK;
        // Keep the most telling refusal rather than the generic one.
        if (hr != VFW_E_NO_ACCEPTABLE_TYPES && hr != E_FAIL) lastError = hr;
    }
    return lastError;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT hr = pEnum->Reset();
    if (FAILED(hr)) return hr;
    HRESULT lastError = VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;) {
        AM_MEDIA_TYPE* candidate = nullptr;
        ULONG fetched = 0;
        hr = pEnum->Next(1, &candidate, &fetched);
        if (hr != S_OK || fetched != 1 || !candidate) {
            if (candidate) DeleteMediaType(candidate);
            break;
        }
        CMediaType type(*candidate);
        DeleteMediaType(candidate);
        if (pmt && !type.MatchesPartial(pmt)) continue;
        hr = AttemptConnection(pReceivePin, &type);
        if (SUCCEEDED(hr)) return S_OK;
        if (hr != E_FAIL && hr != VFW_E_TYPE_NOT_ACCEPTED) lastError = hr;
    }
    return lastError;
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    HRESULT hr = CheckConnect(pReceivePin);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(pmt);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    pReceivePin->AddRef();
    m_Connected = pReceivePin;
    hr = SetMediaType(pmt);
    if (SUCCEEDED(hr)) {
        hr = pReceivePin->ReceiveConnection(static_cast<IPin*>(this), pmt);
        if (SUCCEEDED(hr)) {
            hr = CompleteConnect(pReceivePin);
            if (SUCCEEDED(hr)) return S_OK;
            pReceivePin->Disconnect();
        }
    }
    if (IPin* peer = m_Connected.exchange(nullptr)) peer->Release();
    BreakConnect();
    m_mt.InitMediaType();
    // A refusal that was only a "no" counts as a type refusal.
    return SUCCEEDED(hr) || hr == E_FAIL ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (!pConnector || !pmt) return E_POINTER;
    ScopedLock lock(*m_pLock);
    if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped() && !m_bCanReconnectWhenActive) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    CMediaType type;
    hr = type.Set(*pmt);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    hr = CheckMediaType(&type);
    if (hr != S_OK) {
        BreakConnect();
        return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
    }
    pConnector->AddRef();
    m_Connected = pConnector;
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return S_OK;
    }
    if (IPin* peer = m_Connected.exchange(nullptr)) peer->Release();
    BreakConnect();
    m_mt.InitMediaType();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    ScopedLock lock(*m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    ScopedLock lock(*m_pLock);
    IPin* peer = m_Connected.load();
    if (!peer) return S_FALSE;
    HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected = nullptr;
    peer->Release();
    m_mt.InitMediaType();
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pPin) {
    if (!pPin) return E_POINTER;
    ScopedLock lock(*m_pLock);
    IPin* peer = m_Connected.load();
    *pPin = peer;
    if (!peer) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    ScopedLock lock(*m_pLock);
    if (!IsConnected()) {
        *pmt = AM_MEDIA_TYPE{};
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    size_t n = m_pName.size() < MAX_PIN_NAME - 1 ? m_pName.size() : MAX_PIN_NAME - 1;
    m_pName.copy(pInfo->achName, n);
    pInfo->achName[n] = 0;
    pInfo->dir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (!pPinDir) return E_POINTER;
    *pPinDir = m_dir;
    return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* Id) {
    if (!Id) return E_POINTER;
    size_t bytes = (m_pName.size() + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc(bytes));
    *Id = copy;
    if (!copy) return E_OUTOFMEMORY;
    m_pName.copy(copy, m_pName.size());
    copy[m_pName.size()] = 0;
    return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CMediaType type;
    if (FAILED(type.Set(*pmt))) return E_OUTOFMEMORY;
    HRESULT hr = CheckMediaType(&type);
    return hr == S_OK ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* e = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    if (!e) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT CBasePin::EndOfStream() {
    return S_OK;
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

HRESULT CBasePin::SetSink(IQualityControl* piqc) {
    ScopedLock lock(*m_pLock);
    m_pQSink = piqc;
    return S_OK;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::GetMediaType(int, CMediaType*) {
    return E_UNEXPECTED;
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION dir;
    HRESULT hr = pPin->QueryDirection(&dir);
    if (FAILED(hr)) return hr;
    if (dir == m_dir) return VFW_E_INVALID_DIRECTION;
    return S_OK;
}

HRESULT CBasePin::BreakConnect() {
    return S_OK;
}
HRESULT CBasePin::CompleteConnect(IPin*) {
    return S_OK;
}
HRESULT CBasePin::Active() {
    return S_OK;
}
HRESULT CBasePin::Inactive() {
    m_bRunTimeError = false;
    return S_OK;
}
HRESULT CBasePin::Run(REFERENCE_TIME) {
    return S_OK;
}

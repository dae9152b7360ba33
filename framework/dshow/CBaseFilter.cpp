#include "framework/dshow/CBaseFilter.h"

#include <new>

#include "framework/ComUser.h"
#include "framework/dshow/CBasePin.h"
#include "framework/dshow/CEnumPins.h"

CBaseFilter::CBaseFilter(const char16_t* name, CriticalSection* lock, REFCLSID clsid, HRESULT* phr)
    : m_clsid(clsid), m_pLock(lock), m_pName(name ? name : u"") {
    (void)phr;
}

CBaseFilter::~CBaseFilter() {
    if (m_pClock) m_pClock->Release();
}

HRESULT CBaseFilter::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IUnknown::iid || riid == IPersist::iid || riid == IMediaFilter::iid || riid == IBaseFilter::iid) {
        *ppv = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    return queryOther(riid, ppv);
}

HRESULT CBaseFilter::queryOther(REFIID, void**) {
    return E_NOINTERFACE;
}

ULONG CBaseFilter::AddRef() {
    return m_cRef.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG CBaseFilter::Release() {
    ULONG left = m_cRef.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

HRESULT CBaseFilter::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = m_clsid;
    return S_OK;
}

HRESULT CBaseFilter::Stop() {
    ScopedLock lock(*m_pLock);
    HRESULT result = S_OK;
    if (m_State.load() != State_Stopped) {
        int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            HRESULT hr = pin->Inactive();
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
    }
    m_State = State_Stopped;
    return result;
}

HRESULT CBaseFilter::Pause() {
    ScopedLock lock(*m_pLock);
    if (m_State.load() == State_Stopped) {
        int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            HRESULT hr = pin->Active();
            if (FAILED(hr)) return hr;
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart) {
    ScopedLock lock(*m_pLock);
    m_tStart = tStart;
    if (m_State.load() == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State.load() != State_Running) {
        int count = GetPinCount();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = GetPin(i);
            if (!pin || !pin->IsConnected()) continue;
            HRESULT hr = pin->Run(tStart);
            if (FAILED(hr)) return hr;
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    *State = m_State.load();
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    ScopedLock lock(*m_pLock);
    if (pClock) pClock->AddRef();
    if (m_pClock) m_pClock->Release();
    m_pClock = pClock;
    return S_OK;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    ScopedLock lock(*m_pLock);
    *pClock = m_pClock;
    if (m_pClock) m_pClock->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* e = new (std::nothrow) CEnumPins(this, nullptr);
    if (!e) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    ScopedLock lock(*m_pLock);
    int count = GetPinCount();
    for (int i = 0; i < count; ++i) {
        CBasePin* pin = GetPin(i);
        if (pin && pin->Name() == Id) {
            pin->AddRef();
            *ppPin = pin;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (!pInfo) return E_POINTER;
    ScopedLock lock(*m_pLock);
    size_t n = m_pName.size() < MAX_FILTER_NAME - 1 ? m_pName.size() : MAX_FILTER_NAME - 1;
    m_pName.copy(pInfo->achName, n);
    pInfo->achName[n] = 0;
    pInfo->pGraph = m_pGraph;
    if (m_pGraph) m_pGraph->AddRef();
    return S_OK;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    ScopedLock lock(*m_pLock);
    // Both are kept without references: the graph owns the filter, not the reverse.
    m_pGraph = pGraph;
    m_pSink = nullptr;
    if (pGraph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(pGraph->QueryInterface(IMediaEventSink::iid, reinterpret_cast<void**>(&sink))) && sink) {
            m_pSink = sink;
            sink->Release();
        }
    }
    if (pName)
        m_pName = pName;
    else if (!pGraph)
        m_pName.clear();
    return S_OK;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* pVendorInfo) {
    if (!pVendorInfo) return E_POINTER;
    *pVendorInfo = nullptr;
    return E_NOTIMPL;
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    IReferenceClock* clock = nullptr;
    {
        ScopedLock lock(*m_pLock);
        clock = m_pClock;
        if (clock) clock->AddRef();
    }
    if (!clock) return VFW_E_NO_CLOCK;
    REFERENCE_TIME now = 0;
    HRESULT hr = clock->GetTime(&now);
    clock->Release();
    if (FAILED(hr)) return hr;
    rtStream = now - m_tStart.load();
    return S_OK;
}

HRESULT CBaseFilter::NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    IMediaEventSink* sink = m_pSink;
    if (!sink) return E_NOTIMPL;
    if (EventCode == EC_COMPLETE) EventParam2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    return sink->Notify(EventCode, EventParam1, EventParam2);
}

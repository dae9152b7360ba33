#include "framework/dshow/CEnumPins.h"

#include <new>

#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBasePin.h"

CEnumPins::CEnumPins(CBaseFilter* filter, CEnumPins* from) : m_pFilter(filter), m_Version(filter->GetPinVersion()) {
    m_pFilter->AddRef();
    if (from) {
        m_Position = from->m_Position;
        m_Version = from->m_Version;
    }
}

CEnumPins::~CEnumPins() {
    m_pFilter->Release();
}

bool CEnumPins::outOfSync() {
    return m_Version != m_pFilter->GetPinVersion();
}

HRESULT CEnumPins::Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) {
    if (!ppPins) return E_POINTER;
    if (pcFetched) *pcFetched = 0;
    if (!pcFetched && cPins > 1) return E_INVALIDARG;
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    int count = m_pFilter->GetPinCount();
    while (fetched < cPins && m_Position < count) {
        CBasePin* pin = m_pFilter->GetPin(m_Position++);
        if (!pin) break;
        pin->AddRef();
        ppPins[fetched++] = pin;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cPins ? S_OK : S_FALSE;
}

HRESULT CEnumPins::Skip(ULONG cPins) {
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    int count = m_pFilter->GetPinCount();
    int left = count - m_Position;
    if (static_cast<ULONG>(left < 0 ? 0 : left) < cPins) {
        m_Position = count;
        return S_FALSE;
    }
    m_Position += static_cast<int>(cPins);
    return S_OK;
}

HRESULT CEnumPins::Reset() {
    m_Version = m_pFilter->GetPinVersion();
    m_Position = 0;
    return S_OK;
}

HRESULT CEnumPins::Clone(IEnumPins** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* e = new (std::nothrow) CEnumPins(m_pFilter, this);
    if (!e) return E_OUTOFMEMORY;
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

#include "framework/dshow/CEnumMediaTypes.h"

#include <new>

#include "framework/dshow/CBasePin.h"

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, CEnumMediaTypes* from)
    : m_pPin(pin), m_Version(pin->GetMediaTypeVersion()) {
    m_pPin->AddRef();
    if (from) {
        m_Position = from->m_Position;
        m_Version = from->m_Version;
    }
}

CEnumMediaTypes::~CEnumMediaTypes() {
    m_pPin->Release();
}

bool CEnumMediaTypes::outOfSync() {
    return m_Version != m_pPin->GetMediaTypeVersion();
}

HRESULT CEnumMediaTypes::Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) {
    if (!ppMediaTypes) return E_POINTER;
    if (pcFetched) *pcFetched = 0;
    if (!pcFetched && cMediaTypes > 1) return E_INVALIDARG;
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG fetched = 0;
    while (fetched < cMediaTypes) {
        CMediaType type;
        // Only S_OK carries a type; VFW_S_NO_MORE_ITEMS and failures end the list.
        if (m_pPin->GetMediaType(m_Position, &type) != S_OK) break;
        ++m_Position;
        AM_MEDIA_TYPE* copy = CreateMediaType(&type);
        if (!copy) break;
        ppMediaTypes[fetched++] = copy;
    }
    if (pcFetched) *pcFetched = fetched;
    return fetched == cMediaTypes ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG cMediaTypes) {
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    while (cMediaTypes > 0) {
        CMediaType type;
        if (m_pPin->GetMediaType(m_Position, &type) != S_OK) return S_FALSE;
        ++m_Position;
        --cMediaTypes;
    }
    return S_OK;
}

HRESULT CEnumMediaTypes::Reset() {
    m_Version = m_pPin->GetMediaTypeVersion();
    m_Position = 0;
    return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (outOfSync()) return VFW_E_ENUM_OUT_OF_SYNC;
    auto* e = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
    if (!e) return E_OUTOFMEMORY;
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

#include "framework/dshow/CTransformOutputPin.h"

#include <new>

#include "framework/dshow/CPosPassThru.h"
#include "framework/dshow/CTransformFilter.h"

CTransformOutputPin::CTransformOutputPin(const char16_t* objectName, CTransformFilter* filter, HRESULT* phr,
                                         const char16_t* pinName)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, phr, pinName), m_pTransformFilter(filter) {}

CTransformOutputPin::~CTransformOutputPin() {
    delete m_pPosition;
}

HRESULT CTransformOutputPin::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        ScopedLock lock(*m_pLock);
        if (!m_pPosition) {
            HRESULT hr = S_OK;
            m_pPosition = new (std::nothrow)
                CPosPassThru(u"Transform position", static_cast<IPin*>(this), &hr, m_pTransformFilter->GetPin(0));
            if (!m_pPosition) return E_OUTOFMEMORY;
        }
        *ppv = static_cast<IMediaSeeking*>(m_pPosition);
        m_pPosition->AddRef();
        return S_OK;
    }
    return CBaseOutputPin::queryOther(riid, ppv);
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pPin) {
    // The output types depend on the input type.
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (!in || !in->IsConnected()) return E_UNEXPECTED;
    HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pPin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CheckConnect(pPin);
}

HRESULT CTransformOutputPin::BreakConnect() {
    m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
    return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseOutputPin::CompleteConnect(pReceivePin);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mtOut) {
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (!in || !in->IsConnected()) return E_INVALIDARG;
    return m_pTransformFilter->CheckTransform(&in->CurrentMediaType(), mtOut);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBasePin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, pmt);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProp) {
    return m_pTransformFilter->DecideBufferSize(pAlloc, pProp);
}

HRESULT CTransformOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CTransformInputPin* in = m_pTransformFilter->m_pInput;
    if (iPosition < 0) return E_INVALIDARG;
    if (!in || !in->IsConnected()) return VFW_S_NO_MORE_ITEMS;
    return m_pTransformFilter->GetMediaType(iPosition, pMediaType);
}

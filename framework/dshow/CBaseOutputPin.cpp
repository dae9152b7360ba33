#include "framework/dshow/CBaseOutputPin.h"

#include "framework/dshow/CMemAllocator.h"

CBaseOutputPin::CBaseOutputPin(const char16_t* objectName, CBaseFilter* filter, CriticalSection* lock, HRESULT* phr,
                               const char16_t* pinName)
    : CBasePin(objectName, filter, lock, phr, pinName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pAllocator) m_pAllocator->Release();
    if (m_pInputPin) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    IMemInputPin* input = nullptr;
    hr = pPin->QueryInterface(IMemInputPin::iid, reinterpret_cast<void**>(&input));
    if (FAILED(hr) || !input) return FAILED(hr) ? hr : E_NOINTERFACE;
    if (m_pInputPin) m_pInputPin->Release();
    m_pInputPin = input;
    return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    if (!pPin || !ppAlloc) return E_POINTER;
    if (*ppAlloc) {
        (*ppAlloc)->Release();
        *ppAlloc = nullptr;
    }
    ALLOCATOR_PROPERTIES props{};
    // The downstream pin may state what it needs; nothing stated means no constraint.
    pPin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0) props.cbAlign = 1;

    IMemAllocator* allocator = nullptr;
    HRESULT hr = pPin->GetAllocator(&allocator);
    if (SUCCEEDED(hr) && allocator) {
        hr = DecideBufferSize(allocator, &props);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(allocator, FALSE);
            if (SUCCEEDED(hr)) {
                *ppAlloc = allocator;
                return S_OK;
            }
        }
    }
    if (allocator) {
        allocator->Release();
        allocator = nullptr;
    }

    hr = InitAllocator(&allocator);
    if (SUCCEEDED(hr)) {
        hr = DecideBufferSize(allocator, &props);
        if (SUCCEEDED(hr)) {
            hr = pPin->NotifyAllocator(allocator, FALSE);
            if (SUCCEEDED(hr)) {
                *ppAlloc = allocator;
                return S_OK;
            }
        }
    }
    if (allocator) allocator->Release();
    return hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    return CMemAllocator::create(nullptr, IMemAllocator::iid, reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                                          DWORD dwFlags) {
    if (!ppSample) return E_POINTER;
    *ppSample = nullptr;
    if (!m_pAllocator) return E_NOINTERFACE;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    IPin* peer = GetConnected();
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    IPin* peer = GetConnected();
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    IPin* peer = GetConnected();
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    IPin* peer = GetConnected();
    if (!peer) return VFW_E_NOT_CONNECTED;
    return peer->NewSegment(tStart, tStop, dRate);
}

HRESULT CBaseOutputPin::Active() {
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Commit();
}

HRESULT CBaseOutputPin::Inactive() {
    m_bRunTimeError = false;
    if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->Decommit();
}

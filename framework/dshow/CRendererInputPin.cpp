#include "framework/dshow/CRendererInputPin.h"

#include "framework/dshow/CBaseRenderer.h"

CRendererInputPin::CRendererInputPin(CBaseRenderer* renderer, HRESULT* phr, const char16_t* pinName)
    : CBaseInputPin(u"Renderer pin", renderer, &renderer->m_InterfaceLock, phr, pinName), m_pRenderer(renderer) {}

HRESULT CRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    return m_pRenderer->CheckMediaType(pmt);
}

HRESULT CRendererInputPin::SetMediaType(const CMediaType* pmt) {
    HRESULT hr = CBaseInputPin::SetMediaType(pmt);
    if (FAILED(hr)) return hr;
    return m_pRenderer->SetMediaType(pmt);
}

HRESULT CRendererInputPin::BreakConnect() {
    HRESULT hr = m_pRenderer->BreakConnect();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::BreakConnect();
}

HRESULT CRendererInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = m_pRenderer->CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return CBaseInputPin::CompleteConnect(pReceivePin);
}

HRESULT CRendererInputPin::Active() {
    return m_pRenderer->Active();
}

HRESULT CRendererInputPin::Inactive() {
    m_pRenderer->Inactive();
    return CBaseInputPin::Inactive();
}

HRESULT CRendererInputPin::Receive(IMediaSample* pSample) {
    return m_pRenderer->Receive(pSample);
}

HRESULT CRendererInputPin::EndOfStream() {
    ScopedLock interfaceLock(m_pRenderer->m_InterfaceLock);
    ScopedLock rendererLock(m_pRenderer->m_RendererLock);
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    hr = m_pRenderer->EndOfStream();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndOfStream();
}

HRESULT CRendererInputPin::BeginFlush() {
    ScopedLock interfaceLock(m_pRenderer->m_InterfaceLock);
    ScopedLock rendererLock(m_pRenderer->m_RendererLock);
    CBaseInputPin::BeginFlush();
    return m_pRenderer->BeginFlush();
}

HRESULT CRendererInputPin::EndFlush() {
    ScopedLock interfaceLock(m_pRenderer->m_InterfaceLock);
    ScopedLock rendererLock(m_pRenderer->m_RendererLock);
    HRESULT hr = m_pRenderer->EndFlush();
    if (FAILED(hr)) return hr;
    return CBaseInputPin::EndFlush();
}

HRESULT CRendererInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    ScopedLock interfaceLock(m_pRenderer->m_InterfaceLock);
    ScopedLock rendererLock(m_pRenderer->m_RendererLock);
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    if (m_pRenderer->IsEndOfStream() && !m_pRenderer->HaveCurrentSample()) {
        m_pRenderer->ResetEndOfStream();
        if (m_pRenderer->m_pPosition) m_pRenderer->m_pPosition->ResetMediaTime();
    }
    return S_OK;
}

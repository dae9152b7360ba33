#include "framework/dshow/CBaseVideoRenderer.h"

CBaseVideoRenderer::CBaseVideoRenderer(REFCLSID clsid, const char16_t* name, HRESULT* phr)
    : CBaseRenderer(clsid, name, phr) {}

HRESULT CBaseVideoRenderer::ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStart, REFERENCE_TIME*) {
    if (!m_pClock) return S_OK;
    REFERENCE_TIME now = 0;
    if (FAILED(m_pClock->GetTime(&now))) return S_FALSE;
    REFERENCE_TIME late = now - (m_tStart.load() + *ptrStart);
    if (late <= 0) {
        m_consecutiveDrops = 0;
        return S_FALSE;
    }
    // Far behind: skip pictures that are not key frames to catch up, a few at a time.
    if (late > kDropLateness && pMediaSample->IsSyncPoint() != S_OK && m_consecutiveDrops < kMaxConsecutiveDrops) {
        ++m_consecutiveDrops;
        ++m_cFramesDropped;
        return E_FAIL;
    }
    m_consecutiveDrops = 0;
    return S_OK;
}

void CBaseVideoRenderer::OnReceiveFirstSample(IMediaSample* pMediaSample) {
    // The picture a paused graph shows.
    DoRenderSample(pMediaSample);
}

void CBaseVideoRenderer::OnRenderEnd(IMediaSample*) {
    ++m_cFramesDrawn;
}

HRESULT CBaseVideoRenderer::OnStartStreaming() {
    m_consecutiveDrops = 0;
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_FramesDroppedInRenderer(int* pcFrames) {
    if (!pcFrames) return E_POINTER;
    *pcFrames = m_cFramesDropped.load();
    return S_OK;
}

HRESULT CBaseVideoRenderer::get_FramesDrawn(int* pcFramesDrawn) {
    if (!pcFramesDrawn) return E_POINTER;
    *pcFramesDrawn = m_cFramesDrawn.load();
    return S_OK;
}

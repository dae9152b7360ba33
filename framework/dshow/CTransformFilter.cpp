#include "framework/dshow/CTransformFilter.h"

#include <new>

CTransformFilter::CTransformFilter(const char16_t* name, REFCLSID clsid, HRESULT* phr)
    : CBaseFilter(name, &m_csFilter, clsid, phr) {}

CTransformFilter::~CTransformFilter() {
    delete m_pInput;
    delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
    // Both pins are made together on the first request.
    if (!m_pInput) {
        HRESULT hr = S_OK;
        m_pInput = new (std::nothrow) CTransformInputPin(u"Transform input pin", this, &hr, u"XForm In");
        if (!m_pInput || FAILED(hr)) {
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
        m_pOutput = new (std::nothrow) CTransformOutputPin(u"Transform output pin", this, &hr, u"XForm Out");
        if (!m_pOutput || FAILED(hr)) {
            delete m_pOutput;
            m_pOutput = nullptr;
            delete m_pInput;
            m_pInput = nullptr;
            return nullptr;
        }
    }
    if (n == 0) return m_pInput;
    if (n == 1) return m_pOutput;
    return nullptr;
}

HRESULT CTransformFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    GetPin(0);
    return CBaseFilter::FindPin(Id, ppPin);
}

HRESULT CTransformFilter::Stop() {
    ScopedLock lock(m_csFilter);
    if (m_State.load() == State_Stopped) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
        return S_OK;
    }
    // The input stops first so that no new sample starts; then wait for Receive to leave.
    m_pInput->Inactive();
    ScopedLock receiving(m_csReceive);
    m_pOutput->Inactive();
    HRESULT hr = StopStreaming();
    if (SUCCEEDED(hr)) {
        m_State = State_Stopped;
        m_bEOSDelivered = false;
    }
    return hr;
}

HRESULT CTransformFilter::Pause() {
    ScopedLock lock(m_csFilter);
    HRESULT hr = S_OK;
    if (m_State.load() == State_Paused) return S_OK;
    if (!m_pInput || !m_pInput->IsConnected()) {
        // Nothing will come in: tell downstream at once that nothing will come out.
        if (m_pOutput && m_pOutput->IsConnected() && !m_bEOSDelivered) {
            m_pOutput->DeliverEndOfStream();
            m_bEOSDelivered = true;
        }
        m_State = State_Paused;
    } else if (!m_pOutput->IsConnected()) {
        m_State = State_Paused;
    } else {
        if (m_State.load() == State_Stopped) {
            ScopedLock receiving(m_csReceive);
            hr = StartStreaming();
        }
        if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
    }
    m_bSampleSkipped = false;
    return hr;
}

HRESULT CTransformFilter::SetMediaType(PIN_DIRECTION, const CMediaType*) {
    return S_OK;
}
HRESULT CTransformFilter::CheckConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}
HRESULT CTransformFilter::BreakConnect(PIN_DIRECTION) {
    return S_OK;
}
HRESULT CTransformFilter::CompleteConnect(PIN_DIRECTION, IPin*) {
    return S_OK;
}

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* pSample, IMediaSample** ppOutSample) {
    AM_SAMPLE2_PROPERTIES* props = m_pInput->SampleProps();
    DWORD flags = m_bSampleSkipped ? AM_GBF_PREVFRAMESKIPPED : 0;
    if (!(props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT)) flags |= AM_GBF_NOTASYNCPOINT;
    bool timed = (props->dwSampleFlags & AM_SAMPLE_TIMEVALID) != 0;
    IMediaSample* out = nullptr;
    HRESULT hr =
        m_pOutput->GetDeliveryBuffer(&out, timed ? &props->tStart : nullptr, timed ? &props->tStop : nullptr, flags);
    *ppOutSample = out;
    if (FAILED(hr)) return hr;

    if (timed) {
        if (props->dwSampleFlags & AM_SAMPLE_STOPVALID)
            out->SetTime(&props->tStart, &props->tStop);
        else
            out->SetTime(&props->tStart, nullptr);
    }
    out->SetSyncPoint((props->dwSampleFlags & AM_SAMPLE_SPLICEPOINT) != 0);
    out->SetPreroll((props->dwSampleFlags & AM_SAMPLE_PREROLL) != 0);
    if ((props->dwSampleFlags & AM_SAMPLE_DATADISCONTINUITY) || m_bSampleSkipped) out->SetDiscontinuity(TRUE);
    m_bSampleSkipped = false;
    LONGLONG mediaStart, mediaEnd;
    if (pSample->GetMediaTime(&mediaStart, &mediaEnd) == S_OK) out->SetMediaTime(&mediaStart, &mediaEnd);
    return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* pSample) {
    IMediaSample* out = nullptr;
    HRESULT hr = InitializeOutputSample(pSample, &out);
    if (FAILED(hr)) return hr;
    hr = Transform(pSample, out);
    if (hr == S_OK) {
        hr = m_pOutput->Deliver(out);
        m_bSampleSkipped = false;
    } else if (hr == S_FALSE) {
        // The filter chose to drop this one; the next sample marks the gap.
        m_bSampleSkipped = true;
        hr = S_OK;
    }
    out->Release();
    return hr;
}

HRESULT CTransformFilter::EndOfStream() {
    return m_pOutput ? m_pOutput->DeliverEndOfStream() : S_OK;
}

HRESULT CTransformFilter::BeginFlush() {
    return m_pOutput ? m_pOutput->DeliverBeginFlush() : S_OK;
}

HRESULT CTransformFilter::EndFlush() {
    return m_pOutput ? m_pOutput->DeliverEndFlush() : S_OK;
}

HRESULT CTransformFilter::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    return m_pOutput ? m_pOutput->DeliverNewSegment(tStart, tStop, dRate) : S_OK;
}

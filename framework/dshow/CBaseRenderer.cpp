#include "framework/dshow/CBaseRenderer.h"

#include <chrono>
#include <new>
#include <thread>

namespace {
// End of stream closer than this to the last end time is reported at once.
constexpr REFERENCE_TIME kEndOfStreamSlack = 50 * MILLISECONDS;
}  // namespace

CBaseRenderer::CBaseRenderer(REFCLSID clsid, const char16_t* name, HRESULT* phr)
    : CBaseFilter(name, &m_InterfaceLock, clsid, phr) {
    m_evComplete.set();
    m_eosThread.setContextFunction(&CBaseRenderer::endOfStreamThread, this);
}

CBaseRenderer::~CBaseRenderer() {
    m_eosQuit.set();
    m_eosThread.stop();
    {
        ScopedLock lock(m_RendererLock);
        ResetEndOfStreamTimer();
        CancelNotification();
        ClearPendingSample();
    }
    delete m_pPosition;
    delete m_pInputPin;
}

CBasePin* CBaseRenderer::GetPin(int n) {
    ScopedLock lock(m_InterfaceLock);
    if (!m_pInputPin) {
        HRESULT hr = S_OK;
        m_pInputPin = new (std::nothrow) CRendererInputPin(this, &hr, u"In");
        if (m_pInputPin && FAILED(hr)) {
            delete m_pInputPin;
            m_pInputPin = nullptr;
        }
        // Made with the pin, before any streaming thread can look at it.
        if (m_pInputPin && !m_pPosition)
            m_pPosition = new (std::nothrow)
                CRendererPosPassThru(u"Renderer position", static_cast<IBaseFilter*>(this), &hr, m_pInputPin);
    }
    return n == 0 ? m_pInputPin : nullptr;
}

HRESULT CBaseRenderer::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (!ppPin) return E_POINTER;
    *ppPin = nullptr;
    if (!Id) return E_POINTER;
    GetPin(0);
    return CBaseFilter::FindPin(Id, ppPin);
}

HRESULT CBaseRenderer::queryOther(REFIID riid, void** ppv) {
    if (riid == IMediaSeeking::iid) {
        GetPin(0);
        if (!m_pPosition) return E_OUTOFMEMORY;
        *ppv = static_cast<IMediaSeeking*>(m_pPosition);
        m_pPosition->AddRef();
        return S_OK;
    }
    return CBaseFilter::queryOther(riid, ppv);
}

HRESULT CBaseRenderer::SetMediaType(const CMediaType*) {
    return S_OK;
}
HRESULT CBaseRenderer::BreakConnect() {
    return S_OK;
}
HRESULT CBaseRenderer::CompleteConnect(IPin*) {
    return S_OK;
}
HRESULT CBaseRenderer::ShouldDrawSampleNow(IMediaSample*, REFERENCE_TIME*, REFERENCE_TIME*) {
    return S_FALSE;
}
void CBaseRenderer::OnReceiveFirstSample(IMediaSample*) {}
void CBaseRenderer::OnRenderStart(IMediaSample*) {}
void CBaseRenderer::OnRenderEnd(IMediaSample*) {}

HRESULT CBaseRenderer::Active() {
    return S_OK;
}

HRESULT CBaseRenderer::Inactive() {
    if (m_pPosition) m_pPosition->ResetMediaTime();
    ClearPendingSample();
    return S_OK;
}

// ---- state changes ----

HRESULT CBaseRenderer::Stop() {
    ScopedLock lock(m_InterfaceLock);
    if (m_State.load() == State_Stopped) return S_OK;
    GetPin(0);
    if (!m_pInputPin || !m_pInputPin->IsConnected()) {
        m_State = State_Stopped;
        return S_OK;
    }
    // Decommits the allocator, which frees an upstream thread waiting for a buffer.
    CBaseFilter::Stop();
    StopStreaming();
    SourceThreadCanWait(false);
    {
        ScopedLock sampleLock(m_RendererLock);
        ResetEndOfStream();
        CancelNotification();
    }
    Ready();
    WaitForReceiveToComplete();
    m_bAbort = false;
    ClearPendingSample();
    return S_OK;
}

HRESULT CBaseRenderer::Pause() {
    ScopedLock lock(m_InterfaceLock);
    FILTER_STATE old = m_State.load();
    if (old == State_Paused) return CompleteStateChange(State_Paused);
    GetPin(0);
    if (!m_pInputPin || !m_pInputPin->IsConnected()) {
        // Nothing can arrive: the stream is complete as far as this renderer goes.
        NotifyEvent(EC_COMPLETE, S_OK, 0);
        m_State = State_Paused;
        return CompleteStateChange(State_Paused);
    }
    HRESULT hr = CBaseFilter::Pause();
    if (FAILED(hr)) {
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    StopStreaming();
    SourceThreadCanWait(true);
    {
        ScopedLock sampleLock(m_RendererLock);
        CancelNotification();
        ResetEndOfStreamTimer();
    }
    if (old == State_Stopped) {
        m_bAbort = false;
        ClearPendingSample();
    }
    return CompleteStateChange(old);
}

HRESULT CBaseRenderer::Run(REFERENCE_TIME tStart) {
    ScopedLock lock(m_InterfaceLock);
    FILTER_STATE old = m_State.load();
    if (old == State_Running) return S_OK;
    GetPin(0);
    if (!m_pInputPin || !m_pInputPin->IsConnected()) {
        NotifyEvent(EC_COMPLETE, S_OK, 0);
        m_tStart = tStart;
        m_State = State_Running;
        return S_OK;
    }
    HRESULT hr = CBaseFilter::Run(tStart);
    if (FAILED(hr)) {
        NotifyEvent(EC_ERRORABORT, hr, 0);
        return hr;
    }
    // Running is never an incomplete state (a Run straight from stop paused on the way).
    Ready();
    SourceThreadCanWait(true);
    if (old == State_Stopped) {
        m_bAbort = false;
        ClearPendingSample();
    }
    return StartStreaming();
}

HRESULT CBaseRenderer::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    bool complete = m_evComplete.wait(dwMilliSecsTimeout);
    *State = m_State.load();
    return complete ? S_OK : VFW_S_STATE_INTERMEDIATE;
}

HRESULT CBaseRenderer::CompleteStateChange(FILTER_STATE oldState) {
    if (!m_pInputPin || !m_pInputPin->IsConnected() || IsEndOfStream()) {
        Ready();
        return S_OK;
    }
    // Going from run to pause with a sample in hand is complete at once; from stop, the
    // pause completes when the first sample arrives.
    if (HaveCurrentSample() && oldState != State_Stopped) {
        Ready();
        return S_OK;
    }
    NotReady();
    return S_FALSE;
}

HRESULT CBaseRenderer::StartStreaming() {
    ScopedLock lock(m_RendererLock);
    if (m_bStreaming.load()) return S_OK;
    m_bStreaming = true;
    OnStartStreaming();
    if (!m_pMediaSample) return SendEndOfStream();
    if (!ScheduleSample(m_pMediaSample)) m_RenderEvent.set();
    return S_OK;
}

HRESULT CBaseRenderer::StopStreaming() {
    ScopedLock lock(m_RendererLock);
    if (m_bStreaming.load()) {
        m_bStreaming = false;
        OnStopStreaming();
    }
    return S_OK;
}

void CBaseRenderer::SourceThreadCanWait(bool canWait) {
    if (canWait)
        m_ThreadSignal.reset();
    else
        m_ThreadSignal.set();
}

void CBaseRenderer::WaitForReceiveToComplete() {
    while (m_bInReceive.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// ---- samples ----

bool CBaseRenderer::HaveCurrentSample() {
    ScopedLock lock(m_RendererLock);
    return m_pMediaSample != nullptr;
}

IMediaSample* CBaseRenderer::GetCurrentSample() {
    ScopedLock lock(m_RendererLock);
    if (m_pMediaSample) m_pMediaSample->AddRef();
    return m_pMediaSample;
}

HRESULT CBaseRenderer::ClearPendingSample() {
    ScopedLock lock(m_RendererLock);
    if (m_pMediaSample) {
        m_pMediaSample->Release();
        m_pMediaSample = nullptr;
    }
    return S_OK;
}

HRESULT CBaseRenderer::GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime) {
    REFERENCE_TIME start = 0, end = 0;
    // A sample without times is drawn at once.
    if (FAILED(pMediaSample->GetTime(&start, &end))) return S_OK;
    *pStartTime = start;
    *pEndTime = end;
    if (end < start) return VFW_E_START_TIME_AFTER_END;
    if (!m_pClock) return S_OK;
    return ShouldDrawSampleNow(pMediaSample, pStartTime, pEndTime);
}

bool CBaseRenderer::ScheduleSample(IMediaSample* pMediaSample) {
    if (!pMediaSample) return false;
    REFERENCE_TIME start = 0, end = 0;
    HRESULT hr = GetSampleTimes(pMediaSample, &start, &end);
    if (FAILED(hr)) return false;
    if (hr == S_OK) {
        m_RenderEvent.set();
        return true;
    }
    DWORD_PTR cookie = 0;
    hr = m_pClock->AdviseTime(m_tStart.load(), start, &m_RenderEvent, &cookie);
    if (FAILED(hr)) return false;
    m_dwAdvise = cookie;
    return true;
}

HRESULT CBaseRenderer::CancelNotification() {
    ScopedLock lock(m_RendererLock);
    DWORD_PTR advise = m_dwAdvise.exchange(0);
    if (advise && m_pClock) m_pClock->Unadvise(advise);
    m_RenderEvent.reset();
    return advise ? S_OK : S_FALSE;
}

HRESULT CBaseRenderer::WaitForRenderTime() {
    OnWaitStart();
    int which = Event::waitAny({&m_ThreadSignal, &m_RenderEvent}, INFINITE);
    OnWaitEnd();
    if (which != 1) return VFW_E_STATE_CHANGED;
    SignalTimerFired();
    return S_OK;
}

HRESULT CBaseRenderer::PrepareReceive(IMediaSample* pMediaSample) {
    ScopedLock lock(m_InterfaceLock);
    m_bInReceive = true;
    HRESULT hr = m_pInputPin->CBaseInputPin::Receive(pMediaSample);
    if (hr != S_OK) {
        m_bInReceive = false;
        return hr;
    }
    // A type change travels with its sample.
    if (m_pInputPin->SampleProps()->dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        AM_MEDIA_TYPE* changed = nullptr;
        if (pMediaSample->GetMediaType(&changed) == S_OK && changed) {
            CMediaType type(*changed);
            DeleteMediaType(changed);
            m_pInputPin->SetMediaType(&type);
        }
    }
    ScopedLock sampleLock(m_RendererLock);
    if (m_pMediaSample || m_bEOS.load() || m_bAbort.load()) {
        Ready();
        m_bInReceive = false;
        return m_bEOS.load() ? VFW_E_SAMPLE_REJECTED_EOS : E_UNEXPECTED;
    }
    if (m_pPosition) m_pPosition->RegisterMediaTime(pMediaSample);
    if (m_bStreaming.load() && !ScheduleSample(pMediaSample)) {
        m_bInReceive = false;
        return VFW_E_SAMPLE_REJECTED;
    }
    REFERENCE_TIME start, end;
    if (SUCCEEDED(pMediaSample->GetTime(&start, &end))) m_SignalTime = end;
    m_pMediaSample = pMediaSample;
    m_pMediaSample->AddRef();
    return S_OK;
}

HRESULT CBaseRenderer::Receive(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    HRESULT hr = PrepareReceive(pMediaSample);
    if (hr != S_OK) return hr == VFW_E_SAMPLE_REJECTED ? S_OK : hr;

    if (m_State.load() == State_Paused) {
        PrepareRender();
        m_bInReceive = false;
        {
            ScopedLock lock(m_InterfaceLock);
            if (m_State.load() == State_Stopped) return S_OK;
            ScopedLock sampleLock(m_RendererLock);
            // A flush may have taken the sample away meanwhile.
            if (m_pMediaSample != pMediaSample) return S_OK;
            m_bInReceive = true;
            OnReceiveFirstSample(pMediaSample);
        }
        Ready();
    }

    hr = WaitForRenderTime();
    if (FAILED(hr)) {
        m_bInReceive = false;
        return S_OK;
    }
    PrepareRender();
    m_bInReceive = false;

    ScopedLock lock(m_InterfaceLock);
    if (m_State.load() == State_Stopped) return S_OK;
    ScopedLock sampleLock(m_RendererLock);
    if (m_pMediaSample == pMediaSample) Render(m_pMediaSample);
    ClearPendingSample();
    SendEndOfStream();
    CancelNotification();
    return S_OK;
}

HRESULT CBaseRenderer::Render(IMediaSample* pMediaSample) {
    if (!pMediaSample) return E_POINTER;
    if (!m_bStreaming.load()) return S_FALSE;
    OnRenderStart(pMediaSample);
    HRESULT hr = DoRenderSample(pMediaSample);
    OnRenderEnd(pMediaSample);
    return hr;
}

// ---- end of stream and flushing ----

HRESULT CBaseRenderer::EndOfStream() {
    if (m_State.load() == State_Stopped) return S_OK;
    m_bEOS = true;
    // With a sample still waiting, the end is reported after it was drawn.
    if (m_pMediaSample) return S_OK;
    if (m_pPosition) m_pPosition->EOS();
    Ready();
    if (m_bStreaming.load()) SendEndOfStream();
    return S_OK;
}

HRESULT CBaseRenderer::SendEndOfStream() {
    ScopedLock lock(m_RendererLock);
    if (!m_bEOS.load() || m_bEOSDelivered.load() || m_bEOSTimerArmed) return S_OK;
    if (!m_pClock) return NotifyEndOfStream();
    REFERENCE_TIME now = 0;
    if (FAILED(m_pClock->GetTime(&now))) return NotifyEndOfStream();
    REFERENCE_TIME due = m_tStart.load() + m_SignalTime;
    if (due - now < kEndOfStreamSlack) return NotifyEndOfStream();
    if (!m_eosThread.isRunning() && !m_eosThread.start()) return NotifyEndOfStream();
    m_eosEvent.reset();
    DWORD_PTR cookie = 0;
    if (FAILED(m_pClock->AdviseTime(m_tStart.load(), m_SignalTime, &m_eosEvent, &cookie))) return NotifyEndOfStream();
    m_eosAdvise = cookie;
    m_bEOSTimerArmed = true;
    return S_OK;
}

void CBaseRenderer::endOfStreamThread(Thread&, void* context) {
    auto* self = static_cast<CBaseRenderer*>(context);
    for (;;) {
        int which = Event::waitAny({&self->m_eosEvent, &self->m_eosQuit}, INFINITE);
        if (which != 0) break;
        {
            ScopedLock lock(self->m_RendererLock);
            // A timer cancelled after it fired is ignored; not running, Run reports it.
            if (!self->m_bEOSTimerArmed || !self->m_bStreaming.load()) continue;
            self->m_bEOSTimerArmed = false;
            self->m_eosAdvise = 0;
            self->m_bEOSDelivered = true;
        }
        // Outside the renderer's locks: the graph may be changing state meanwhile.
        if (self->m_pPosition) self->m_pPosition->EOS();
        self->NotifyEvent(EC_COMPLETE, S_OK, 0);
    }
}

HRESULT CBaseRenderer::NotifyEndOfStream() {
    ScopedLock lock(m_RendererLock);
    // Not running: Run reports it.
    if (!m_bStreaming.load()) return S_OK;
    m_bEOSTimerArmed = false;
    m_eosAdvise = 0;
    if (m_pPosition) m_pPosition->EOS();
    m_bEOSDelivered = true;
    return NotifyEvent(EC_COMPLETE, S_OK, 0);
}

void CBaseRenderer::ResetEndOfStreamTimer() {
    ScopedLock lock(m_RendererLock);
    if (m_bEOSTimerArmed) {
        if (m_eosAdvise && m_pClock) m_pClock->Unadvise(m_eosAdvise);
        m_eosAdvise = 0;
        m_bEOSTimerArmed = false;
    }
    m_eosEvent.reset();
}

void CBaseRenderer::ResetEndOfStream() {
    ScopedLock lock(m_RendererLock);
    ResetEndOfStreamTimer();
    m_bEOS = false;
    m_bEOSDelivered = false;
    m_SignalTime = 0;
}

HRESULT CBaseRenderer::BeginFlush() {
    // Paused, the pause is incomplete again until a sample of the new segment arrives.
    if (m_State.load() == State_Paused) NotReady();
    SourceThreadCanWait(false);
    CancelNotification();
    ClearPendingSample();
    ResetEndOfStream();
    WaitForReceiveToComplete();
    return S_OK;
}

HRESULT CBaseRenderer::EndFlush() {
    if (m_pPosition) m_pPosition->ResetMediaTime();
    SourceThreadCanWait(true);
    return S_OK;
}

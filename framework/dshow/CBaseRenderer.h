#pragma once
// A renderer: one input pin whose samples are held until their time on the graph's
// reference clock (AdviseTime relative to the run start) and then handed to
// DoRenderSample. Paused, it holds the first sample and reports the pause complete (a
// video renderer shows it); GetState answers VFW_S_STATE_INTERMEDIATE until then. At end
// of stream it reports EC_COMPLETE to the graph once the last sample's end time has
// passed. IMediaSeeking on the filter is passed to the upstream pin.
#include <atomic>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Thread.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CPosPassThru.h"
#include "framework/dshow/CRendererInputPin.h"

class CBaseRenderer : public CBaseFilter {
public:
    CBaseRenderer(REFCLSID clsid, const char16_t* name, HRESULT* phr);
    ~CBaseRenderer() override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override;

    // Hooks of a derived renderer.
    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    virtual HRESULT DoRenderSample(IMediaSample* pMediaSample) = 0;
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // S_OK: draw at once; S_FALSE: wait for the sample's time; an error: drop it.
    virtual HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStart, REFERENCE_TIME* ptrEnd);
    virtual void OnReceiveFirstSample(IMediaSample* pMediaSample);
    virtual void OnRenderStart(IMediaSample* pMediaSample);
    virtual void OnRenderEnd(IMediaSample* pMediaSample);
    virtual HRESULT OnStartStreaming() { return S_OK; }
    virtual HRESULT OnStopStreaming() { return S_OK; }
    virtual void OnWaitStart() {}
    virtual void OnWaitEnd() {}
    virtual void PrepareRender() {}

    // The stream, as called by the input pin.
    virtual HRESULT Receive(IMediaSample* pMediaSample);
    virtual HRESULT EndOfStream();
    virtual HRESULT BeginFlush();
    virtual HRESULT EndFlush();
    virtual HRESULT Active();
    virtual HRESULT Inactive();

    // Scheduling.
    virtual HRESULT GetSampleTimes(IMediaSample* pMediaSample, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime);
    virtual bool ScheduleSample(IMediaSample* pMediaSample);
    virtual HRESULT Render(IMediaSample* pMediaSample);
    HRESULT WaitForRenderTime();
    HRESULT CancelNotification();
    HRESULT ClearPendingSample();
    HRESULT SendEndOfStream();
    HRESULT NotifyEndOfStream();
    void ResetEndOfStream();
    HRESULT StartStreaming();
    HRESULT StopStreaming();
    HRESULT CompleteStateChange(FILTER_STATE oldState);
    void Ready() { m_evComplete.set(); }
    void NotReady() { m_evComplete.reset(); }
    // false releases a Receive waiting for its time (stop, flush).
    void SourceThreadCanWait(bool canWait);
    void WaitForReceiveToComplete();

    bool IsEndOfStream() { return m_bEOS.load(); }
    bool IsEndOfStreamDelivered() { return m_bEOSDelivered.load(); }
    bool IsStreaming() { return m_bStreaming.load(); }
    bool HaveCurrentSample();
    // The held sample with a new reference, or null.
    IMediaSample* GetCurrentSample();
    CRendererInputPin* InputPin() { return m_pInputPin; }

protected:
    friend class CRendererInputPin;

    HRESULT queryOther(REFIID riid, void** ppv) override;
    HRESULT PrepareReceive(IMediaSample* pMediaSample);
    void SignalTimerFired() { m_dwAdvise = 0; }

    CriticalSection m_InterfaceLock;  // the filter lock
    CriticalSection m_RendererLock;   // the held sample and the streaming state
    CRendererInputPin* m_pInputPin = nullptr;
    CRendererPosPassThru* m_pPosition = nullptr;
    std::atomic<bool> m_bAbort{false};
    std::atomic<bool> m_bStreaming{false};
    std::atomic<bool> m_bEOS{false};
    std::atomic<bool> m_bEOSDelivered{false};
    std::atomic<bool> m_bInReceive{false};
    std::atomic<DWORD_PTR> m_dwAdvise{0};
    IMediaSample* m_pMediaSample = nullptr;  // held until rendered
    REFERENCE_TIME m_SignalTime = 0;         // end time of the last sample
    Event m_evComplete{Event::Reset::Manual};
    Event m_ThreadSignal{Event::Reset::Manual};
    Event m_RenderEvent{Event::Reset::Auto};

private:
    static void endOfStreamThread(Thread& thread, void* context);
    void ResetEndOfStreamTimer();

    // End of stream waits for the last end time through a clock advise served here.
    Thread m_eosThread;
    Event m_eosEvent{Event::Reset::Auto};
    Event m_eosQuit{Event::Reset::Manual};
    bool m_bEOSTimerArmed = false;
    DWORD_PTR m_eosAdvise = 0;
};

#pragma once
// The filter state machine every filter of the pipeline derives from: stopped, paused,
// running; the reference clock; membership of a graph and event reporting to it; pin
// enumeration. Pins are owned by the derived filter and share the filter's reference
// count. The graph is held without a reference (it holds the filter).
#include <atomic>
#include <string>

#include "framework/CriticalSection.h"
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/EventCodes.h"
#include "framework/dshow/FilterInterfaces.h"
#include "framework/dshow/GraphInterfaces.h"

class CBasePin;

class CBaseFilter : public IBaseFilter {
public:
    // lock is the filter's state lock, owned by the derived class.
    CBaseFilter(const char16_t* name, CriticalSection* lock, REFCLSID clsid, HRESULT* phr = nullptr);
    virtual ~CBaseFilter();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;

    virtual int GetPinCount() = 0;
    // The n-th pin, without a new reference; null past the end.
    virtual CBasePin* GetPin(int n) = 0;
    // Changes whenever the set of pins changes (enumerators then report out of sync).
    virtual LONG GetPinVersion() { return m_PinVersion.load(); }
    void IncrementPinVersion() { ++m_PinVersion; }

    // Current stream time: the clock's time minus the run start; VFW_E_NO_CLOCK without clock.
    virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
    // Reports an event to the graph; EC_COMPLETE carries this filter as its second parameter.
    HRESULT NotifyEvent(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2);

    bool IsActive() { return m_State.load() != State_Stopped; }
    bool IsStopped() { return m_State.load() == State_Stopped; }
    FILTER_STATE state() { return m_State.load(); }
    REFERENCE_TIME startTime() { return m_tStart.load(); }
    IFilterGraph* GetFilterGraph() { return m_pGraph; }
    CriticalSection* pStateLock() { return m_pLock; }
    const std::u16string& name() const { return m_pName; }

protected:
    // Further interfaces of a derived filter; must AddRef what it hands out.
    virtual HRESULT queryOther(REFIID riid, void** ppv);

    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;  // holds a reference
    std::atomic<REFERENCE_TIME> m_tStart{0};
    CLSID m_clsid;
    CriticalSection* m_pLock;
    std::u16string m_pName;  // the name in the graph
    IFilterGraph* m_pGraph = nullptr;
    std::atomic<IMediaEventSink*> m_pSink{nullptr};

private:
    std::atomic<ULONG> m_cRef{0};
    std::atomic<LONG> m_PinVersion{1};
};

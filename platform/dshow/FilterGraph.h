#pragma once
// The filter graph manager (CLSID_FilterGraph): holds the filters, connects them
// (directly or through registered intermediate filters), drives their state changes on
// one reference clock, gathers their events and routes seeking and the audio/video
// interfaces to the renderers.
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "framework/ComObject.h"
#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/GraphInterfaces.h"
#include "platform/dshow/GraphRendererControls.h"
#include "platform/dshow/MediaEventQueue.h"

class FilterGraph
    : public ComObject<IGraphBuilder, IMediaControl, IMediaEventEx, IMediaEventSink, IMediaSeeking, IMediaFilter> {
public:
    // Stream time 0 lies this far after the clock time at which Run is called, so every
    // filter has entered the running state before the first sample is due.
    static constexpr REFERENCE_TIME kRunOffset = 10 * MILLISECONDS;

    FilterGraph();

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    HRESULT RemoveFilter(IBaseFilter* pFilter) override;
    HRESULT EnumFilters(IEnumFilters** ppEnum) override;
    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Reconnect(IPin* ppin) override;
    HRESULT Disconnect(IPin* ppin) override;
    HRESULT SetDefaultSyncSource() override;

    // IGraphBuilder
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override;
    HRESULT Render(IPin* ppinOut) override;
    HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) override;
    HRESULT SetLogFile(DWORD_PTR hFile) override;
    HRESULT Abort() override;
    HRESULT ShouldOperationContinue() override;

    // IMediaControl (Stop and Pause also serve IMediaFilter)
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(LONG msTimeout, OAFilterState* pfs) override;
    HRESULT RenderFile(BSTR strFilename) override;
    HRESULT StopWhenReady() override;

    // IMediaEvent / IMediaEventEx
    HRESULT GetEventHandle(OAEVENT* hEvent) override;
    HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) override;
    HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) override;
    HRESULT CancelDefaultHandling(LONG lEvCode) override;
    HRESULT RestoreDefaultHandling(LONG lEvCode) override;
    HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) override;
    HRESULT SetNotifyFlags(LONG lNoNotifyFlags) override;
    HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) override;

    // IMediaEventSink
    HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* pCapabilities) override;
    HRESULT CheckCapabilities(DWORD* pCapabilities) override;
    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT GetCurrentPosition(LONGLONG* pCurrent) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    HRESULT SetRate(double dRate) override;
    HRESULT GetRate(double* pdRate) override;
    HRESULT GetPreroll(LONGLONG* pllPreroll) override;

    // IMediaFilter (the graph as a whole)
    HRESULT GetClassID(CLSID* pClassID) override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;

    // For the graph's own enumerators and builders.
    uint64_t filterListVersion() const { return version_.load(std::memory_order_acquire); }
    std::vector<InterfacePtr<IBaseFilter>> filters() const;
    bool contains(IBaseFilter* filter) const;
    CriticalSection& graphLock() { return lock_; }

protected:
    ~FilterGraph() override;
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    struct Member {
        InterfacePtr<IBaseFilter> filter;
        std::u16string name;
    };

    IFilterGraph* asGraph() { return static_cast<IGraphBuilder*>(this); }
    std::u16string uniqueNameLocked(LPCWSTR wanted) const;
    // Filters ordered so that every filter comes before the filters that feed it.
    std::vector<InterfacePtr<IBaseFilter>> downstreamFirstLocked() const;
    // The seeking interfaces of the connected renderers.
    std::vector<InterfacePtr<IMediaSeeking>> rendererSeekingLocked() const;
    size_t connectedRendererCountLocked() const;
    InterfacePtr<IReferenceClock> chooseDefaultClockLocked() const;
    void distributeClockLocked();

    HRESULT pauseLocked();
    HRESULT runLocked(bool explicitStart, REFERENCE_TIME tStart);
    HRESULT stopLocked();
    HRESULT waitForStates(DWORD msTimeout, FILTER_STATE* state);
    REFERENCE_TIME streamTimeLocked() const;
    REFERENCE_TIME currentPositionLocked() const;
    HRESULT stopPositionLocked(LONGLONG* stop) const;
    HRESULT forwardPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);
    void resetCompletion(size_t renderers);

    mutable CriticalSection lock_;
    std::vector<Member> members_;
    std::atomic<uint64_t> version_{1};
    FILTER_STATE state_ = State_Stopped;
    InterfacePtr<IReferenceClock> clock_;
    bool clockChosenByUser_ = false;
    REFERENCE_TIME startTime_ = 0;
    REFERENCE_TIME pausedStreamTime_ = 0;
    REFERENCE_TIME positionBase_ = 0;
    double rate_ = 1.0;

    MediaEventQueue events_;
    // Renderers that reported the end of their stream since the last start or seek;
    // reached from streaming threads, so under its own lock, never the graph's.
    std::mutex completionMutex_;
    std::set<LONG_PTR> completed_;
    size_t anonymousCompletions_ = 0;
    size_t expectedCompletions_ = 0;
    bool completeSent_ = false;
    bool defaultCompleteHandling_ = true;

    GraphRendererControls controls_;
};

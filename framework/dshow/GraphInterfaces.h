#pragma once
// The filter graph manager's interfaces: building (IFilterGraph, IGraphBuilder), control,
// events, seeking, and the audio and video interfaces it forwards to its renderers.
#include "framework/dshow/FilterInterfaces.h"

struct IFilterGraph : IUnknown {
    static constexpr GUID iid = guidOf("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    // A name already in use gives VFW_S_DUPLICATE_NAME with a changed name.
    virtual HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    virtual HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Reconnect(IPin* ppin) = 0;
    virtual HRESULT Disconnect(IPin* ppin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

struct IGraphBuilder : IFilterGraph {
    static constexpr GUID iid = guidOf("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    // Intelligent connect: directly, or through registered intermediate filters.
    virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    virtual HRESULT Render(IPin* ppinOut) = 0;
    virtual HRESULT RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) = 0;
    virtual HRESULT AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) = 0;
    virtual HRESULT SetLogFile(DWORD_PTR hFile) = 0;
    virtual HRESULT Abort() = 0;
    virtual HRESULT ShouldOperationContinue() = 0;
};

struct IMediaControl : IUnknown {
    static constexpr GUID iid = guidOf("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    // VFW_S_STATE_INTERMEDIATE while a transition is still completing.
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT RenderFile(BSTR strFilename) = 0;
    virtual HRESULT StopWhenReady() = 0;
};

struct IMediaEvent : IUnknown {
    static constexpr GUID iid = guidOf("{56A868B6-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT GetEventHandle(OAEVENT* hEvent) = 0;
    // E_ABORT when no event arrives within msTimeout.
    virtual HRESULT GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) = 0;
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG* pEvCode) = 0;
    virtual HRESULT CancelDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT RestoreDefaultHandling(LONG lEvCode) = 0;
    virtual HRESULT FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) = 0;
};

struct IMediaEventEx : IMediaEvent {
    static constexpr GUID iid = guidOf("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
    // While events wait, lMsg is posted to hwnd with wParam 0 and lParam lInstanceData.
    virtual HRESULT SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) = 0;
    virtual HRESULT SetNotifyFlags(LONG lNoNotifyFlags) = 0;
    virtual HRESULT GetNotifyFlags(LONG* lplNoNotifyFlags) = 0;
};

constexpr LONG AM_MEDIAEVENT_NONOTIFY = 0x01;

// What filters call to report events to the graph that holds them.
struct IMediaEventSink : IUnknown {
    static constexpr GUID iid = guidOf("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) = 0;
};

struct IMediaSeeking : IUnknown {
    static constexpr GUID iid = guidOf("{36B73880-C2C8-11CF-8B46-00805F6CEF60}");
    virtual HRESULT GetCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT CheckCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT IsFormatSupported(const GUID* pFormat) = 0;
    virtual HRESULT QueryPreferredFormat(GUID* pFormat) = 0;
    virtual HRESULT GetTimeFormat(GUID* pFormat) = 0;
    virtual HRESULT IsUsingTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT SetTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT GetDuration(LONGLONG* pDuration) = 0;
    virtual HRESULT GetStopPosition(LONGLONG* pStop) = 0;
    virtual HRESULT GetCurrentPosition(LONGLONG* pCurrent) = 0;
    virtual HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                      const GUID* pSourceFormat) = 0;
    virtual HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) = 0;
    virtual HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    virtual HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
    virtual HRESULT SetRate(double dRate) = 0;
    virtual HRESULT GetRate(double* pdRate) = 0;
    virtual HRESULT GetPreroll(LONGLONG* pllPreroll) = 0;
};

// Levels in hundredths of a decibel: volume -10000 (silent) ... 0, balance -10000 ... 10000.
struct IBasicAudio : IUnknown {
    static constexpr GUID iid = guidOf("{56A868B3-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT put_Volume(LONG lVolume) = 0;
    virtual HRESULT get_Volume(LONG* plVolume) = 0;
    virtual HRESULT put_Balance(LONG lBalance) = 0;
    virtual HRESULT get_Balance(LONG* plBalance) = 0;
};

// The subset of the video renderer's picture interface the player uses.
struct IBasicVideo : IUnknown {
    static constexpr GUID iid = guidOf("{56A868B5-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) = 0;
    virtual HRESULT get_VideoWidth(LONG* pVideoWidth) = 0;
    virtual HRESULT get_VideoHeight(LONG* pVideoHeight) = 0;
    virtual HRESULT SetSourcePosition(LONG Left, LONG Top, LONG Width, LONG Height) = 0;
    virtual HRESULT GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT SetDefaultSourcePosition() = 0;
    virtual HRESULT SetDestinationPosition(LONG Left, LONG Top, LONG Width, LONG Height) = 0;
    virtual HRESULT GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT SetDefaultDestinationPosition() = 0;
    virtual HRESULT GetVideoSize(LONG* pWidth, LONG* pHeight) = 0;
};

// The subset of the video renderer's window interface the player uses.
struct IVideoWindow : IUnknown {
    static constexpr GUID iid = guidOf("{56A868B4-0AD4-11CE-B03A-0020AF0BA770}");
    virtual HRESULT put_WindowStyle(LONG WindowStyle) = 0;
    virtual HRESULT get_WindowStyle(LONG* WindowStyle) = 0;
    virtual HRESULT put_AutoShow(LONG AutoShow) = 0;
    virtual HRESULT get_AutoShow(LONG* AutoShow) = 0;
    virtual HRESULT put_Visible(LONG Visible) = 0;
    virtual HRESULT get_Visible(LONG* pVisible) = 0;
    virtual HRESULT put_Owner(OAHWND Owner) = 0;
    virtual HRESULT get_Owner(OAHWND* Owner) = 0;
    virtual HRESULT put_MessageDrain(OAHWND Drain) = 0;
    virtual HRESULT get_MessageDrain(OAHWND* Drain) = 0;
    virtual HRESULT SetWindowPosition(LONG Left, LONG Top, LONG Width, LONG Height) = 0;
    virtual HRESULT GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) = 0;
    virtual HRESULT get_FullScreenMode(LONG* FullScreenMode) = 0;
    virtual HRESULT put_FullScreenMode(LONG FullScreenMode) = 0;
    virtual HRESULT SetWindowForeground(LONG Focus) = 0;
};

#pragma once
// A scripted filter graph manager standing in for the real one, so a player's open and
// transport can be checked call by call: it answers as its script says and records what
// the player asked. Registered as the graph class for the tests that use it.
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "PostedMessages.h"
#include "framework/ComObject.h"
#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/Dshow.h"

namespace fakegraph {

struct Script {
    HRESULT renderResult = S_OK;
    HRESULT audioResult = S_OK;    // put_Volume / put_Balance
    HRESULT visibleResult = S_OK;  // get_Visible: a system video window exists
    LONG videoWidth = 320;
    LONG videoHeight = 240;
    LONGLONG duration = 50000000;
    HRESULT seekResult = S_OK;
};

struct Call {
    std::string name;
    LONGLONG a = 0;
    LONGLONG b = 0;
};

class FakeGraph;

// The test's view of the graph the player made last.
struct Record {
    std::mutex mutex;
    Script script;
    std::vector<Call> calls;
    std::deque<LONG> events;
    LONGLONG current = 0;
    LONGLONG stop = 0;
    FILTER_STATE state = State_Stopped;
    OAHWND notifyWindow = 0;
    LONG notifyMessage = 0;
    LONG_PTR notifyInstance = 0;
    LONG fullScreen = OAFALSE;
    OAHWND drain = 0;
    int alive = 0;

    void log(const char* name, LONGLONG a = 0, LONGLONG b = 0) {
        std::lock_guard<std::mutex> l(mutex);
        calls.push_back({name, a, b});
    }
    std::vector<Call> callsNamed(const std::string& name) {
        std::lock_guard<std::mutex> l(mutex);
        std::vector<Call> out;
        for (const Call& c : calls)
            if (c.name == name) out.push_back(c);
        return out;
    }
    void reset(const Script& s) {
        std::lock_guard<std::mutex> l(mutex);
        script = s;
        calls.clear();
        events.clear();
        current = stop = 0;
        state = State_Stopped;
        notifyWindow = 0;
        fullScreen = OAFALSE;
        drain = 0;
    }
};

inline Record& record() {
    static Record r;
    return r;
}

class FakeGraph : public ComObject<IGraphBuilder, IMediaControl, IMediaEventEx, IMediaSeeking, IBasicAudio, IBasicVideo,
                                   IVideoWindow> {
public:
    FakeGraph() { ++record().alive; }
    ~FakeGraph() override { --record().alive; }
    Record& r() { return record(); }

    // IFilterGraph / IGraphBuilder
    HRESULT AddFilter(IBaseFilter* f, LPCWSTR) override {
        if (!f) return E_POINTER;
        filters_.emplace_back(f);
        r().log("AddFilter");
        return S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter*) override { return S_OK; }
    HRESULT EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Reconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return S_OK; }
    HRESULT Connect(IPin*, IPin*) override { return E_FAIL; }
    HRESULT Render(IPin*) override { return logged("Render", 0, r().script.renderResult); }
    HRESULT RenderFile(LPCWSTR, LPCWSTR) override { return logged("RenderFile", 0, r().script.renderResult); }
    HRESULT AddSourceFilter(LPCWSTR, LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT SetLogFile(DWORD_PTR) override { return S_OK; }
    HRESULT Abort() override { return S_OK; }
    HRESULT ShouldOperationContinue() override { return S_OK; }

    // IMediaControl
    HRESULT Run() override { return setState(State_Running, "Run"); }
    HRESULT Pause() override { return setState(State_Paused, "Pause"); }
    HRESULT Stop() override { return setState(State_Stopped, "Stop"); }
    HRESULT GetState(LONG, OAFilterState* s) override {
        *s = r().state;
        return S_OK;
    }
    HRESULT RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT StopWhenReady() override { return E_NOTIMPL; }

    // IMediaEventEx
    HRESULT GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
    HRESULT GetEvent(LONG* code, LONG_PTR* p1, LONG_PTR* p2, LONG) override {
        std::lock_guard<std::mutex> l(r().mutex);
        if (r().events.empty()) return E_ABORT;
        *code = r().events.front();
        r().events.pop_front();
        *p1 = *p2 = 0;
        return S_OK;
    }
    HRESULT WaitForCompletion(LONG, LONG*) override { return E_NOTIMPL; }
    HRESULT CancelDefaultHandling(LONG) override { return S_OK; }
    HRESULT RestoreDefaultHandling(LONG) override { return S_OK; }
    HRESULT FreeEventParams(LONG code, LONG_PTR, LONG_PTR) override {
        r().log("FreeEventParams", code);
        return S_OK;
    }
    HRESULT SetNotifyWindow(OAHWND hwnd, LONG msg, LONG_PTR instance) override {
        std::lock_guard<std::mutex> l(r().mutex);
        r().notifyWindow = hwnd;
        r().notifyMessage = msg;
        r().notifyInstance = instance;
        return S_OK;
    }
    HRESULT SetNotifyFlags(LONG) override { return S_OK; }
    HRESULT GetNotifyFlags(LONG* f) override {
        *f = 0;
        return S_OK;
    }

    // IMediaSeeking
    HRESULT GetCapabilities(DWORD* c) override {
        *c = 0;
        return S_OK;
    }
    HRESULT CheckCapabilities(DWORD*) override { return S_OK; }
    HRESULT IsFormatSupported(const GUID*) override { return S_OK; }
    HRESULT QueryPreferredFormat(GUID* f) override {
        *f = TIME_FORMAT_MEDIA_TIME;
        return S_OK;
    }
    HRESULT GetTimeFormat(GUID* f) override { return QueryPreferredFormat(f); }
    HRESULT IsUsingTimeFormat(const GUID*) override { return S_OK; }
    HRESULT SetTimeFormat(const GUID* f) override {
        return logged("SetTimeFormat", *f == TIME_FORMAT_MEDIA_TIME ? 1 : 0);
    }
    HRESULT GetDuration(LONGLONG* d) override {
        *d = r().script.duration;
        return S_OK;
    }
    HRESULT GetStopPosition(LONGLONG* s) override { return GetDuration(s); }
    HRESULT GetCurrentPosition(LONGLONG* c) override {
        std::lock_guard<std::mutex> l(r().mutex);
        *c = r().current;
        return S_OK;
    }
    HRESULT ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override { return E_NOTIMPL; }
    HRESULT SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override {
        if (FAILED(r().script.seekResult)) return r().script.seekResult;
        std::lock_guard<std::mutex> l(r().mutex);
        if ((currentFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning) r().current = *current;
        if ((stopFlags & AM_SEEKING_PositioningBitsMask) == AM_SEEKING_AbsolutePositioning && stop) r().stop = *stop;
        r().calls.push_back({"SetPositions", *current, stop ? *stop : -1});
        return S_OK;
    }
    HRESULT GetPositions(LONGLONG* c, LONGLONG* s) override {
        std::lock_guard<std::mutex> l(r().mutex);
        *c = r().current;
        *s = r().stop;
        return S_OK;
    }
    HRESULT GetAvailable(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    HRESULT SetRate(double rate) override { return logged("SetRate", static_cast<LONGLONG>(rate * 1000)); }
    HRESULT GetRate(double* rate) override {
        *rate = 1.0;
        return S_OK;
    }
    HRESULT GetPreroll(LONGLONG*) override { return E_NOTIMPL; }

    // IBasicAudio
    HRESULT put_Volume(LONG v) override { return logged("put_Volume", v, r().script.audioResult); }
    HRESULT get_Volume(LONG*) override { return E_NOTIMPL; }
    HRESULT put_Balance(LONG b) override { return logged("put_Balance", b, r().script.audioResult); }
    HRESULT get_Balance(LONG*) override { return E_NOTIMPL; }

    // IBasicVideo
    HRESULT get_AvgTimePerFrame(REFTIME*) override { return E_NOTIMPL; }
    HRESULT get_VideoWidth(LONG*) override { return E_NOTIMPL; }
    HRESULT get_VideoHeight(LONG*) override { return E_NOTIMPL; }
    HRESULT SetSourcePosition(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
    HRESULT GetSourcePosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSourcePosition() override { return E_NOTIMPL; }
    HRESULT SetDestinationPosition(LONG, LONG, LONG, LONG) override { return E_NOTIMPL; }
    HRESULT GetDestinationPosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT SetDefaultDestinationPosition() override { return E_NOTIMPL; }
    HRESULT GetVideoSize(LONG* w, LONG* h) override {
        *w = r().script.videoWidth;
        *h = r().script.videoHeight;
        return S_OK;
    }

    // IVideoWindow
    HRESULT put_WindowStyle(LONG s) override { return logged("put_WindowStyle", s); }
    HRESULT get_WindowStyle(LONG*) override { return E_NOTIMPL; }
    HRESULT put_AutoShow(LONG v) override { return logged("put_AutoShow", v); }
    HRESULT get_AutoShow(LONG*) override { return E_NOTIMPL; }
    HRESULT put_Visible(LONG v) override { return logged("put_Visible", v); }
    HRESULT get_Visible(LONG* v) override {
        *v = OATRUE;
        return r().script.visibleResult;
    }
    HRESULT put_Owner(OAHWND o) override { return logged("put_Owner", o); }
    HRESULT get_Owner(OAHWND*) override { return E_NOTIMPL; }
    HRESULT put_MessageDrain(OAHWND d) override {
        r().log("put_MessageDrain", d);
        r().drain = d;
        return S_OK;
    }
    HRESULT get_MessageDrain(OAHWND* d) override {
        *d = r().drain;
        return S_OK;
    }
    HRESULT SetWindowPosition(LONG l, LONG t, LONG w, LONG h) override {
        r().log("SetWindowPosition", (static_cast<LONGLONG>(l) << 32) | t, (static_cast<LONGLONG>(w) << 32) | h);
        return S_OK;
    }
    HRESULT GetWindowPosition(LONG*, LONG*, LONG*, LONG*) override { return E_NOTIMPL; }
    HRESULT get_FullScreenMode(LONG* m) override {
        *m = r().fullScreen;
        return S_OK;
    }
    HRESULT put_FullScreenMode(LONG m) override {
        r().log("put_FullScreenMode", m);
        r().fullScreen = m;
        return S_OK;
    }
    HRESULT SetWindowForeground(LONG f) override { return logged("SetWindowForeground", f); }

private:
    HRESULT logged(const char* name, LONGLONG a = 0, HRESULT answer = S_OK) {
        r().log(name, a);
        return answer;
    }
    HRESULT setState(FILTER_STATE s, const char* name) {
        {
            std::lock_guard<std::mutex> l(r().mutex);
            r().state = s;
        }
        r().log(name);
        return S_OK;
    }
    std::vector<InterfacePtr<IBaseFilter>> filters_;
};

}  // namespace fakegraph

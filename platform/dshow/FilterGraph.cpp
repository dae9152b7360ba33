#include "platform/dshow/FilterGraph.h"

#include <algorithm>
#include <map>
#include <new>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/EventCodes.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/MediaType.h"
#include "framework/dshow/Variant.h"
#include "platform/dshow/FilterEnumerator.h"
#include "platform/dshow/GraphPins.h"
#include "platform/dshow/IntelligentConnect.h"
#include "platform/dshow/SystemClock.h"

using namespace graphpins;

namespace {
constexpr DWORD kSeekingMask = AM_SEEKING_PositioningBitsMask;
constexpr size_t kMaxNameLength = MAX_FILTER_NAME - 1;
}  // namespace

FilterGraph::FilterGraph() : controls_(static_cast<IGraphBuilder*>(this), [this] { return filters(); }) {}

FilterGraph::~FilterGraph() {
    ScopedLock l(lock_);
    if (state_ != State_Stopped) {
        for (InterfacePtr<IBaseFilter>& f : downstreamFirstLocked()) f->Stop();
        state_ = State_Stopped;
    }
    // Break every connection first so no filter reaches a peer that is already gone.
    for (Member& m : members_)
        for (InterfacePtr<IPin>& p : pinsOf(m.filter.get())) p->Disconnect();
    for (Member& m : members_) {
        m.filter->SetSyncSource(nullptr);
        m.filter->JoinFilterGraph(nullptr, nullptr);
    }
    members_.clear();
}

HRESULT FilterGraph::queryOther(REFIID riid, void** ppv) {
    if (riid == IFilterGraph::iid) {
        *ppv = static_cast<IFilterGraph*>(static_cast<IGraphBuilder*>(this));
    } else if (riid == IMediaEvent::iid) {
        *ppv = static_cast<IMediaEvent*>(static_cast<IMediaEventEx*>(this));
    } else if (riid == IPersist::iid) {
        *ppv = static_cast<IPersist*>(static_cast<IMediaFilter*>(this));
    } else if (riid == IBasicAudio::iid) {
        *ppv = static_cast<IBasicAudio*>(&controls_);
    } else if (riid == IBasicVideo::iid) {
        *ppv = static_cast<IBasicVideo*>(&controls_);
    } else if (riid == IVideoWindow::iid) {
        *ppv = static_cast<IVideoWindow*>(&controls_);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// ---- Filters and connections ----

std::vector<InterfacePtr<IBaseFilter>> FilterGraph::filters() const {
    ScopedLock l(lock_);
    std::vector<InterfacePtr<IBaseFilter>> out;
    out.reserve(members_.size());
    for (const Member& m : members_) out.push_back(m.filter);
    return out;
}

bool FilterGraph::contains(IBaseFilter* filter) const {
    ScopedLock l(lock_);
    return std::any_of(members_.begin(), members_.end(), [&](const Member& m) { return m.filter.get() == filter; });
}

std::u16string FilterGraph::uniqueNameLocked(LPCWSTR wanted) const {
    std::u16string base = wanted ? std::u16string(wanted) : std::u16string();
    if (base.size() > kMaxNameLength) base.resize(kMaxNameLength);
    auto taken = [&](const std::u16string& n) {
        return std::any_of(members_.begin(), members_.end(), [&](const Member& m) { return m.name == n; });
    };
    if (!base.empty() && !taken(base)) return base;
    for (unsigned n = 1; n < 100000; ++n) {
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04u", n);
        std::u16string suffix = base.empty() ? u"" : u" ";
        for (const char* d = digits; *d; ++d) suffix += static_cast<char16_t>(*d);
        std::u16string name = base.substr(0, kMaxNameLength - suffix.size()) + suffix;
        if (!taken(name)) return name;
    }
    return {};
}

HRESULT FilterGraph::AddFilter(IBaseFilter* pFilter, LPCWSTR pName) {
    if (!pFilter) return E_POINTER;
    ScopedLock l(lock_);
    if (contains(pFilter)) return VFW_E_DUPLICATE_NAME;
    std::u16string name = uniqueNameLocked(pName);
    if (name.empty()) return VFW_E_DUPLICATE_NAME;
    bool renamed = !pName || name != std::u16string(pName);
    HRESULT hr = pFilter->JoinFilterGraph(asGraph(), name.c_str());
    if (FAILED(hr)) return hr;
    members_.push_back({InterfacePtr<IBaseFilter>(pFilter), name});
    version_.fetch_add(1, std::memory_order_acq_rel);
    if (clock_) pFilter->SetSyncSource(clock_.get());
    // A name the caller gave that had to change is reported; a missing one is not.
    return renamed && pName && *pName ? VFW_S_DUPLICATE_NAME : S_OK;
}

HRESULT FilterGraph::RemoveFilter(IBaseFilter* pFilter) {
    if (!pFilter) return E_POINTER;
    ScopedLock l(lock_);
    auto it =
        std::find_if(members_.begin(), members_.end(), [&](const Member& m) { return m.filter.get() == pFilter; });
    if (it == members_.end()) return VFW_E_NOT_FOUND;
    InterfacePtr<IBaseFilter> filter = it->filter;
    if (state_ != State_Stopped) filter->Stop();
    for (InterfacePtr<IPin>& pin : pinsOf(filter.get())) {
        if (InterfacePtr<IPin> peer = peerOf(pin.get())) {
            peer->Disconnect();
            pin->Disconnect();
        }
    }
    members_.erase(it);
    version_.fetch_add(1, std::memory_order_acq_rel);
    filter->SetSyncSource(nullptr);
    filter->JoinFilterGraph(nullptr, nullptr);
    return S_OK;
}

HRESULT FilterGraph::EnumFilters(IEnumFilters** ppEnum) {
    if (!ppEnum) return E_POINTER;
    auto* e = new (std::nothrow) FilterEnumerator(this);
    if (!e) return E_OUTOFMEMORY;
    e->AddRef();
    *ppEnum = e;
    return S_OK;
}

HRESULT FilterGraph::FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) {
    if (!pName || !ppFilter) return E_POINTER;
    *ppFilter = nullptr;
    ScopedLock l(lock_);
    for (Member& m : members_) {
        if (m.name == pName) {
            *ppFilter = m.filter.get();
            (*ppFilter)->AddRef();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FilterGraph::ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!contains(filterOf(ppinOut).get()) || !contains(filterOf(ppinIn).get())) return VFW_E_NOT_IN_GRAPH;
    PIN_DIRECTION dOut, dIn;
    if (!direction(ppinOut, &dOut) || !direction(ppinIn, &dIn)) return E_FAIL;
    if (dOut != PINDIR_OUTPUT || dIn != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    return ppinOut->Connect(ppinIn, pmt);
}

HRESULT FilterGraph::Reconnect(IPin* ppin) {
    if (!ppin) return E_POINTER;
    ScopedLock l(lock_);
    InterfacePtr<IPin> peer = peerOf(ppin);
    if (!peer) return VFW_E_NOT_CONNECTED;
    PIN_DIRECTION d;
    if (!direction(ppin, &d)) return E_FAIL;
    IPin* out = d == PINDIR_OUTPUT ? ppin : peer.get();
    IPin* in = d == PINDIR_OUTPUT ? peer.get() : ppin;
    AM_MEDIA_TYPE mt{};
    bool haveType = SUCCEEDED(out->ConnectionMediaType(&mt));
    out->Disconnect();
    in->Disconnect();
    HRESULT hr = ConnectDirect(out, in, haveType ? &mt : nullptr);
    if (haveType) FreeMediaType(mt);
    return hr;
}

HRESULT FilterGraph::Disconnect(IPin* ppin) {
    if (!ppin) return E_POINTER;
    ScopedLock l(lock_);
    if (!contains(filterOf(ppin).get())) return VFW_E_NOT_IN_GRAPH;
    return ppin->Disconnect();
}

HRESULT FilterGraph::Connect(IPin* ppinOut, IPin* ppinIn) {
    if (!ppinOut || !ppinIn) return E_POINTER;
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!contains(filterOf(ppinOut).get()) || !contains(filterOf(ppinIn).get())) return VFW_E_NOT_IN_GRAPH;
    PIN_DIRECTION dOut, dIn;
    if (!direction(ppinOut, &dOut) || !direction(ppinIn, &dIn)) return E_FAIL;
    if (dOut != PINDIR_OUTPUT || dIn != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    if (isConnected(ppinOut) || isConnected(ppinIn)) return VFW_E_ALREADY_CONNECTED;
    return IntelligentConnect(*this).connect(ppinOut, ppinIn);
}

HRESULT FilterGraph::Render(IPin* ppinOut) {
    if (!ppinOut) return E_POINTER;
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    if (!contains(filterOf(ppinOut).get())) return VFW_E_NOT_IN_GRAPH;
    PIN_DIRECTION d;
    if (!direction(ppinOut, &d)) return E_FAIL;
    if (d != PINDIR_OUTPUT) return VFW_E_INVALID_DIRECTION;
    return IntelligentConnect(*this).render(ppinOut);
}

HRESULT FilterGraph::AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName, IBaseFilter** ppFilter) {
    if (!lpcwstrFileName || !ppFilter) return E_POINTER;
    ScopedLock l(lock_);
    return IntelligentConnect(*this).addSource(lpcwstrFileName, lpcwstrFilterName, ppFilter);
}

HRESULT FilterGraph::RenderFile(LPCWSTR lpcwstrFile, LPCWSTR) {
    if (!lpcwstrFile) return E_POINTER;
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    IntelligentConnect builder(*this);
    InterfacePtr<IBaseFilter> source;
    HRESULT hr = builder.addSource(lpcwstrFile, nullptr, source.put());
    if (FAILED(hr)) return hr;
    hr = pinsOf(source.get(), PINDIR_OUTPUT).empty() ? VFW_E_CANNOT_RENDER : builder.renderOutputs(source.get());
    if (FAILED(hr)) RemoveFilter(source.get());
    return hr;
}

HRESULT FilterGraph::RenderFile(BSTR strFilename) {
    return RenderFile(static_cast<LPCWSTR>(strFilename), nullptr);
}

HRESULT FilterGraph::SetLogFile(DWORD_PTR) {
    return S_OK;
}
HRESULT FilterGraph::Abort() {
    return S_OK;
}
HRESULT FilterGraph::ShouldOperationContinue() {
    return S_OK;
}

// ---- Clock ----

InterfacePtr<IReferenceClock> FilterGraph::chooseDefaultClockLocked() const {
    // A renderer's clock (the audio renderer's, driven by the samples played) wins over
    // the system clock, so video follows the sound.
    // An unconnected renderer is skipped: nothing would ever drive its clock.
    for (const Member& m : members_) {
        if (!isRenderer(m.filter.get())) continue;
        bool connected = false;
        for (InterfacePtr<IPin>& in : pinsOf(m.filter.get(), PINDIR_INPUT))
            connected = connected || isConnected(in.get());
        if (!connected) continue;
        if (InterfacePtr<IReferenceClock> c = m.filter.as<IReferenceClock>()) return c;
    }
    auto* clock = new (std::nothrow) SystemClock();
    return InterfacePtr<IReferenceClock>(clock);
}

void FilterGraph::distributeClockLocked() {
    for (Member& m : members_) m.filter->SetSyncSource(clock_.get());
}

HRESULT FilterGraph::SetDefaultSyncSource() {
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    clock_ = chooseDefaultClockLocked();
    clockChosenByUser_ = false;
    distributeClockLocked();
    return clock_ ? S_OK : E_OUTOFMEMORY;
}

HRESULT FilterGraph::SetSyncSource(IReferenceClock* pClock) {
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
    clock_ = pClock;
    clockChosenByUser_ = true;
    distributeClockLocked();
    return S_OK;
}

HRESULT FilterGraph::GetSyncSource(IReferenceClock** pClock) {
    if (!pClock) return E_POINTER;
    ScopedLock l(lock_);
    *pClock = clock_.get();
    if (*pClock) (*pClock)->AddRef();
    return S_OK;
}

HRESULT FilterGraph::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = CLSID_FilterGraph;
    return S_OK;
}

// ---- State changes ----

std::vector<InterfacePtr<IBaseFilter>> FilterGraph::downstreamFirstLocked() const {
    // Kahn's order on "feeds": a filter is taken once every filter it feeds is taken.
    std::map<IBaseFilter*, std::vector<IBaseFilter*>> feeds;
    std::map<IBaseFilter*, size_t> pending;
    for (const Member& m : members_) pending[m.filter.get()] = 0;
    for (const Member& m : members_) {
        for (InterfacePtr<IPin>& out : pinsOf(m.filter.get(), PINDIR_OUTPUT)) {
            InterfacePtr<IBaseFilter> down = filterOf(peerOf(out.get()).get());
            if (!down || !pending.count(down.get()) || down.get() == m.filter.get()) continue;
            feeds[m.filter.get()].push_back(down.get());
            ++pending[m.filter.get()];
        }
    }
    std::vector<InterfacePtr<IBaseFilter>> order;
    std::vector<bool> taken(members_.size(), false);
    while (order.size() < members_.size()) {
        bool progress = false;
        for (size_t i = 0; i < members_.size(); ++i) {
            IBaseFilter* f = members_[i].filter.get();
            if (taken[i] || pending[f] != 0) continue;
            taken[i] = true;
            progress = true;
            order.push_back(members_[i].filter);
            // Everything that feeds f has one fewer downstream filter left to wait for.
            for (auto& [up, downs] : feeds)
                for (IBaseFilter* d : downs)
                    if (d == f) --pending[up];
        }
        if (!progress) {
            // A loop (which building never makes): take the rest in insertion order.
            for (size_t i = 0; i < members_.size(); ++i)
                if (!taken[i]) order.push_back(members_[i].filter);
            break;
        }
    }
    return order;
}

size_t FilterGraph::connectedRendererCountLocked() const {
    size_t n = 0;
    for (const Member& m : members_) {
        if (!isRenderer(m.filter.get())) continue;
        for (InterfacePtr<IPin>& in : pinsOf(m.filter.get(), PINDIR_INPUT))
            if (isConnected(in.get())) {
                ++n;
                break;
            }
    }
    return n;
}

void FilterGraph::resetCompletion(size_t renderers) {
    {
        std::lock_guard<std::mutex> g(completionMutex_);
        completed_.clear();
        anonymousCompletions_ = 0;
        expectedCompletions_ = renderers;
        completeSent_ = false;
    }
    events_.resetCompletion();
}

HRESULT FilterGraph::pauseLocked() {
    if (state_ == State_Paused) return S_OK;
    if (state_ == State_Stopped) {
        if (!clockChosenByUser_) {
            clock_ = chooseDefaultClockLocked();
            distributeClockLocked();
        }
        resetCompletion(connectedRendererCountLocked());
    } else {
        pausedStreamTime_ = streamTimeLocked();
    }
    HRESULT result = S_OK;
    std::vector<InterfacePtr<IBaseFilter>> order = downstreamFirstLocked();
    for (InterfacePtr<IBaseFilter>& f : order) {
        HRESULT hr = f->Pause();
        if (FAILED(hr)) {
            for (InterfacePtr<IBaseFilter>& g : order) g->Stop();
            state_ = State_Stopped;
            pausedStreamTime_ = 0;
            return hr;
        }
        if (hr == S_FALSE) result = S_FALSE;
    }
    state_ = State_Paused;
    return result;
}

HRESULT FilterGraph::runLocked(bool explicitStart, REFERENCE_TIME tStart) {
    if (state_ == State_Running) return S_OK;
    HRESULT result = S_OK;
    if (state_ == State_Stopped) {
        result = pauseLocked();
        if (FAILED(result)) return result;
    }
    if (explicitStart) {
        startTime_ = tStart;
    } else if (clock_) {
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        // Resuming continues the stream time where the pause left it.
        startTime_ = now + kRunOffset - pausedStreamTime_;
    } else {
        startTime_ = 0;
    }
    std::vector<InterfacePtr<IBaseFilter>> order = downstreamFirstLocked();
    for (InterfacePtr<IBaseFilter>& f : order) {
        HRESULT hr = f->Run(startTime_);
        if (FAILED(hr)) {
            stopLocked();
            return hr;
        }
        if (hr == S_FALSE) result = S_FALSE;
    }
    state_ = State_Running;
    return result;
}

HRESULT FilterGraph::stopLocked() {
    if (state_ == State_Stopped) return S_OK;
    REFERENCE_TIME position = currentPositionLocked();
    HRESULT result = S_OK;
    for (InterfacePtr<IBaseFilter>& f : downstreamFirstLocked()) {
        HRESULT hr = f->Stop();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    state_ = State_Stopped;
    pausedStreamTime_ = 0;
    // The next run continues from where playback stopped: the sources are put there now,
    // so their time stamps restart at stream time 0 with that position.
    if (position != positionBase_) {
        LONGLONG at = position;
        if (SUCCEEDED(forwardPositionsLocked(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)))
            positionBase_ = at;
    }
    return result;
}

HRESULT FilterGraph::Run() {
    ScopedLock l(lock_);
    return runLocked(false, 0);
}

HRESULT FilterGraph::Run(REFERENCE_TIME tStart) {
    ScopedLock l(lock_);
    return runLocked(true, tStart);
}

HRESULT FilterGraph::Pause() {
    ScopedLock l(lock_);
    return pauseLocked();
}

HRESULT FilterGraph::Stop() {
    ScopedLock l(lock_);
    return stopLocked();
}

HRESULT FilterGraph::waitForStates(DWORD msTimeout, FILTER_STATE* state) {
    std::vector<InterfacePtr<IBaseFilter>> snapshot;
    {
        ScopedLock l(lock_);
        *state = state_;
        snapshot = downstreamFirstLocked();
    }
    // Filters are asked without the graph lock: a renderer completing its pause may need
    // its streaming thread, which may report events meanwhile.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(msTimeout);
    HRESULT result = S_OK;
    for (InterfacePtr<IBaseFilter>& f : snapshot) {
        DWORD left = msTimeout;
        if (msTimeout != INFINITE) {
            auto remaining =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            left = remaining.count() > 0 ? static_cast<DWORD>(remaining.count()) : 0;
        }
        FILTER_STATE fs;
        HRESULT hr = f->GetState(left, &fs);
        if (FAILED(hr)) return hr;
        if (hr == VFW_S_STATE_INTERMEDIATE)
            result = VFW_S_STATE_INTERMEDIATE;
        else if (hr == VFW_S_CANT_CUE && result == S_OK)
            result = VFW_S_CANT_CUE;
    }
    return result;
}

HRESULT FilterGraph::GetState(LONG msTimeout, OAFilterState* pfs) {
    if (!pfs) return E_POINTER;
    FILTER_STATE s = State_Stopped;
    HRESULT hr = waitForStates(msTimeout < 0 ? INFINITE : static_cast<DWORD>(msTimeout), &s);
    *pfs = s;
    return hr;
}

HRESULT FilterGraph::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    return waitForStates(dwMilliSecsTimeout, State);
}

HRESULT FilterGraph::StopWhenReady() {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
    OAFilterState s;
    GetState(static_cast<LONG>(5000), &s);
    return Stop();
}

// ---- Events ----

HRESULT FilterGraph::GetEventHandle(OAEVENT* hEvent) {
    if (!hEvent) return E_POINTER;
    *hEvent = reinterpret_cast<OAEVENT>(events_.handle());
    return S_OK;
}

HRESULT FilterGraph::GetEvent(LONG* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2, LONG msTimeout) {
    return events_.get(lEventCode, lParam1, lParam2, msTimeout);
}

HRESULT FilterGraph::WaitForCompletion(LONG msTimeout, LONG* pEvCode) {
    if (!pEvCode) return E_POINTER;
    *pEvCode = 0;
    {
        ScopedLock l(lock_);
        if (state_ != State_Running) return VFW_E_WRONG_STATE;
    }
    return events_.waitForCompletion(msTimeout, pEvCode);
}

HRESULT FilterGraph::CancelDefaultHandling(LONG lEvCode) {
    if (lEvCode != EC_COMPLETE) return S_FALSE;
    std::lock_guard<std::mutex> g(completionMutex_);
    defaultCompleteHandling_ = false;
    return S_OK;
}

HRESULT FilterGraph::RestoreDefaultHandling(LONG lEvCode) {
    if (lEvCode != EC_COMPLETE) return S_FALSE;
    std::lock_guard<std::mutex> g(completionMutex_);
    defaultCompleteHandling_ = true;
    return S_OK;
}

HRESULT FilterGraph::FreeEventParams(LONG lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) {
    // Only the automation event carries owned strings.
    if (lEvCode == EC_OLE_EVENT) {
        SysFreeString(reinterpret_cast<BSTR>(lParam1));
        SysFreeString(reinterpret_cast<BSTR>(lParam2));
    }
    return S_OK;
}

HRESULT FilterGraph::SetNotifyWindow(OAHWND hwnd, LONG lMsg, LONG_PTR lInstanceData) {
    events_.setNotifyWindow(hwnd, lMsg, lInstanceData);
    return S_OK;
}

HRESULT FilterGraph::SetNotifyFlags(LONG lNoNotifyFlags) {
    return events_.setNotifyFlags(lNoNotifyFlags);
}

HRESULT FilterGraph::GetNotifyFlags(LONG* lplNoNotifyFlags) {
    if (!lplNoNotifyFlags) return E_POINTER;
    *lplNoNotifyFlags = events_.notifyFlags();
    return S_OK;
}

HRESULT FilterGraph::Notify(LONG EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) {
    if (EventCode == EC_COMPLETE) {
        bool pass = false;
        {
            std::lock_guard<std::mutex> g(completionMutex_);
            if (!defaultCompleteHandling_) {
                pass = true;
            } else if (!completeSent_) {
                // Renderers name themselves in the second parameter; one reporting twice
                // counts once.
                if (EventParam2)
                    completed_.insert(EventParam2);
                else
                    ++anonymousCompletions_;
                if (completed_.size() + anonymousCompletions_ >= expectedCompletions_) {
                    completeSent_ = true;
                    events_.push(EC_COMPLETE, S_OK, 0);
                }
            }
        }
        if (pass) events_.push(EventCode, EventParam1, EventParam2);
        return S_OK;
    }
    // Handled by the graph itself and not passed on.
    if (EventCode == EC_REPAINT || EventCode == EC_CLOCK_CHANGED || EventCode == EC_NEED_RESTART) return S_OK;
    events_.push(EventCode, EventParam1, EventParam2);
    return S_OK;
}

// ---- Seeking ----

std::vector<InterfacePtr<IMediaSeeking>> FilterGraph::rendererSeekingLocked() const {
    std::vector<InterfacePtr<IMediaSeeking>> out;
    for (const Member& m : members_) {
        if (!isRenderer(m.filter.get())) continue;
        std::vector<InterfacePtr<IPin>> inputs = pinsOf(m.filter.get(), PINDIR_INPUT);
        InterfacePtr<IPin> upstream;
        for (InterfacePtr<IPin>& in : inputs)
            if ((upstream = peerOf(in.get()))) break;
        if (!upstream) continue;
        // The renderer passes seeking upstream; one that does not expose it is reached
        // through the pin that feeds it.
        InterfacePtr<IMediaSeeking> s = m.filter.as<IMediaSeeking>();
        if (!s) s = upstream.as<IMediaSeeking>();
        if (s) out.push_back(std::move(s));
    }
    return out;
}

REFERENCE_TIME FilterGraph::streamTimeLocked() const {
    if (state_ == State_Paused) return pausedStreamTime_;
    if (state_ != State_Running || !clock_) return 0;
    REFERENCE_TIME now = 0;
    clock_->GetTime(&now);
    return std::max<REFERENCE_TIME>(0, now - startTime_);
}

REFERENCE_TIME FilterGraph::currentPositionLocked() const {
    REFERENCE_TIME stream = streamTimeLocked();
    REFERENCE_TIME position = positionBase_ + static_cast<REFERENCE_TIME>(static_cast<double>(stream) * rate_);
    LONGLONG stop = 0;
    if (SUCCEEDED(stopPositionLocked(&stop)) && stop > 0) position = std::min<REFERENCE_TIME>(position, stop);
    return std::max<REFERENCE_TIME>(0, position);
}

HRESULT FilterGraph::stopPositionLocked(LONGLONG* stop) const {
    bool any = false;
    for (InterfacePtr<IMediaSeeking>& s : rendererSeekingLocked()) {
        LONGLONG v = 0;
        if (FAILED(s->GetStopPosition(&v)) && FAILED(s->GetDuration(&v))) continue;
        *stop = any ? std::max(*stop, v) : v;
        any = true;
    }
    return any ? S_OK : E_NOTIMPL;
}

HRESULT FilterGraph::forwardPositionsLocked(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    std::vector<InterfacePtr<IMediaSeeking>> targets = rendererSeekingLocked();
    if (targets.empty()) return E_NOTIMPL;
    HRESULT firstFailure = S_OK;
    bool anySucceeded = false;
    LONGLONG wantedCurrent = current ? *current : 0;
    LONGLONG wantedStop = stop ? *stop : 0;
    for (InterfacePtr<IMediaSeeking>& s : targets) {
        LONGLONG c = wantedCurrent, e = wantedStop;
        HRESULT hr = s->SetPositions(current ? &c : nullptr, currentFlags | (current ? AM_SEEKING_ReturnTime : 0),
                                     stop ? &e : nullptr, stopFlags | (stop ? AM_SEEKING_ReturnTime : 0));
        if (FAILED(hr)) {
            if (SUCCEEDED(firstFailure)) firstFailure = hr;
            continue;
        }
        if (!anySucceeded) {
            // The first stream's answer (clamped to its length) is the graph's position.
            if (current) *current = c;
            if (stop) *stop = e;
        }
        anySucceeded = true;
    }
    return anySucceeded ? S_OK : firstFailure;
}

HRESULT FilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) {
    DWORD currentKind = dwCurrentFlags & kSeekingMask;
    DWORD stopKind = dwStopFlags & kSeekingMask;
    if ((currentKind && !pCurrent) || (stopKind && !pStop)) return E_POINTER;
    if (currentKind == AM_SEEKING_IncrementalPositioning) return E_INVALIDARG;
    if (!currentKind && !stopKind) return S_OK;
    ScopedLock l(lock_);
    REFERENCE_TIME now = currentPositionLocked();
    // Relative requests are resolved here once: every renderer may lead to the same
    // source, which must not move by the offset twice.
    LONGLONG current = 0, stop = 0;
    if (currentKind == AM_SEEKING_AbsolutePositioning) current = *pCurrent;
    if (currentKind == AM_SEEKING_RelativePositioning) current = now + *pCurrent;
    if (stopKind == AM_SEEKING_AbsolutePositioning) stop = *pStop;
    if (stopKind == AM_SEEKING_RelativePositioning) {
        LONGLONG old = 0;
        if (FAILED(stopPositionLocked(&old))) return E_NOTIMPL;
        stop = old + *pStop;
    }
    if (stopKind == AM_SEEKING_IncrementalPositioning) stop = (currentKind ? current : now) + *pStop;
    DWORD passFlags = AM_SEEKING_SeekToKeyFrame | AM_SEEKING_NoFlush | AM_SEEKING_Segment;

    bool wasRunning = state_ == State_Running;
    if (wasRunning) {
        // Sources seek while the renderers hold still; the stream restarts at time 0.
        HRESULT hr = pauseLocked();
        if (FAILED(hr)) return hr;
    }
    HRESULT hr = forwardPositionsLocked(
        currentKind ? &current : nullptr,
        currentKind ? (AM_SEEKING_AbsolutePositioning | (dwCurrentFlags & passFlags)) : AM_SEEKING_NoPositioning,
        stopKind ? &stop : nullptr,
        stopKind ? (AM_SEEKING_AbsolutePositioning | (dwStopFlags & passFlags)) : AM_SEEKING_NoPositioning);
    if (SUCCEEDED(hr) && currentKind) {
        positionBase_ = current;
        pausedStreamTime_ = 0;
        resetCompletion(connectedRendererCountLocked());
        if (dwCurrentFlags & AM_SEEKING_ReturnTime) *pCurrent = current;
    }
    if (SUCCEEDED(hr) && stopKind && (dwStopFlags & AM_SEEKING_ReturnTime)) *pStop = stop;
    if (wasRunning) {
        HRESULT rr = runLocked(false, 0);
        if (FAILED(rr) && SUCCEEDED(hr)) hr = rr;
    }
    return hr;
}

HRESULT FilterGraph::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    ScopedLock l(lock_);
    std::vector<InterfacePtr<IMediaSeeking>> targets = rendererSeekingLocked();
    *pCapabilities = 0;
    if (targets.empty()) return E_NOTIMPL;
    DWORD caps = ~DWORD{0};
    for (InterfacePtr<IMediaSeeking>& s : targets) {
        DWORD c = 0;
        if (SUCCEEDED(s->GetCapabilities(&c))) caps &= c;
    }
    // The graph answers the current position itself, from the stream time.
    *pCapabilities = caps | AM_SEEKING_CanGetCurrentPos;
    return S_OK;
}

HRESULT FilterGraph::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    DWORD have = 0;
    HRESULT hr = GetCapabilities(&have);
    if (FAILED(hr)) return hr;
    DWORD wanted = *pCapabilities;
    *pCapabilities = wanted & have;
    if (*pCapabilities == wanted) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

HRESULT FilterGraph::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT FilterGraph::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT FilterGraph::GetTimeFormat(GUID* pFormat) {
    return QueryPreferredFormat(pFormat);
}

HRESULT FilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

HRESULT FilterGraph::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    ScopedLock l(lock_);
    if (state_ != State_Stopped) return VFW_E_WRONG_STATE;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

HRESULT FilterGraph::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    ScopedLock l(lock_);
    bool any = false;
    HRESULT failure = E_NOTIMPL;
    for (InterfacePtr<IMediaSeeking>& s : rendererSeekingLocked()) {
        LONGLONG d = 0;
        HRESULT hr = s->GetDuration(&d);
        if (FAILED(hr)) {
            failure = hr;
            continue;
        }
        *pDuration = any ? std::max(*pDuration, d) : d;
        any = true;
    }
    return any ? S_OK : failure;
}

HRESULT FilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    ScopedLock l(lock_);
    return stopPositionLocked(pStop);
}

HRESULT FilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    ScopedLock l(lock_);
    *pCurrent = currentPositionLocked();
    return S_OK;
}

HRESULT FilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                       const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    auto isMediaTime = [](const GUID* f) { return !f || *f == TIME_FORMAT_MEDIA_TIME; };
    if (isMediaTime(pTargetFormat) && isMediaTime(pSourceFormat)) {
        *pTarget = Source;
        return S_OK;
    }
    ScopedLock l(lock_);
    for (InterfacePtr<IMediaSeeking>& s : rendererSeekingLocked())
        if (SUCCEEDED(s->ConvertTimeFormat(pTarget, pTargetFormat, Source, pSourceFormat))) return S_OK;
    return E_NOTIMPL;
}

HRESULT FilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    ScopedLock l(lock_);
    if (pCurrent) *pCurrent = currentPositionLocked();
    if (pStop) {
        HRESULT hr = stopPositionLocked(pStop);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT FilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    ScopedLock l(lock_);
    for (InterfacePtr<IMediaSeeking>& s : rendererSeekingLocked())
        if (SUCCEEDED(s->GetAvailable(pEarliest, pLatest))) return S_OK;
    LONGLONG duration = 0;
    HRESULT hr = GetDuration(&duration);
    if (FAILED(hr)) return hr;
    if (pEarliest) *pEarliest = 0;
    if (pLatest) *pLatest = duration;
    return S_OK;
}

HRESULT FilterGraph::SetRate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    ScopedLock l(lock_);
    std::vector<InterfacePtr<IMediaSeeking>> targets = rendererSeekingLocked();
    if (targets.empty()) return E_NOTIMPL;
    for (InterfacePtr<IMediaSeeking>& s : targets) {
        HRESULT hr = s->SetRate(dRate);
        if (FAILED(hr)) return hr;
    }
    // The position runs on from where it is, at the new pace.
    REFERENCE_TIME now = currentPositionLocked();
    rate_ = dRate;
    positionBase_ = now - static_cast<REFERENCE_TIME>(static_cast<double>(streamTimeLocked()) * rate_);
    return S_OK;
}

HRESULT FilterGraph::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    ScopedLock l(lock_);
    *pdRate = rate_;
    return S_OK;
}

HRESULT FilterGraph::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    ScopedLock l(lock_);
    *pllPreroll = 0;
    for (InterfacePtr<IMediaSeeking>& s : rendererSeekingLocked()) {
        LONGLONG p = 0;
        if (SUCCEEDED(s->GetPreroll(&p))) *pllPreroll = std::max(*pllPreroll, p);
    }
    return S_OK;
}

#include "platform/dshow/GraphRendererControls.h"

template <class I>
std::vector<InterfacePtr<I>> GraphRendererControls::exposing() const {
    std::vector<InterfacePtr<I>> out;
    for (InterfacePtr<IBaseFilter>& f : filters_()) {
        InterfacePtr<I> i = f.as<I>();
        if (i) out.push_back(std::move(i));
    }
    return out;
}

template <class I, class F>
HRESULT GraphRendererControls::toAll(F call) const {
    std::vector<InterfacePtr<I>> targets = exposing<I>();
    if (targets.empty()) return E_NOTIMPL;
    HRESULT result = S_OK;
    for (InterfacePtr<I>& t : targets) {
        HRESULT hr = call(t.get());
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

template <class I, class F>
HRESULT GraphRendererControls::toFirst(F call) const {
    std::vector<InterfacePtr<I>> targets = exposing<I>();
    if (targets.empty()) return E_NOINTERFACE;
    return call(targets.front().get());
}

HRESULT GraphRendererControls::put_Volume(LONG v) {
    // Out-of-range levels are refused here so no renderer takes a partial change.
    if (v < -10000 || v > 0) return E_INVALIDARG;
    return toAll<IBasicAudio>([&](IBasicAudio* a) { return a->put_Volume(v); });
}
HRESULT GraphRendererControls::get_Volume(LONG* v) {
    if (!v) return E_POINTER;
    HRESULT hr = toFirst<IBasicAudio>([&](IBasicAudio* a) { return a->get_Volume(v); });
    return hr == E_NOINTERFACE ? E_NOTIMPL : hr;
}
HRESULT GraphRendererControls::put_Balance(LONG b) {
    if (b < -10000 || b > 10000) return E_INVALIDARG;
    return toAll<IBasicAudio>([&](IBasicAudio* a) { return a->put_Balance(b); });
}
HRESULT GraphRendererControls::get_Balance(LONG* b) {
    if (!b) return E_POINTER;
    HRESULT hr = toFirst<IBasicAudio>([&](IBasicAudio* a) { return a->get_Balance(b); });
    return hr == E_NOINTERFACE ? E_NOTIMPL : hr;
}

HRESULT GraphRendererControls::get_AvgTimePerFrame(REFTIME* p) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->get_AvgTimePerFrame(p); });
}
HRESULT GraphRendererControls::get_VideoWidth(LONG* p) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->get_VideoWidth(p); });
}
HRESULT GraphRendererControls::get_VideoHeight(LONG* p) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->get_VideoHeight(p); });
}
HRESULT GraphRendererControls::SetSourcePosition(LONG l, LONG t, LONG w, LONG h) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->SetSourcePosition(l, t, w, h); });
}
HRESULT GraphRendererControls::GetSourcePosition(LONG* l, LONG* t, LONG* w, LONG* h) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->GetSourcePosition(l, t, w, h); });
}
HRESULT GraphRendererControls::SetDefaultSourcePosition() {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->SetDefaultSourcePosition(); });
}
HRESULT GraphRendererControls::SetDestinationPosition(LONG l, LONG t, LONG w, LONG h) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->SetDestinationPosition(l, t, w, h); });
}
HRESULT GraphRendererControls::GetDestinationPosition(LONG* l, LONG* t, LONG* w, LONG* h) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->GetDestinationPosition(l, t, w, h); });
}
HRESULT GraphRendererControls::SetDefaultDestinationPosition() {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->SetDefaultDestinationPosition(); });
}
HRESULT GraphRendererControls::GetVideoSize(LONG* w, LONG* h) {
    return toFirst<IBasicVideo>([&](IBasicVideo* v) { return v->GetVideoSize(w, h); });
}

HRESULT GraphRendererControls::put_WindowStyle(LONG s) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_WindowStyle(s); });
}
HRESULT GraphRendererControls::get_WindowStyle(LONG* s) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_WindowStyle(s); });
}
HRESULT GraphRendererControls::put_AutoShow(LONG a) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_AutoShow(a); });
}
HRESULT GraphRendererControls::get_AutoShow(LONG* a) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_AutoShow(a); });
}
HRESULT GraphRendererControls::put_Visible(LONG v) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_Visible(v); });
}
HRESULT GraphRendererControls::get_Visible(LONG* v) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_Visible(v); });
}
HRESULT GraphRendererControls::put_Owner(OAHWND o) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_Owner(o); });
}
HRESULT GraphRendererControls::get_Owner(OAHWND* o) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_Owner(o); });
}
HRESULT GraphRendererControls::put_MessageDrain(OAHWND d) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_MessageDrain(d); });
}
HRESULT GraphRendererControls::get_MessageDrain(OAHWND* d) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_MessageDrain(d); });
}
HRESULT GraphRendererControls::SetWindowPosition(LONG l, LONG t, LONG wd, LONG h) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->SetWindowPosition(l, t, wd, h); });
}
HRESULT GraphRendererControls::GetWindowPosition(LONG* l, LONG* t, LONG* wd, LONG* h) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->GetWindowPosition(l, t, wd, h); });
}
HRESULT GraphRendererControls::get_FullScreenMode(LONG* m) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->get_FullScreenMode(m); });
}
HRESULT GraphRendererControls::put_FullScreenMode(LONG m) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->put_FullScreenMode(m); });
}
HRESULT GraphRendererControls::SetWindowForeground(LONG f) {
    return toFirst<IVideoWindow>([&](IVideoWindow* w) { return w->SetWindowForeground(f); });
}

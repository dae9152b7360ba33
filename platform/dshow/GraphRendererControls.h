#pragma once
// The audio and video interfaces the graph answers for its renderers: each call goes to
// the filters in the graph that expose the interface (volume and balance to every audio
// renderer, picture and window calls to the first video renderer). It lives inside the
// graph and shares the graph's reference count and identity.
#include <functional>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/GraphInterfaces.h"

class GraphRendererControls : public IBasicAudio, public IBasicVideo, public IVideoWindow {
public:
    using FilterList = std::function<std::vector<InterfacePtr<IBaseFilter>>()>;
    GraphRendererControls(IUnknown* owner, FilterList filters) : owner_(owner), filters_(std::move(filters)) {}
    ~GraphRendererControls() override = default;

    // IUnknown, delegated to the graph. The three interfaces share one IUnknown
    // implementation through these overrides.
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner_->QueryInterface(riid, ppv); }
    ULONG AddRef() override { return owner_->AddRef(); }
    ULONG Release() override { return owner_->Release(); }

    // IBasicAudio
    HRESULT put_Volume(LONG lVolume) override;
    HRESULT get_Volume(LONG* plVolume) override;
    HRESULT put_Balance(LONG lBalance) override;
    HRESULT get_Balance(LONG* plBalance) override;

    // IBasicVideo
    HRESULT get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) override;
    HRESULT get_VideoWidth(LONG* pVideoWidth) override;
    HRESULT get_VideoHeight(LONG* pVideoHeight) override;
    HRESULT SetSourcePosition(LONG Left, LONG Top, LONG Width, LONG Height) override;
    HRESULT GetSourcePosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT SetDefaultSourcePosition() override;
    HRESULT SetDestinationPosition(LONG Left, LONG Top, LONG Width, LONG Height) override;
    HRESULT GetDestinationPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT SetDefaultDestinationPosition() override;
    HRESULT GetVideoSize(LONG* pWidth, LONG* pHeight) override;

    // IVideoWindow
    HRESULT put_WindowStyle(LONG WindowStyle) override;
    HRESULT get_WindowStyle(LONG* WindowStyle) override;
    HRESULT put_AutoShow(LONG AutoShow) override;
    HRESULT get_AutoShow(LONG* AutoShow) override;
    HRESULT put_Visible(LONG Visible) override;
    HRESULT get_Visible(LONG* pVisible) override;
    HRESULT put_Owner(OAHWND Owner) override;
    HRESULT get_Owner(OAHWND* Owner) override;
    HRESULT put_MessageDrain(OAHWND Drain) override;
    HRESULT get_MessageDrain(OAHWND* Drain) override;
    HRESULT SetWindowPosition(LONG Left, LONG Top, LONG Width, LONG Height) override;
    HRESULT GetWindowPosition(LONG* pLeft, LONG* pTop, LONG* pWidth, LONG* pHeight) override;
    HRESULT get_FullScreenMode(LONG* FullScreenMode) override;
    HRESULT put_FullScreenMode(LONG FullScreenMode) override;
    HRESULT SetWindowForeground(LONG Focus) override;

private:
    template <class I>
    std::vector<InterfacePtr<I>> exposing() const;
    // Calls every filter that exposes I; E_NOTIMPL when none does, else the first failure.
    template <class I, class F>
    HRESULT toAll(F call) const;
    // Calls the first filter that exposes I; E_NOINTERFACE when none does.
    template <class I, class F>
    HRESULT toFirst(F call) const;

    IUnknown* owner_;
    FilterList filters_;
};

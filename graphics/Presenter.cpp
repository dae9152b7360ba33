#include "graphics/Presenter.h"

#include "graphics/DrawBase.h"
#include "graphics/LayerDrawer.h"

Presenter::Presenter(DrawBase& owner, IDirect3DDevice9* device) : owner_(owner), device_(device) {}

HRESULT Presenter::setMode(int mode) {
    ScopedLock hold(owner_.sceneLock());
    if (mode == mode_) return S_OK;
    if (mode < 0 || mode > kMaxMode) return E_INVALIDARG;
    if (owner_.isInScene()) return E_FAIL;
    if (mode > kModeLinear) return E_NOTIMPL;
    if (mode != kModeDirect) {
        D3DCAPS9 caps{};
        if (HRESULT hr = device_->GetDeviceCaps(&caps); FAILED(hr)) return hr;
        DWORD need = mode == kModeLinear ? (D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFLINEAR)
                                         : (D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MAGFPOINT);
        if ((caps.StretchRectFilterCaps & need) != need) return E_NOTIMPL;
    }
    bool filterOnly = (mode_ == kModePoint || mode_ == kModeLinear) && (mode == kModePoint || mode == kModeLinear);
    mode_ = mode;
    if (filterOnly) return S_OK;
    releaseDeviceObjects();
    return prepare();
}

HRESULT Presenter::prepare() {
    HRESULT hr = device_->GetRenderTarget(0, backBuffer_.put());
    if (FAILED(hr)) return hr;
    D3DSURFACE_DESC desc{};
    if (FAILED(hr = backBuffer_->GetDesc(&desc))) return hr;
    const ScreenSettings& s = owner_.screenSettings();
    IDirect3DSurface9* target = backBuffer_.get();
    if (UINT(s.logicalWidth) != desc.Width || UINT(s.logicalHeight) != desc.Height) {
        const D3DPRESENT_PARAMETERS& p = owner_.presentationParameters();
        hr = device_->CreateRenderTarget(UINT(s.logicalWidth), UINT(s.logicalHeight), desc.Format, p.MultiSampleType,
                                         p.MultiSampleQuality, FALSE, offscreen_.put(), nullptr);
        if (FAILED(hr)) return hr;
        sourceRect_ = RECT{0, 0, s.logicalWidth, s.logicalHeight};
        destRect_ = s.fullscreen ? s.fullscreenViewport : s.windowViewport;
        if (destRect_.right <= destRect_.left || destRect_.bottom <= destRect_.top)
            destRect_ = RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
        target = offscreen_.get();
    }
    return owner_.layerDrawer().setTarget(target);
}

HRESULT Presenter::copyToBackBuffer() {
    if (!offscreen_ || !backBuffer_) return S_OK;
    HRESULT hr = device_->ColorFill(backBuffer_.get(), nullptr, 0xFF000000u);
    if (FAILED(hr)) return hr;
    D3DTEXTUREFILTERTYPE filter = mode_ == kModeLinear ? D3DTEXF_LINEAR : D3DTEXF_POINT;
    return device_->StretchRect(offscreen_.get(), &sourceRect_, backBuffer_.get(), &destRect_, filter);
}

void Presenter::releaseDeviceObjects() {
    offscreen_.reset();
    backBuffer_.reset();
}

HRESULT Presenter::rebuildDeviceObjects() {
    if (mode_ < 0) return S_OK;
    return prepare();
}

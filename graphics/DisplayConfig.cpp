#include "graphics/DisplayConfig.h"

#include "graphics/PixelFormat.h"

D3DPRESENT_PARAMETERS presentationParametersFor(const ScreenSettings& s) {
    bool fullscreen = s.fullscreen != 0;
    D3DPRESENT_PARAMETERS p{};
    p.BackBufferWidth = UINT(fullscreen ? s.fullscreenWidth : s.windowWidth);
    p.BackBufferHeight = UINT(fullscreen ? s.fullscreenHeight : s.windowHeight);
    // Pixel format 0 gives D3DFMT_UNKNOWN: the desktop's format in a window.
    p.BackBufferFormat = d3dFormatOfPixelFormat(s.pixelFormat);
    p.BackBufferCount = 1;
    p.MultiSampleType = D3DMULTISAMPLE_NONE;
    p.MultiSampleQuality = 0;
    p.SwapEffect = D3DSWAPEFFECT_DISCARD;
    p.hDeviceWindow = nullptr;
    p.Windowed = fullscreen ? FALSE : TRUE;
    p.EnableAutoDepthStencil = TRUE;
    p.AutoDepthStencilFormat = D3DFMT_D16;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    p.FullScreen_RefreshRateInHz = fullscreen ? UINT(s.refreshRate) : 0;
    p.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    return p;
}

DisplayConfig::DisplayConfig(Direct3DLoader* loader, const ScreenSettings* settings) {
    if (loader) {
        loader_ = loader;
    } else {
        loader_ = new Direct3DLoader();
        // A missing runtime shows later, when the compositor is made.
        loader_->load();
    }
    if (settings) setScreen(*settings);
}

void DisplayConfig::setOptions(uint32_t value) {
    options_ = (value & ~kAdapterMask) | (options_ & kAdapterMask);
    if (!loader_ || !loader_->direct3DEx()) options_ &= ~kUseDirect3D9Ex;
}

void DisplayConfig::setWindowedSize(int32_t width, int32_t height) {
    setScreen(ScreenSettings::windowed(width, height));
}

IDirect3D9* DisplayConfig::direct3D() const {
    if (!loader_) return nullptr;
    return usesEx() ? loader_->direct3DEx() : loader_->direct3D();
}

bool DisplayConfig::setScreen(const ScreenSettings& settings) {
    settings_ = settings;
    if (!direct3D()) return true;
    params_ = presentationParametersFor(settings_);
    return true;
}

bool DisplayConfig::checkDepthFormat(D3DFORMAT format) const {
    IDirect3D9* d3d = direct3D();
    if (!d3d) return false;
    D3DFORMAT backBuffer = params_.BackBufferFormat;
    if (backBuffer == D3DFMT_UNKNOWN) {
        D3DDISPLAYMODE mode{};
        if (SUCCEEDED(d3d->GetAdapterDisplayMode(adapter(), &mode))) backBuffer = mode.Format;
    }
    return SUCCEEDED(
        d3d->CheckDeviceFormat(adapter(), D3DDEVTYPE_HAL, backBuffer, D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, format));
}

#include "graphics/DrawBase.h"

#include <chrono>
#include <thread>

#include "framework/Exceptions.h"
#include "framework/TimeSource.h"
#include "framework/WindowApi.h"
#include "graphics/DisplayConfig.h"
#include "graphics/Image.h"
#include "graphics/LayerDrawer.h"
#include "graphics/LayerTexture.h"
#include "graphics/Presenter.h"
#include "graphics/RenderStateBaseline.h"
#include "graphics/TextureFactory.h"

namespace {

D3DDISPLAYMODEEX displayModeOf(const D3DPRESENT_PARAMETERS& p) {
    return D3DDISPLAYMODEEX{sizeof(D3DDISPLAYMODEEX),     p.BackBufferWidth,  p.BackBufferHeight,
                            p.FullScreen_RefreshRateInHz, p.BackBufferFormat, D3DSCANLINEORDERING_PROGRESSIVE};
}

void sleepMs(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

DrawBase::DrawBase(HWND window, DisplayConfig& config) : window_(window), settings_(config.screenSettings()) {
    Direct3DLoader* loader = config.loader();
    IDirect3D9* d3d = config.direct3D();
    if (!loader || !d3d) throw directx_exception(kCategoryNoInterface, E_NOINTERFACE);
    loader_ = loader;
    d3d_ = d3d;
    if (config.usesEx()) d3dEx_ = loader->direct3DEx();
    adapter_ = config.adapter();
    HRESULT hr = createDevice(config);
    if (FAILED(hr)) {
        releaseEverything();
        throw directx_exception(kCategoryCreation, hr);
    }
}

DrawBase::~DrawBase() {
    releaseEverything();
}

void DrawBase::releaseEverything() {
    presenter_.reset();
    factory_.reset();
    drawer_.reset();
    device_.reset();
    deviceEx_.reset();
    d3dEx_.reset();
    d3d_.reset();
    loader_.reset();
}

HRESULT DrawBase::createDevice(DisplayConfig& config) {
    settings_ = config.screenSettings();
    params_ = config.presentationParameters();
    if (params_.BackBufferWidth == 0 || params_.BackBufferHeight == 0) return E_FAIL;
    params_.hDeviceWindow = window_;

    D3DCAPS9 caps{};
    HRESULT hr = d3d_->GetDeviceCaps(adapter_, D3DDEVTYPE_HAL, &caps);
    if (FAILED(hr)) return hr;
    bool softwareOnly = D3DSHADER_VERSION_MAJOR(caps.VertexShaderVersion) == 0;
    if (softwareOnly && params_.EnableAutoDepthStencil && params_.AutoDepthStencilFormat != D3DFMT_UNKNOWN &&
        !config.checkDepthFormat(params_.AutoDepthStencilFormat))
        params_.AutoDepthStencilFormat = D3DFMT_D16;

    hr = E_FAIL;
    for (DWORD flags : kBehaviourTries) {
        if (softwareOnly && !(flags & D3DCREATE_SOFTWARE_VERTEXPROCESSING)) continue;
        D3DPRESENT_PARAMETERS p = params_;
        if (d3dEx_) {
            D3DDISPLAYMODEEX mode = displayModeOf(p);
            InterfacePtr<IDirect3DDevice9Ex> ex;
            hr = d3dEx_->CreateDeviceEx(adapter_, D3DDEVTYPE_HAL, window_, flags, &p, p.Windowed ? nullptr : &mode,
                                        ex.put());
            if (SUCCEEDED(hr)) {
                deviceEx_ = ex;
                device_ = InterfacePtr<IDirect3DDevice9>(ex.get());
            }
        } else {
            hr = d3d_->CreateDevice(adapter_, D3DDEVTYPE_HAL, window_, flags, &p, device_.put());
        }
        if (SUCCEEDED(hr) && device_) {
            params_ = p;
            break;
        }
    }
    if (FAILED(hr)) return hr;
    if (!device_) return E_FAIL;

    presenter_ = std::make_unique<Presenter>(*this, device_.get());
    factory_ = std::make_unique<TextureFactory>(this, d3d_.get(), adapter_, device_.get(), params_.BackBufferFormat);
    if (FAILED(hr = factory_->initialise())) return hr;
    drawer_ = std::make_unique<LayerDrawer>(this, device_.get(), uint32_t(settings_.logicalWidth),
                                            uint32_t(settings_.logicalHeight));
    hr = presenter_->setMode(Presenter::kModeLinear);
    if (hr == E_NOTIMPL) hr = presenter_->setMode(Presenter::kModePoint);
    if (FAILED(hr)) return hr;
    return installRenderStateBaseline(device_.get(), params_);
}

HRESULT DrawBase::resetDevice() {
    ScopedLock hold(sceneLock_);
    HRESULT hr;
    std::unique_ptr<ScopedLock> factoryHold;
    if (!deviceEx_) {
        factoryHold = std::make_unique<ScopedLock>(factory_->listLock());
        hr = device_->TestCooperativeLevel();
        if (hr == D3DERR_DRIVERINTERNALERROR)
            throw directx_exception(kCategoryDevice, hr, u"D3DERR_DRIVERINTERNALERROR");
        // Lost and not resettable yet: try again later.
        if (hr != S_OK && hr != D3DERR_DEVICENOTRESET) return hr;
        factory_->releaseDeviceObjects();
    }
    drawer_->releaseDeviceObjects();
    presenter_->releaseDeviceObjects();
    D3DPRESENT_PARAMETERS p = params_;
    if (deviceEx_) {
        D3DDISPLAYMODEEX mode = displayModeOf(p);
        hr = deviceEx_->ResetEx(&p, p.Windowed ? nullptr : &mode);
    } else {
        hr = device_->Reset(&p);
    }
    if (FAILED(hr)) return hr;
    params_ = p;
    HRESULT rebuilt = presenter_->rebuildDeviceObjects();
    HRESULT baseline = installRenderStateBaseline(device_.get(), params_);
    HRESULT drawer = drawer_->rebuildDeviceObjects();
    // With 9Ex the factory's resources survive the reset.
    if (!deviceEx_) factory_->rebuildDeviceObjects();
    if (FAILED(rebuilt)) return rebuilt;
    if (FAILED(baseline)) return baseline;
    return drawer;
}

bool DrawBase::resize() {
    ScopedLock hold(sceneLock_);
    if (!params_.Windowed) return false;
    RECT client{};
    if (!GetClientRect(window_, &client)) return false;
    LONG w = client.right - client.left, h = client.bottom - client.top;
    if (UINT(w) == params_.BackBufferWidth && UINT(h) == params_.BackBufferHeight && w > 0 && h > 0) return true;
    // A minimised window has no client area; the device keeps its size until it returns.
    if (w <= 0 || h <= 0) return false;
    settings_.logicalWidth = settings_.windowWidth = w;
    settings_.logicalHeight = settings_.windowHeight = h;
    settings_.windowViewport = RECT{0, 0, w, h};
    settings_.flags |= ScreenSettings::kSettled;
    params_.BackBufferWidth = UINT(w);
    params_.BackBufferHeight = UINT(h);
    drawer_->setLogicalSize(uint32_t(w), uint32_t(h));
    return SUCCEEDED(resetDevice());
}

bool DrawBase::isDeviceUsable() {
    if (deviceEx_) return deviceEx_->CheckDeviceState(window_) == S_OK;
    return device_->TestCooperativeLevel() == S_OK;
}

bool DrawBase::waitForDevice(uint32_t timeoutMs) {
    if (deviceEx_) {
        HRESULT hr = deviceEx_->CheckDeviceState(window_);
        return hr == S_OK || hr == D3DERR_DEVICELOST || hr == D3DERR_DEVICEREMOVED || hr == D3DERR_DEVICEHUNG;
    }
    uint32_t start = currentTimeMs();
    for (;;) {
        HRESULT hr = device_->TestCooperativeLevel();
        if (hr == S_OK || hr == D3DERR_DEVICENOTRESET) return true;
        if (hr != D3DERR_DEVICELOST) return false;
        if (timeoutMs == INFINITE) {
            sleepMs(33);
        } else {
            if (currentTimeMs() - start >= timeoutMs) return false;
            sleepMs(1);
        }
    }
}

bool DrawBase::restoreDevice() {
    if (deviceEx_) {
        HRESULT hr = deviceEx_->CheckDeviceState(window_);
        if (hr == D3DERR_DEVICELOST || hr == D3DERR_DEVICEHUNG || hr == D3DERR_DEVICEREMOVED)
            return SUCCEEDED(resetDevice());
        return SUCCEEDED(hr);
    }
    HRESULT hr = device_->TestCooperativeLevel();
    if (hr == D3DERR_DEVICENOTRESET) return SUCCEEDED(resetDevice());
    return SUCCEEDED(hr);
}

bool DrawBase::isInScene() const {
    return drawer_ && drawer_->isInScene();
}

bool DrawBase::beginScene() {
    ScopedLock hold(sceneLock_);
    return SUCCEEDED(drawer_->beginScene());
}

void DrawBase::endScene() {
    ScopedLock hold(sceneLock_);
    drawer_->endScene();
}

bool DrawBase::present() {
    ScopedLock hold(sceneLock_);
    if (drawer_->isInScene()) drawer_->endScene();
    presenter_->copyToBackBuffer();
    HRESULT hr = deviceEx_ ? deviceEx_->PresentEx(nullptr, nullptr, nullptr, nullptr, 0)
                           : device_->Present(nullptr, nullptr, nullptr, nullptr);
    if (hr == D3DERR_DEVICELOST) return SUCCEEDED(resetDevice());
    return SUCCEEDED(hr);
}

InterfacePtr<Image> DrawBase::createImage(uint32_t width, uint32_t height, bool alpha) {
    return factory_->createImage(width, height, alpha);
}

InterfacePtr<Image> DrawBase::createImageFromFile(std::u16string_view path) {
    return factory_->createImageFromFile(path);
}

InterfacePtr<LayerTexture> DrawBase::createTextureFromImage(Image& image, int32_t levels, bool stretch) {
    return factory_->createTextureFromImage(image, levels, stretch);
}

InterfacePtr<LayerTexture> DrawBase::createLayerTexture(uint32_t width, uint32_t height, D3DFORMAT format,
                                                        int32_t levels, bool renderTarget) {
    return factory_->createLayerTexture(width, height, format, levels, renderTarget);
}

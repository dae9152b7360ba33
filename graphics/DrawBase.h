#pragma once
// The compositor: the Direct3D device of the video area with its presenter, texture
// factory and layer drawer. It creates the device with the first vertex-processing mode
// the hardware takes, presents frames, and survives device loss and resizing by resetting
// the device and rebuilding every default-pool resource. Construction raises
// directx_exception when no working device can be made.
#include <cstdint>
#include <memory>
#include <string_view>

#include "framework/CriticalSection.h"
#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "graphics/Direct3DLoader.h"
#include "graphics/ImageCodec.h"
#include "graphics/ScreenSettings.h"

class DisplayConfig;
class Image;
class LayerDrawer;
class LayerTexture;
class Presenter;
class TextureFactory;

class DrawBase {
public:
    // Behaviour flags tried in order; a device without vertex shaders gets only the
    // software vertex-processing ones.
    static constexpr DWORD kBehaviourTries[4] = {
        D3DCREATE_MIXED_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
        D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED,
        D3DCREATE_MIXED_VERTEXPROCESSING,
        D3DCREATE_SOFTWARE_VERTEXPROCESSING,
    };
    static constexpr int kCategoryNoInterface = 2;
    static constexpr int kCategoryCreation = 5;
    static constexpr int kCategoryDevice = 13;

    DrawBase(HWND window, DisplayConfig& config);
    ~DrawBase();
    DrawBase(const DrawBase&) = delete;
    DrawBase& operator=(const DrawBase&) = delete;

    // The window's client size becomes the back-buffer size (windowed only).
    bool resize();
    bool isDeviceUsable();
    // timeoutMs 0xFFFFFFFF waits without limit.
    bool waitForDevice(uint32_t timeoutMs);
    bool restoreDevice();

    // Scenes: the caller holds sceneLock() from beginScene until after present.
    bool isInScene() const;
    bool beginScene();
    void endScene();
    bool present();
    CriticalSection& sceneLock() { return sceneLock_; }

    // Creation, forwarded to the texture factory.
    InterfacePtr<Image> createImage(uint32_t width, uint32_t height, bool alpha);
    InterfacePtr<Image> createImageFromFile(std::u16string_view path);
    InterfacePtr<LayerTexture> createTextureFromImage(Image& image, int32_t levels, bool stretch);
    InterfacePtr<LayerTexture> createLayerTexture(uint32_t width, uint32_t height, D3DFORMAT format, int32_t levels,
                                                  bool renderTarget);

    HWND window() const { return window_; }
    UINT adapter() const { return adapter_; }
    bool usesEx() const { return deviceEx_ != nullptr; }
    IDirect3DDevice9* device() const { return device_.get(); }
    IDirect3DDevice9Ex* deviceEx() const { return deviceEx_.get(); }
    const ScreenSettings& screenSettings() const { return settings_; }
    const D3DPRESENT_PARAMETERS& presentationParameters() const { return params_; }
    ImageCodec& imageCodec() { return codec_; }
    Presenter& presenter() { return *presenter_; }
    TextureFactory& textureFactory() { return *factory_; }
    LayerDrawer& layerDrawer() { return *drawer_; }

private:
    HRESULT createDevice(DisplayConfig& config);
    HRESULT resetDevice();
    void releaseEverything();

    HWND window_;
    ScreenSettings settings_;
    ImageCodec codec_;
    UINT adapter_ = 0;
    D3DPRESENT_PARAMETERS params_{};
    CriticalSection sceneLock_;
    InterfacePtr<Direct3DLoader> loader_;
    InterfacePtr<IDirect3D9> d3d_;
    InterfacePtr<IDirect3D9Ex> d3dEx_;
    InterfacePtr<IDirect3DDevice9> device_;
    InterfacePtr<IDirect3DDevice9Ex> deviceEx_;
    std::unique_ptr<Presenter> presenter_;
    std::unique_ptr<TextureFactory> factory_;
    std::unique_ptr<LayerDrawer> drawer_;
};

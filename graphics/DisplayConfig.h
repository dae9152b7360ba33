#pragma once
// The wanted screen: the loaded runtime, the adapter, the screen settings and the
// presentation parameters derived from them. Made first; a DrawBase is made from it.
#include <cstdint>

#include "framework/InterfacePtr.h"
#include "framework/d3d9/D3D9.h"
#include "graphics/Direct3DLoader.h"
#include "graphics/ScreenSettings.h"

class DisplayConfig {
public:
    static constexpr uint32_t kAdapterMask = 0x3F;
    static constexpr uint32_t kDefaultAdapter = 0x40;
    static constexpr uint32_t kUseDirect3D9Ex = 0x80;

    // Without a loader one is made and the runtime loaded (a failure leaves the loader
    // without interfaces). With settings it behaves as setScreen.
    explicit DisplayConfig(Direct3DLoader* loader = nullptr, const ScreenSettings* settings = nullptr);
    DisplayConfig(const DisplayConfig&) = delete;
    DisplayConfig& operator=(const DisplayConfig&) = delete;

    // The adapter bits stay; 9Ex is dropped when the runtime has none.
    void setOptions(uint32_t value);
    void setWindowedSize(int32_t width, int32_t height);
    bool setScreen(const ScreenSettings& settings);
    bool hasDirect3D() const { return loader_ != nullptr; }
    bool checkDepthFormat(D3DFORMAT format) const;

    uint32_t options() const { return options_; }
    UINT adapter() const { return (options_ & kDefaultAdapter) ? 0 : (options_ & kAdapterMask); }
    bool usesEx() const { return (options_ & kUseDirect3D9Ex) != 0; }
    // The interface in use: 9Ex when chosen, else the plain one (null when missing).
    IDirect3D9* direct3D() const;
    Direct3DLoader* loader() const { return loader_.get(); }
    const ScreenSettings& screenSettings() const { return settings_; }
    const D3DPRESENT_PARAMETERS& presentationParameters() const { return params_; }

private:
    InterfacePtr<Direct3DLoader> loader_;
    D3DPRESENT_PARAMETERS params_{};
    ScreenSettings settings_;
    uint32_t options_ = kDefaultAdapter;
};

// The presentation parameters of a screen (Windowed unless the settings say fullscreen).
D3DPRESENT_PARAMETERS presentationParametersFor(const ScreenSettings& settings);

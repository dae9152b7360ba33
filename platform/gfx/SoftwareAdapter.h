#pragma once
// The one display adapter the software runtime offers, and the control a test (or the
// platform start-up) has over it: capabilities, format support, failures of device
// creation, forced device states, and the presentation targets of windows.
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "framework/d3d9/D3D9Types.h"
#include "platform/gfx/PresentationTarget.h"

namespace gfx {

// What TestCooperativeLevel / CheckDeviceState report, and how Present and Reset behave.
enum class DeviceCondition {
    Ok,
    Lost,                 // cannot be reset yet
    NotReset,             // lost, ready for Reset
    Removed,              // 9Ex: adapter gone
    Hung,                 // 9Ex: device hung
    DriverInternalError,  // the driver failed
    Occluded,             // 9Ex: window hidden; presents are skipped
};

class SoftwareDevice;

class SoftwareAdapter {
public:
    SoftwareAdapter();
    SoftwareAdapter(const SoftwareAdapter&) = delete;
    SoftwareAdapter& operator=(const SoftwareAdapter&) = delete;

    // The adapter behind the "d3d9.dll" exports.
    static const std::shared_ptr<SoftwareAdapter>& processAdapter();

    // Back to the capabilities and formats of a fresh adapter; targets and failures cleared.
    void restoreDefaults();

    D3DCAPS9 caps() const;
    void setCaps(const D3DCAPS9& caps);
    void setVertexShaderVersion(DWORD version);
    void setStretchRectFilterCaps(DWORD caps);
    void setMaxTextureSize(DWORD width, DWORD height);

    // Uses (FormatUse mask) a format is offered for; limited to what the device can store.
    uint32_t formatUses(D3DFORMAT format) const;
    void setFormatUses(D3DFORMAT format, uint32_t uses);
    D3DFORMAT desktopFormat() const { return D3DFMT_X8R8G8B8; }
    void desktopSize(UINT* width, UINT* height) const;

    // CreateDevice(Ex) with exactly these behaviour flags fails with the code.
    void failDeviceCreation(DWORD behaviorFlags, HRESULT code);
    HRESULT creationFailure(DWORD behaviorFlags) const;

    // Puts every live device of this adapter into the condition.
    void forceCondition(DeviceCondition condition);

    // The picture of a device presenting to the window goes to its target; a window
    // without one falls back to the default target (if any).
    void setPresentationTarget(HWND window, std::shared_ptr<PresentationTarget> target);
    void setDefaultPresentationTarget(std::shared_ptr<PresentationTarget> target);
    std::shared_ptr<PresentationTarget> presentationTarget(HWND window) const;

    // Device registry, for forced conditions.
    void addDevice(SoftwareDevice* device);
    void removeDevice(SoftwareDevice* device);

private:
    mutable std::mutex mutex_;
    D3DCAPS9 caps_{};
    std::map<DWORD, uint32_t> formatUses_;
    std::map<DWORD, HRESULT> creationFailures_;
    std::map<HWND, std::shared_ptr<PresentationTarget>> targets_;
    std::shared_ptr<PresentationTarget> defaultTarget_;
    std::set<SoftwareDevice*> devices_;
};

// The capabilities of a fresh adapter.
D3DCAPS9 defaultSoftwareCaps();

}  // namespace gfx

#include "platform/gfx/SoftwareAdapter.h"

#include "platform/gfx/SoftwareDevice.h"
#include "platform/gfx/SoftwareFormats.h"

namespace gfx {

D3DCAPS9 defaultSoftwareCaps() {
    D3DCAPS9 c{};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.AdapterOrdinal = 0;
    c.Caps2 = D3DCAPS2_DYNAMICTEXTURES;
    c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    c.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    c.ZCmpCaps = c.AlphaCmpCaps = 0xFF;
    c.SrcBlendCaps = c.DestBlendCaps = 0x3FF;
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA;
    c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                          D3DPTFILTERCAPS_MAGFLINEAR | D3DPTFILTERCAPS_MIPFPOINT | D3DPTFILTERCAPS_MIPFLINEAR;
    c.TextureAddressCaps =
        D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR | D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER;
    c.MaxTextureWidth = 8192;
    c.MaxTextureHeight = 8192;
    c.MaxTextureRepeat = 8192;
    c.MaxTextureAspectRatio = 8192;
    c.MaxAnisotropy = 1;
    c.MaxVertexW = 1e10f;
    c.GuardBandLeft = -32768.0f;
    c.GuardBandTop = -32768.0f;
    c.GuardBandRight = 32767.0f;
    c.GuardBandBottom = 32767.0f;
    c.FVFCaps = 8;  // texture coordinate sets
    c.TextureOpCaps = 0x03FFFFFF;
    c.MaxTextureBlendStages = D3D_MAX_TEXTURE_STAGES;
    c.MaxSimultaneousTextures = D3D_MAX_TEXTURE_STAGES;
    c.MaxActiveLights = 8;
    c.MaxPointSize = 1.0f;
    c.MaxPrimitiveCount = 0xFFFFF;
    c.MaxVertexIndex = 0xFFFFFF;
    c.MaxStreams = 1;
    c.MaxStreamStride = 255;
    c.VertexShaderVersion = D3DVS_VERSION(2, 0);
    c.PixelShaderVersion = D3DPS_VERSION(2, 0);
    c.NumberOfAdaptersInGroup = 1;
    c.NumSimultaneousRTs = 1;
    c.StretchRectFilterCaps =
        D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    return c;
}

SoftwareAdapter::SoftwareAdapter() {
    caps_ = defaultSoftwareCaps();
}

const std::shared_ptr<SoftwareAdapter>& SoftwareAdapter::processAdapter() {
    static const std::shared_ptr<SoftwareAdapter> adapter = std::make_shared<SoftwareAdapter>();
    return adapter;
}

void SoftwareAdapter::restoreDefaults() {
    std::lock_guard<std::mutex> hold(mutex_);
    caps_ = defaultSoftwareCaps();
    formatUses_.clear();
    creationFailures_.clear();
    targets_.clear();
    defaultTarget_.reset();
}

D3DCAPS9 SoftwareAdapter::caps() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return caps_;
}

void SoftwareAdapter::setCaps(const D3DCAPS9& caps) {
    std::lock_guard<std::mutex> hold(mutex_);
    caps_ = caps;
}

void SoftwareAdapter::setVertexShaderVersion(DWORD version) {
    std::lock_guard<std::mutex> hold(mutex_);
    caps_.VertexShaderVersion = version;
}

void SoftwareAdapter::setStretchRectFilterCaps(DWORD caps) {
    std::lock_guard<std::mutex> hold(mutex_);
    caps_.StretchRectFilterCaps = caps;
}

void SoftwareAdapter::setMaxTextureSize(DWORD width, DWORD height) {
    std::lock_guard<std::mutex> hold(mutex_);
    caps_.MaxTextureWidth = width;
    caps_.MaxTextureHeight = height;
}

uint32_t SoftwareAdapter::formatUses(D3DFORMAT format) const {
    uint32_t intrinsic = formatInfo(format).uses;
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = formatUses_.find(format);
    return it == formatUses_.end() ? intrinsic : (it->second & intrinsic);
}

void SoftwareAdapter::setFormatUses(D3DFORMAT format, uint32_t uses) {
    std::lock_guard<std::mutex> hold(mutex_);
    formatUses_[format] = uses;
}

// One full-HD desktop: the size only answers display-mode queries; windows are sized by
// their own presentation parameters.
void SoftwareAdapter::desktopSize(UINT* width, UINT* height) const {
    *width = 1920;
    *height = 1080;
}

void SoftwareAdapter::failDeviceCreation(DWORD behaviorFlags, HRESULT code) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (SUCCEEDED(code))
        creationFailures_.erase(behaviorFlags);
    else
        creationFailures_[behaviorFlags] = code;
}

HRESULT SoftwareAdapter::creationFailure(DWORD behaviorFlags) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = creationFailures_.find(behaviorFlags);
    return it == creationFailures_.end() ? S_OK : it->second;
}

void SoftwareAdapter::forceCondition(DeviceCondition condition) {
    std::lock_guard<std::mutex> hold(mutex_);
    for (SoftwareDevice* device : devices_) device->forceCondition(condition);
}

void SoftwareAdapter::setPresentationTarget(HWND window, std::shared_ptr<PresentationTarget> target) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (target)
        targets_[window] = std::move(target);
    else
        targets_.erase(window);
}

void SoftwareAdapter::setDefaultPresentationTarget(std::shared_ptr<PresentationTarget> target) {
    std::lock_guard<std::mutex> hold(mutex_);
    defaultTarget_ = std::move(target);
}

std::shared_ptr<PresentationTarget> SoftwareAdapter::presentationTarget(HWND window) const {
    std::lock_guard<std::mutex> hold(mutex_);
    auto it = targets_.find(window);
    return it == targets_.end() ? defaultTarget_ : it->second;
}

void SoftwareAdapter::addDevice(SoftwareDevice* device) {
    std::lock_guard<std::mutex> hold(mutex_);
    devices_.insert(device);
}

void SoftwareAdapter::removeDevice(SoftwareDevice* device) {
    std::lock_guard<std::mutex> hold(mutex_);
    devices_.erase(device);
}

}  // namespace gfx

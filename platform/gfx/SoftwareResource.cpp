#include "platform/gfx/SoftwareResource.h"

#include <cstring>

#include "platform/gfx/SoftwareDevice.h"

namespace gfx {

// One resource may not hold more than this (larger requests fail cleanly).
constexpr uint64_t kMaxResourceBytes = uint64_t(1) << 29;

AlignedBytes allocateBytes(uint64_t size) {
    if (size == 0 || size > kMaxResourceBytes) return nullptr;
    auto* p = new (std::align_val_t(64), std::nothrow) uint8_t[size];
    if (!p) return nullptr;
    std::memset(p, 0, size);
    return AlignedBytes(p);
}

DeviceLink::DeviceLink(SoftwareDevice* device, D3DPOOL pool, bool strong)
    : device_(device), pool_(pool), strong_(strong) {
    if (device_ && strong_) {
        device_->retainInternal();
        device_->resourceCreated(pool_);
    }
}

DeviceLink::~DeviceLink() {
    if (device_ && strong_) {
        SoftwareDevice* device = device_;
        device->resourceDestroyed(pool_);
        device->releaseInternal();
    }
}

HRESULT DeviceLink::getDevice(IDirect3DDevice9** out) const {
    if (!out) return D3DERR_INVALIDCALL;
    *out = nullptr;
    if (!device_) return D3DERR_INVALIDCALL;
    device_->AddRef();
    *out = device_;
    return D3D_OK;
}

}  // namespace gfx
